#include "usb/libusb/LibusbHotplug.h"

#include <QPointer>

#include "support/SerialQueue.h"

namespace usb::libusb {

// ---- MainThreadPoster -------------------------------------------------------------------------

MainThreadPoster::MainThreadPoster(QObject* target) : target_(target) {
  pm::SerialQueue::main();  // made here, on the main thread, before another thread posts to it
}

bool MainThreadPoster::post(std::function<void()> block) {
  const std::lock_guard lock(mutex_);
  if (target_ == nullptr) return false;
  // Through the main queue, whose hand-over ThreadSanitizer can follow; a block whose target has
  // gone by the time it runs is dropped, as a posted Qt event would be.
  pm::SerialQueue::main().async([target = QPointer<QObject>(target_), block = std::move(block)] {
    if (target) block();
  });
  return true;
}

void MainThreadPoster::disconnect() {
  const std::lock_guard lock(mutex_);
  target_ = nullptr;
}

// ---- HotplugForwarder -------------------------------------------------------------------------

void HotplugForwarder::setSink(Sink sink) {
  const std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

int LIBUSB_CALL HotplugForwarder::callback(libusb_context* /*context*/, libusb_device* device,
                                           libusb_hotplug_event event, void* userData) {
  auto* forwarder = static_cast<HotplugForwarder*>(userData);
  const std::lock_guard lock(forwarder->mutex_);
  if (forwarder->sink_) forwarder->sink_(device, event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
  return 0;  // stay registered
}

// ---- HotplugRegistration ----------------------------------------------------------------------

std::unique_ptr<HotplugRegistration> HotplugRegistration::create(std::shared_ptr<LibusbContext> context,
                                                                 HotplugForwarder* forwarder, int* error) {
  libusb_hotplug_callback_handle handle = 0;
  const int result = libusb_hotplug_register_callback(
      context->get(),
      static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                        LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
      LIBUSB_HOTPLUG_ENUMERATE, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
      &HotplugForwarder::callback, forwarder, &handle);
  if (error != nullptr) *error = result;
  if (result != LIBUSB_SUCCESS) return nullptr;
  return std::unique_ptr<HotplugRegistration>(new HotplugRegistration(std::move(context), handle));
}

HotplugRegistration::~HotplugRegistration() { libusb_hotplug_deregister_callback(context_->get(), handle_); }

}  // namespace usb::libusb
