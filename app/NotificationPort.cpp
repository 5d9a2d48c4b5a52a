#include "app/NotificationPort.h"

#include <vector>

#include "app/DemoMode.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

namespace pm {

namespace {
// The shared notification port is process-wide by design (one registry per process).
std::shared_ptr<usb::UsbRegistry>& port() {
  static std::shared_ptr<usb::UsbRegistry> instance;
  return instance;
}
std::vector<std::shared_ptr<usb::UsbRegistry>>& parked() {
  static std::vector<std::shared_ptr<usb::UsbRegistry>> instance;
  return instance;
}
}  // namespace

NotificationPort::Factory NotificationPort::defaultFactory() {
  return [spec = DemoMode::simulationSpec()] { return DemoMode::makeRegistry(spec); };
}

usb::UsbRegistry* NotificationPort::shared(const Factory& factory) {
  Q_ASSERT(isMainQueue());
  if (!port()) {
    if (factory) port() = factory();
    if (!port()) {
      systemLog(QStringLiteral("failed to add a runloop source for device notifications\n"));
      return nullptr;
    }
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
  parked().push_back(std::move(port()));
  port().reset();
}

void NotificationPort::reclaim() {
  Q_ASSERT(isMainQueue());
  parked().clear();
}

}  // namespace pm
