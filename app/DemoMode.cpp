#include "app/DemoMode.h"

#include <vector>

#include <QCoreApplication>
#include <QDir>

#include "olm/model/ModelTraits.h"
#include "olm/update/StateLocation.h"
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
// Where the demo printers keep their state between runs, apart from every real record;
// PRINTER_MAINTENANCE_SIMULATE_RESET=1 starts them afresh from their entries.
QString demoPrintersFolder() {
  // The state directory is demo mode's own here (pm::stateDirectory): its printers/ folder.
  const QString folder = stateDirectory() + QStringLiteral("/printers");
  if (qEnvironmentVariableIntValue("PRINTER_MAINTENANCE_SIMULATE_RESET") != 0) {
    QDir(folder).removeRecursively();
    systemLog(QStringLiteral("demo mode: the virtual printers start afresh"));
  }
  return folder;
}

}  // namespace

QString DemoMode::simulationSpec() {
  return QString::fromLocal8Bit(qgetenv("PRINTER_MAINTENANCE_SIMULATE")).trimmed();
}

std::shared_ptr<usb::UsbRegistry> DemoMode::makeRegistry(const QString& spec, Outcome* outcome) {
  Q_ASSERT(isMainQueue());
  if (spec.isEmpty()) return std::shared_ptr<usb::UsbRegistry>(usb::makeLibusbRegistry());

  auto demo = std::make_shared<DemoBus>();
  demo->bus = std::make_shared<usb::virt::VirtualUsbBus>();
  // The demo printers are found as real ones would be: by the IDs in force, if admitted.
  const auto admit = [](const QString& name) {
    const std::optional<PrinterModel> model = printerModelNamed(name);
    const ModelIds ids = model ? effectiveIds(*model) : ModelIds{};
    if (!ids.admitted)
      systemLog(
          QStringLiteral("demo mode: %1 is not admitted; its virtual printer is not attached").arg(name));
    return sim::DemoAdmission{ids.admitted, ids.vendorId, ids.productId};
  };
  sim::DemoAttached attached = sim::attachDemoPrinters(*demo->bus, spec, admit, demoPrintersFolder());
  demo->printers = std::move(attached.printers);
  if (outcome) *outcome = Outcome{attached.devices, attached.refused};
  systemLog(QStringLiteral("demo mode: %1 virtual printer(s) from PRINTER_MAINTENANCE_SIMULATE=%2")
                .arg(demo->printers.size())
                .arg(spec));
  // The registry handed out keeps the printers alive with the bus.
  return std::shared_ptr<usb::UsbRegistry>(demo, demo->bus.get());
}

QString DemoMode::refusalText(const QStringList& refused) {
  if (refused.isEmpty()) return {};
  QStringList models = refused;
  models.removeDuplicates();
  return QCoreApplication::translate(
             "PrinterMaintenance",
             "Demo mode: no virtual %1 attached; the model is not admitted (models.conf, see README).")
      .arg(models.join(QStringLiteral(", ")));
}

}  // namespace pm
