// Life cycle, USB IDs and model of the vendor printer class, and its creation.
#include <QDebug>
#include <QFile>

#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/protocol/Framing.h"
#include "olm/update/FirmwareArchive.h"
#include "olm/update/UpdateJournal.h"
#include "olm/update/UpdateReturnWatch.h"
#include "support/MainQueue.h"
#include "support/PrinterNaming.h"
#include "support/Resources.h"
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

// A loader may report a placeholder ("0", all zeros) instead of the printer's serial number: that
// names no printer, so it counts as none, and the update record is then matched by model and port.
QString TBUSBPrinterOLM::identitySerialNumber() const {
  const auto named = [](const QString& text) {
    const QString serial = text.trimmed();
    return serial.isEmpty() || serial.count(QLatin1Char('0')) == serial.size() ? QString() : serial;
  };
  QString serial;
  decodeDeviceID(raw1284DeviceID(), [&serial](const QString&, const QString&, const QString& decoded,
                                              const QString&) { serial = decoded; });
  serial = named(serial);
  if (serial.isEmpty()) serial = named(serialNumberUSB());
  return serial;
}

QString TBUSBPrinterOLM::printerName() const {
  return pm::PrinterNaming::name(printerModel() ? pm::modelName(*printerModel()) : model(),
                                 identitySerialNumber());
}

// ---- Exchanges of the parts ------------------------------------------------------------------------

std::shared_ptr<TBUSBPrinterOLM> TBUSBPrinterOLM::self() {
  return std::static_pointer_cast<TBUSBPrinterOLM>(shared_from_this());
}

// The reply block runs inline on the queue right after the read, so the value is in the
// device information before the next exchange on the queue decides anything from it.
void TBUSBPrinterOLM::exchangeOnQueue(pm::framing::Command code, const QByteArray& payload,
                                      ReplyBlock reply) {
  Q_ASSERT(isPrinterCommandQueue());
  sendPrinterCommand([this, code, payload] { sendPrinterCommand(code, payload); }, printerCommandQueue(),
                     std::move(reply));
}

std::optional<QString> TBUSBPrinterOLM::replyText(const QByteArray& reply) {
  if (reply.isEmpty()) return std::nullopt;
  return pm::framing::replyText(reply);
}

double TBUSBPrinterOLM::installedFirmwareVersion() const {
  return pm::firmwareVersionNumber(firmwareVersion());
}

// ---- Picture -------------------------------------------------------------------------------------

// PNG files are loaded (rendered once from the SVG drawings beside them): the Qt SVG module is
// not linked.
QImage TBUSBPrinterOLM::image() const {
  const std::lock_guard guard(imageLock_);
  if (!imageCache_) {
    QImage picture;
    if (const std::optional<pm::PrinterModel> model = printerModel()) {
      const QString base = pm::resourceDirectory() + QStringLiteral("/pictures/") +
                           QLatin1String(pm::modelTraits(*model).picture);
      if (!picture.load(base + QStringLiteral(".png"))) picture.load(base + QStringLiteral(".svg"));
    }
    imageCache_ = picture;
  }
  return *imageCache_;
}

// ---- Attach-time gathering -----------------------------------------------------------------------

void TBUSBPrinterOLM::getDeviceCustomInfo() {
  // Another process is changing the printer: even a read could answer in the middle of its work.
  if (update_.heldElsewhere()) {
    noteAttachReadsDone();
    return;
  }
  auto printer = self();
  getPrinterStatus([printer](const StatusCode& code) {
    Q_ASSERT(pm::isMainQueue());
    // A printer that gave no status is not asked for the rest: each read would wait its whole
    // time-out and hold its queue for a minute. Refresh asks again.
    if (!code || *code == kUpdateModeCode) {  // or the update's recognition takes over
      printer->noteAttachReadsDone();
      return;
    }
    printer->openInterface([printer](IOReturn result) {
      if (result != kIOReturnSuccess) {
        printer->noteAttachReadsDone();
        return;
      }
      // Each read issues its exchange at once on this queue, so the printer sees the commands in
      // exactly this order.
      printer->properties().getPrinterFirmwareVersion();
      printer->properties().getPrinterLifetimeCounter();
      printer->colorTables().getPrinterColorTableVersion(nullptr);
      printer->colorTables().getPrinterColorTableChecksum(nullptr);
      printer->properties().updatePrinterSerialNumber();
      printer->properties().getUSB_ISerial();
      printer->closeInterface([printer](IOReturn) { printer->noteAttachReadsDone(); });
    });
  });
}

void TBUSBPrinterOLM::noteAttachReadsDone() {
  attachReadsDone_ = true;
  announceChange(QStringLiteral("attachReadsDone"));
}
