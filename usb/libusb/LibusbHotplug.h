#pragma once
// Hot-plug callbacks and their way to the main thread.
//
// libusb calls hot-plug callbacks on whichever thread handles events: the event thread, a
// printer's command queue inside a transfer, or the main thread while a callback with
// LIBUSB_HOTPLUG_ENUMERATE is registered. HotplugForwarder takes them on any of these and hands
// them to a sink, which only copies the device reference and posts to the main thread
// (MainThreadPoster). Both are safe from any thread.

#include <functional>
#include <memory>
#include <mutex>

#include <QObject>

#include "usb/libusb/LibusbHandles.h"

namespace usb::libusb {

// Posts blocks to the main thread, for a target object living there, until disconnected. Made on
// the main thread; post() and disconnect() from any thread.
class MainThreadPoster {
 public:
  explicit MainThreadPoster(QObject* target);
  // Queues `block` on the target's thread; false (and dropped) once disconnected.
  bool post(std::function<void()> block);
  // After this returns nothing more is posted. Blocks already posted stay with the target, which
  // drops them when it is destroyed.
  void disconnect();

 private:
  std::mutex mutex_;
  QObject* target_;
};

// The user data of the hot-plug callback. It must live until libusb_exit (LibusbContext keeps it),
// because libusb may still be inside the callback on another thread when deregistration returns.
class HotplugForwarder {
 public:
  using Sink = std::function<void(libusb_device* device, bool arrived)>;
  void setSink(Sink sink);  // an empty sink drops events from then on; any thread

  static int LIBUSB_CALL callback(libusb_context* context, libusb_device* device, libusb_hotplug_event event,
                                  void* userData);

 private:
  std::mutex mutex_;
  Sink sink_;
};

// One hot-plug callback registration for every device, with LIBUSB_HOTPLUG_ENUMERATE: devices
// already present are announced during create(). Deregisters when destroyed. Main thread.
class HotplugRegistration {
 public:
  // Null, with *error set to the libusb error, when libusb refuses the registration.
  static std::unique_ptr<HotplugRegistration> create(std::shared_ptr<LibusbContext> context,
                                                     HotplugForwarder* forwarder, int* error);
  ~HotplugRegistration();
  HotplugRegistration(const HotplugRegistration&) = delete;
  HotplugRegistration& operator=(const HotplugRegistration&) = delete;

 private:
  HotplugRegistration(std::shared_ptr<LibusbContext> context, libusb_hotplug_callback_handle handle)
      : context_(std::move(context)), handle_(handle) {}

  const std::shared_ptr<LibusbContext> context_;
  const libusb_hotplug_callback_handle handle_;
};

}  // namespace usb::libusb
