#include "app/DemoMode.h"

#include <vector>

#include "sim/DemoPrinters.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"
#include "usb/libusb/LibusbRegistry.h"
#include "usb/virtual/VirtualUsbBus.h"

namespace pm {

namespace {
// The bus together with the virtual printers that answer on it.
struct DemoBus {
  std::shared_ptr<usb::virt::VirtualUsbBus> bus;
  std::vector<std::shared_ptr<sim::VirtualPrinter>> printers;
};
}  // namespace

QString DemoMode::simulationSpec() {
  return QString::fromLocal8Bit(qgetenv("PRINTER_MAINTENANCE_SIMULATE")).trimmed();
}

std::shared_ptr<usb::UsbRegistry> DemoMode::makeRegistry(const QString& spec) {
  Q_ASSERT(isMainQueue());
  if (spec.isEmpty()) return std::shared_ptr<usb::UsbRegistry>(usb::makeLibusbRegistry());

  auto demo = std::make_shared<DemoBus>();
  demo->bus = std::make_shared<usb::virt::VirtualUsbBus>();
  demo->printers = sim::attachDemoPrinters(*demo->bus, spec);
  systemLog(QStringLiteral("demo mode: %1 virtual printer(s) from PRINTER_MAINTENANCE_SIMULATE=%2")
                .arg(demo->printers.size())
                .arg(spec));
  // The registry handed out keeps the printers alive with the bus.
  return std::shared_ptr<usb::UsbRegistry>(demo, demo->bus.get());
}

}  // namespace pm
