// TBUSBPrinter: life cycle, what it learns of its identity, observable properties, device
// information and its process-wide registry.

#include "usb/TBUSBPrinter.h"

#include <QCoreApplication>
#include <QHash>
#include <QPointer>
#include <QStringList>

#include "support/MainQueue.h"
#include "support/SystemLog.h"
#include "usb/TBUSBPrinterPrivate.h"
#include "usb/UsbTextDecoding.h"

TBUSBPrinter::TBUSBPrinter()
    : d_(std::make_unique<Private>(*this)), deviceInfo_(std::make_shared<pm::DeviceInfo>()) {
  Q_ASSERT(QCoreApplication::instance() == nullptr || pm::isMainQueue());
  pm::SerialQueue::main();  // made here, on the main thread, before a queue posts to it
}

// Interest registrations end with the access part, on the main thread where the object dies; the
// queue's thread quits on its own after its last block, without being waited for.
TBUSBPrinter::~TBUSBPrinter() { Q_ASSERT(QCoreApplication::instance() == nullptr || pm::isMainQueue()); }

void TBUSBPrinter::setRegistry(usb::UsbRegistry* registry) { d_->access.setRegistry(registry); }

void TBUSBPrinter::destroyOnMainThread(TBUSBPrinter* printer) {
  if (QCoreApplication::instance() == nullptr || pm::isMainQueue()) {
    delete printer;
  } else {
    pm::SerialQueue::main().async([printer] { delete printer; });
  }
}

// ---- Initialisation ----------------------------------------------------------------------------

bool TBUSBPrinter::initWithInterfaceInterface(std::shared_ptr<usb::UsbInterface> interface,
                                              const usb::ServiceHandle& service) {
  Q_ASSERT(pm::isMainQueue());
  // The IDs the device key is made of were read at enumeration (no transfer), so the vendor
  // class can look up its record at once; everything that talks to the device runs on the queue,
  // which exists before the first transfer: a printer that answers nothing, or slowly, must never
  // hold the main thread.
  d_->identity.noteIdentifiers(interface.get());
  createCommandQueue();
  setInterfaceInterface(std::move(interface));
  performInlineOnCommandQueue([this, service] { readDeviceID(service); });
  return true;
}

void TBUSBPrinter::setInterfaceInterface(std::shared_ptr<usb::UsbInterface> interface) {
  performInlineOnCommandQueue([this, interface = std::move(interface)] {
    if (!d_->access.replaceInterface(interface) || !interface) return;
    d_->identity.noteIdentifiers(interface.get());
    readUsbStrings();
  });
}

void TBUSBPrinter::readUsbStrings() {
  using usb::IdentityReader;
  struct Kind {
    IdentityReader::UsbString which;
    const char* gotLine;
    void (TBUSBPrinter::*store)(const QString&);
  };
  static constexpr Kind kKinds[] = {
      {IdentityReader::UsbString::Product, "got USB product:%s", &TBUSBPrinter::setProductUSB},
      {IdentityReader::UsbString::SerialNumber, "got USB Serial Number:%s",
       &TBUSBPrinter::setSerialNumberUSB},
      {IdentityReader::UsbString::Vendor, "got USB vendor:%s", &TBUSBPrinter::setVendorUSB}};
  for (const Kind& kind : kKinds) {
    const std::optional<QString> text = d_->identity.usbString(kind.which);
    if (!text) continue;
    performSyncOnMainQueue([&] { (this->*kind.store)(*text); });
    pm::systemLogf(kind.gotLine, tbusb::objectText(*text).constData());
  }
}

void TBUSBPrinter::readDeviceID(const usb::ServiceHandle& service) {
  const std::optional<QString> deviceId = d_->identity.read1284DeviceID();
  if (!deviceId) return markIdentified();
  performSyncOnMainQueue([&] { setRaw1284DeviceID(*deviceId); });
  decodeDeviceID(*deviceId, [this, &service](const QString& manufacturer, const QString& model,
                                             const QString& serialNumber, const QString&) {
    deviceInfo_->setValue(QStringLiteral("manufacturer"), manufacturer);
    deviceInfo_->setValue(QStringLiteral("model"), model);
    performSyncOnMainQueue([&] {
      // A value restored from saved device information is kept.
      if (this->manufacturer().isEmpty()) setManufacturer(manufacturer);
      if (this->model().isEmpty()) setModel(model);
    });
    const QString serial = serialNumber.isNull() ? serialNumberUSB() : serialNumber;
    nameCommandQueue(manufacturer, model, serial);
    // Listed before its first open, which may wait for another program for a long time.
    markIdentified();
    d_->access.setDeviceObject(service);
  });
}

void TBUSBPrinter::decodeDeviceID(
    const QString& deviceId,
    const std::function<void(const QString& manufacturer, const QString& model, const QString& serialNumber,
                             const QString& description)>& decoded) const {
  const pm::usbtext::DeviceIdFields fields = pm::usbtext::decodeDeviceId(deviceId);
  const QString serial = fields.serialNumber.isNull() ? serialNumberUSB() : fields.serialNumber;
  if (decoded) decoded(fields.manufacturer, fields.model, serial, fields.description);
}

bool TBUSBPrinter::isIdentified() const { return d_->identified; }

void TBUSBPrinter::markIdentified() {
  Q_ASSERT(isPrinterCommandQueue());
  d_->identified = true;
  pm::SerialQueue::main().async([printer = QPointer<TBUSBPrinter>(this)] {
    if (printer) emit printer->identityRead();
  });
}

QImage TBUSBPrinter::image() const {
  const std::lock_guard guard(d_->lock);
  return d_->image;
}

void TBUSBPrinter::setImage(const QImage& image) {
  {
    const std::lock_guard guard(d_->lock);
    d_->image = image;
  }
  announceChange(QStringLiteral("image"));
}

// ---- Interface access ----------------------------------------------------------------------------

usb::InterfaceAccess& TBUSBPrinter::interfaceAccess() const { return d_->access; }
usb::IdentityReader& TBUSBPrinter::identityReader() const { return d_->identity; }

int64_t TBUSBPrinter::state() const { return d_->access.state(); }

void TBUSBPrinter::setState(int64_t state) {
  Q_ASSERT(pm::isMainQueue());
  d_->access.storeState(state);
  announceChange(QStringLiteral("state"));
}

bool TBUSBPrinter::isInterfaceOpen() const { return d_->access.isInterfaceOpen(); }
std::shared_ptr<usb::UsbInterface> TBUSBPrinter::interfaceInterface() const { return d_->access.interface(); }
usb::ServiceHandle TBUSBPrinter::deviceObject() const { return d_->access.deviceObject(); }
IOReturn TBUSBPrinter::openInterface(BusyOpen busy) { return d_->access.openInterface(busy); }
void TBUSBPrinter::openInterface(Completion completion, BusyOpen busy) {
  d_->access.openInterface(std::move(completion), busy);
}
void TBUSBPrinter::queueUserWork(std::function<void()> work) { d_->access.queueUserWork(std::move(work)); }
void TBUSBPrinter::closeInterface(Completion completion) { d_->access.closeInterface(std::move(completion)); }
uint8_t TBUSBPrinter::bulkIN() const { return d_->access.bulkIN(); }
uint8_t TBUSBPrinter::bulkOUT() const { return d_->access.bulkOUT(); }
void TBUSBPrinter::hotPlug() { d_->access.hotPlug(); }
void TBUSBPrinter::setIdleReleaseDelay(int ms) { d_->access.setIdleReleaseDelay(ms); }
int TBUSBPrinter::idleReleaseDelay() const { return d_->access.idleReleaseDelay(); }
void TBUSBPrinter::noteInterfaceUse() { d_->access.noteInterfaceUse(); }
void TBUSBPrinter::prepareForRelease() { d_->access.prepareForRelease(); }
void TBUSBPrinter::prepareForQuit() { d_->access.prepareForQuit(); }
bool TBUSBPrinter::hasGone() const { return d_->access.hasGone(); }

// ---- Identity ------------------------------------------------------------------------------------

QString TBUSBPrinter::keyUSBdevice() const {
  return QString::asprintf("%.4X%.4X%.8X", vendorID(), productID(), locationID());
}

QByteArray TBUSBPrinter::descriptionUTF8() const {
  QString manufacturer, model, serial;
  {
    const std::lock_guard guard(d_->lock);
    manufacturer = d_->manufacturer.isEmpty() ? d_->vendorUSB : d_->manufacturer;
    model = d_->model.isEmpty() ? d_->productUSB : d_->model;
    serial = d_->serialNumberUSB;
  }
  return tbusb::objectText(manufacturer) + ' ' + tbusb::objectText(model) + ' ' + tbusb::objectText(serial);
}

QString TBUSBPrinter::idVendor() const { return QString::number(vendorID()); }
QString TBUSBPrinter::idProduct() const { return QString::number(productID()); }
uint16_t TBUSBPrinter::vendorID() const { return d_->identity.vendorID(); }
uint16_t TBUSBPrinter::productID() const { return d_->identity.productID(); }
uint32_t TBUSBPrinter::locationID() const { return d_->identity.locationID(); }

// ---- Observable texts ------------------------------------------------------------------------------

#define PM_TEXT_PROPERTY(getter, setter, key)                                 \
  QString TBUSBPrinter::getter() const { return d_->text(&Private::getter); } \
  void TBUSBPrinter::setter(const QString& v) {                               \
    d_->setText(&Private::getter, v);                                         \
    announceChange(QStringLiteral(key));                                      \
  }

PM_TEXT_PROPERTY(raw1284DeviceID, setRaw1284DeviceID, "raw1284DeviceID")
PM_TEXT_PROPERTY(deviceID, setDeviceID, "deviceID")
PM_TEXT_PROPERTY(manufacturer, setManufacturer, "manufacturer")
PM_TEXT_PROPERTY(model, setModel, "model")
PM_TEXT_PROPERTY(vendorUSB, setVendorUSB, "vendorUSB")
PM_TEXT_PROPERTY(productUSB, setProductUSB, "productUSB")
PM_TEXT_PROPERTY(serialNumberUSB, setSerialNumberUSB, "serialNumberUSB")
PM_TEXT_PROPERTY(status, setStatus, "status")
PM_TEXT_PROPERTY(statusString, setStatusString, "statusString")

#undef PM_TEXT_PROPERTY

bool TBUSBPrinter::inFirmwareUpdate() const { return d_->isBusy; }

void TBUSBPrinter::setInFirmwareUpdate(bool v) {
  d_->isBusy = v;
  announceChange(QStringLiteral("inFirmwareUpdate"));
}

// ---- Device information --------------------------------------------------------------------------

QString TBUSBPrinter::printerStatus() const { return deviceInfo_->string(QStringLiteral("printerStatus")); }

void TBUSBPrinter::setPrinterStatus(const QString& status) {
  if (status.isNull()) return;
  performSyncOnMainQueue([this, &status] {
    deviceInfo_->setValue(QStringLiteral("printerStatus"), status);
    announceChange(QStringLiteral("printerStatus"));
  });
}

QString TBUSBPrinter::firmwareVersion() const {
  return deviceInfo_->string(QStringLiteral("firmwareVersion"));
}

QString TBUSBPrinter::printerSerialNumber() const {
  return deviceInfo_->string(QStringLiteral("printerSerialNumber"));
}

void TBUSBPrinter::storeDeviceInfo(const QString& key, const QVariant& value) {
  deviceInfo_->setValue(key, value);
  announceChange(key);
}

void TBUSBPrinter::announceChange(const QString& key) {
  if (pm::isMainQueue()) {
    emit propertyChanged(key);
  } else {
    pm::SerialQueue::main().async([printer = QPointer<TBUSBPrinter>(this), key] {
      if (printer) emit printer->propertyChanged(key);
    });
  }
}

// ---- Device-information registry -----------------------------------------------------------------------

namespace {

// A dictionary written the way log lines have always shown one: "{ key = value; ... }".
QString describe(const QVariantMap& map) {
  QStringList entries;
  for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
    const QVariant& value = it.value();
    const bool isList = value.typeId() == QMetaType::QStringList || value.typeId() == QMetaType::QVariantList;
    const QString text =
        isList ? QLatin1Char('(') + value.toStringList().join(QStringLiteral(", ")) + QLatin1Char(')')
               : value.toString();
    entries << QStringLiteral("    %1 = %2;").arg(it.key(), text);
  }
  return entries.isEmpty() ? QStringLiteral("{\n}")
                           : QStringLiteral("{\n%1\n}").arg(entries.join(QLatin1Char('\n')));
}

// Device key -> device information of printers seen in this process. Main thread only.
QHash<QString, std::shared_ptr<pm::DeviceInfo>>& deviceInfoRegistry() {
  static QHash<QString, std::shared_ptr<pm::DeviceInfo>> registry;
  return registry;
}

}  // namespace

std::shared_ptr<pm::DeviceInfo> TBUSBPrinter::deviceInfoForKey(const QString& key) {
  Q_ASSERT(pm::isMainQueue());
  std::shared_ptr<pm::DeviceInfo>& info = deviceInfoRegistry()[key];
  if (!info) info = std::make_shared<pm::DeviceInfo>();
  return info;
}

void TBUSBPrinter::setDeviceInfo(const std::shared_ptr<pm::DeviceInfo>& info, const QString& key) {
  Q_ASSERT(pm::isMainQueue());
  pm::systemLogf("%s:[%s] : %s", "+[TBUSBPrinter setDeviceInfo:forKey:]", qUtf8Printable(key),
                 info ? qUtf8Printable(describe(info->snapshot())) : "(null)");
  if (!info) return;
  deviceInfoRegistry().insert(key, info);
}

void TBUSBPrinter::clearDeviceInfoRegistry() {
  Q_ASSERT(pm::isMainQueue());
  deviceInfoRegistry().clear();
}
