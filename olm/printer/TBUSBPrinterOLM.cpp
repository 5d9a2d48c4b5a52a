// Life cycle, USB IDs and model of the vendor printer class, and its creation.
#include <QDebug>

#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/UpdateJournal.h"
#include "olm/update/UpdateReturnWatch.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

TBUSBPrinterOLM::TBUSBPrinterOLM() = default;
TBUSBPrinterOLM::~TBUSBPrinterOLM() = default;

QSet<uint16_t> TBUSBPrinterOLM::supportedVendorIDs() { return pm::knownVendorIds(); }

QSet<uint16_t> TBUSBPrinterOLM::supportedProductIDs() { return pm::admittedProductIds(); }

std::optional<pm::PrinterModel> TBUSBPrinterOLM::printerModel() const {
  return pm::modelForProductId(productID());
}

// ---- Creation ----------------------------------------------------------------------------------

namespace {
QString describe(const QVariantMap& map) {
  QString text;
  QDebug(&text).nospace() << map;
  return text;
}
}  // namespace

// It takes over the device information kept for its device key (so a printer restarted by the
// update finds its stage); its update object then recognises and probes it.
bool TBUSBPrinterOLM::initWithInterfaceInterface(std::shared_ptr<usb::UsbInterface> interface,
                                                 const usb::ServiceHandle& service) {
  Q_ASSERT(pm::isMainQueue());
  if (!TBUSBPrinter::initWithInterfaceInterface(std::move(interface), service)) return false;
  const QString line(64, QLatin1Char('+'));
  for (int i = 0; i < 3; ++i) pm::systemLog(line);
  const QString key = keyUSBdevice();
  pm::systemLog(QStringLiteral("initing device for key %1").arg(key));

  const QVariantMap record = deviceInfoForKey(key)->snapshot();
  pm::systemLog(QStringLiteral("infoDict here is %1").arg(describe(record)));
  deviceInfoDict()->merge(record);
  auto printer = self();
  pm::performAsyncOnMainQueue([printer, record] {
    const QString manufacturer = record.value(QStringLiteral("manufacturer")).toString();
    const QString model = record.value(QStringLiteral("model")).toString();
    // The record only fills what the printer does not know yet.
    if (printer->manufacturer().isEmpty() && !manufacturer.isEmpty()) printer->setManufacturer(manufacturer);
    if (printer->model().isEmpty() && !model.isEmpty()) printer->setModel(model);
  });
  pm::UpdateReturnWatch::arrived(key);
  // The printer's identity (device ID, USB serial string) is read on its queue; the update's
  // recognition and the first probe come after it there.
  performInlineOnCommandQueue([printer] {
    printer->update().recogniseUpdateAtAttach();
    printer->update().probeAtInit();
  });
  return true;
}

// ---- Identity -------------------------------------------------------------------------------------

QString TBUSBPrinterOLM::identitySerialNumber() const {
  QString serial;
  decodeDeviceID(raw1284DeviceID(), [&serial](const QString&, const QString&, const QString& decoded,
                                              const QString&) { serial = decoded; });
  if (serial.trimmed().isEmpty()) serial = serialNumberUSB();
  return serial.trimmed();
}

QString TBUSBPrinterOLM::printerName() const {
  pm::UpdateRecord named;
  named.model = printerModel() ? pm::modelName(*printerModel()) : model();
  named.serialNumber = identitySerialNumber();
  return named.printerName();
}
