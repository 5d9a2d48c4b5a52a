// LibusbRegistry: start, stop, and the questions about services that any thread may ask.

#include "usb/libusb/LibusbRegistry.h"

#include <QFileInfo>
#include <QThread>

#include "support/BlockingCalls.h"
#include "support/SystemLog.h"
#include "usb/libusb/LibusbEventThread.h"
#include "usb/libusb/LibusbHotplug.h"
#include "usb/libusb/LibusbInterest.h"
#include "usb/libusb/LibusbInterface.h"
#include "usb/libusb/LibusbService.h"

namespace usb {

std::unique_ptr<UsbRegistry> makeLibusbRegistry() {
  int error = 0;
  auto context = libusb::LibusbContext::create(&error);
  if (!context) {
    pm::systemLogf("USB: libusb could not start (%s); no printers will be found", libusb_error_name(error));
  }
  return std::make_unique<libusb::LibusbRegistry>(std::move(context));
}

}  // namespace usb

namespace usb::libusb {

namespace {

template <typename T>
void setResult(T* out, T value) {
  if (out != nullptr) *out = value;
}

// How often a device without an active configuration is looked at again.
constexpr int kConfigurationWatchMs = 1000;

}  // namespace

LibusbRegistry::LibusbRegistry(std::shared_ptr<LibusbContext> context)
    : context_(std::move(context)),
      interests_(std::make_shared<LibusbInterestTable>()),
      mainThread_(std::make_unique<QObject>()),
      poster_(std::make_shared<MainThreadPoster>(mainThread_.get())) {
  configurationWatch_ = new QTimer(mainThread_.get());
  configurationWatch_->setInterval(kConfigurationWatchMs);
  QObject::connect(configurationWatch_, &QTimer::timeout, [this] { lookAgainAtUnconfigured(); });
  if (!context_) return;
  if (!QFileInfo::exists(QStringLiteral("/dev/bus/usb"))) {
    pm::systemLog(QStringLiteral("USB: /dev/bus/usb does not exist; no printers can be found"));
    loggedNoDevices_ = true;  // that says it already
  }
  startHotplug();
}

void LibusbRegistry::startHotplug() {
  if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0) {
    pm::systemLog(QStringLiteral(
        "USB: libusb cannot report hot-plug events here; printers attached later will not be found"));
    return;
  }
  forwarder_ = std::make_shared<HotplugForwarder>();
  context_->keepAlive(forwarder_);
  forwarder_->setSink([this](libusb_device* device, bool arrived) { forwardHotplug(device, arrived); });
  int error = 0;
  hotplug_ = HotplugRegistration::create(context_, forwarder_.get(), &error);
  if (!hotplug_) {
    forwarder_->setSink({});
    pm::systemLogf("USB: hot-plug registration failed (%s); printers attached later will not be found",
                   libusb_error_name(error));
    return;
  }
  eventThread_ = std::make_unique<LibusbEventThread>(context_);
}

LibusbRegistry::~LibusbRegistry() {
  Q_ASSERT(onMainThread());
  // Nothing new reaches the main thread after these two; libusb may still be inside a callback.
  if (forwarder_) forwarder_->setSink({});
  poster_->disconnect();
  hotplug_.reset();
  eventThread_.reset();
  mainThread_.reset();  // drops the events still posted, with the device references they hold
  devices_.clear();
}

bool LibusbRegistry::onMainThread() const {
  return mainThread_ && QThread::currentThread() == mainThread_->thread();
}

// ---- Questions about services (any thread) ----------------------------------------------------

std::shared_ptr<UsbInterface> LibusbRegistry::createInterface(const ServiceHandle& service,
                                                              IOReturn* result) {
  const auto token = LibusbServiceToken::of(service);
  if (!token) {
    setResult(result, kIOReturnBadArgument);
    return nullptr;
  }
  if (!token->isAlive()) {
    setResult(result, kIOReturnNoDevice);
    return nullptr;
  }
  setResult(result, kIOReturnSuccess);
  return std::make_shared<LibusbInterface>(token);
}

std::unique_ptr<InterestRegistration> LibusbRegistry::addInterestNotification(const ServiceHandle& service,
                                                                              InterestCallback callback,
                                                                              IOReturn* result) {
  const auto token = LibusbServiceToken::of(service);
  if (!token) {
    setResult(result, kIOReturnBadArgument);
    return nullptr;
  }
  if (!token->isAlive()) {
    setResult(result, kIOReturnNoDevice);
    return nullptr;
  }
  setResult(result, kIOReturnSuccess);
  return interests_->add(service, std::move(callback));
}

bool LibusbRegistry::isServiceAlive(const ServiceHandle& service) {
  const auto token = LibusbServiceToken::of(service);
  return token && token->isAlive();
}

}  // namespace usb::libusb
