#include "app/NotificationPort.h"

#include <vector>

#include "support/MainQueue.h"
#include "support/SystemLog.h"

namespace pm {

namespace {
// The shared notification port is process-wide by design (one registry per process).
NotificationPort::Factory& factory() {
  static NotificationPort::Factory instance;
  return instance;
}
std::shared_ptr<usb::UsbRegistry>& port() {
  static std::shared_ptr<usb::UsbRegistry> instance;
  return instance;
}
std::vector<std::shared_ptr<usb::UsbRegistry>>& parked() {
  static std::vector<std::shared_ptr<usb::UsbRegistry>> instance;
  return instance;
}
}  // namespace

void NotificationPort::setFactory(Factory newFactory) {
  Q_ASSERT(isMainQueue());
  factory() = std::move(newFactory);
}

usb::UsbRegistry* NotificationPort::shared() {
  Q_ASSERT(isMainQueue());
  if (!port()) {
    if (factory()) {
      port() = factory()();
    } else if (usb::UsbRegistry* installed = usb::platformRegistry()) {
      // Someone installed a registry directly: use it, without owning it.
      port() = std::shared_ptr<usb::UsbRegistry>(installed, [](usb::UsbRegistry*) {});
    }
    if (!port()) {
      systemLog(QStringLiteral("failed to add a runloop source for device notifications\n"));
      return nullptr;
    }
    usb::setPlatformRegistry(port().get());
  }
  return port().get();
}

bool NotificationPort::exists() {
  Q_ASSERT(isMainQueue());
  return port() != nullptr;
}

void NotificationPort::destroy() {
  Q_ASSERT(isMainQueue());
  if (!port()) return;
  port()->addInterfaceNotifications(nullptr, nullptr);
  if (usb::platformRegistry() == port().get()) usb::setPlatformRegistry(nullptr);
  parked().push_back(std::move(port()));
  port().reset();
}

void NotificationPort::reclaim() {
  Q_ASSERT(isMainQueue());
  parked().clear();
}

}  // namespace pm
