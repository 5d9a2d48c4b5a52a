// TBUSBPrinter: identity: language IDs, string descriptors, the USB strings, vendor names, the
// device key and description, and the process-wide device-information registry.

#include <algorithm>

#include <QHash>
#include <QStringList>

#include "support/MainQueue.h"
#include "support/NameTables.h"
#include "support/SystemLog.h"
#include "usb/TBUSBPrinter.h"
#include "usb/TBUSBPrinterPrivate.h"
#include "usb/UsbTextDecoding.h"

namespace {

constexpr uint8_t kGetDescriptor = 6;
constexpr uint8_t kStringDescriptorType = 3;
constexpr uint16_t kDescriptorBufferSize = 256;

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

}  // namespace

// ---- Language and string descriptors ---------------------------------------------------------------

std::optional<QSet<uint16_t>> TBUSBPrinter::langIds() {
  {
    const std::lock_guard guard(d_->lock);
    if (d_->langIds) return d_->langIds;
  }
  const std::shared_ptr<usb::UsbInterface> interface = d_->interface();
  // Nothing more is asked of a printer once quitting.
  if (!interface || d_->gone.abandoned()) return std::nullopt;
  uint8_t buffer[kDescriptorBufferSize] = {};
  usb::ControlRequest request;
  request.bmRequestType = 0x80;  // standard, device-to-host, device
  request.bRequest = kGetDescriptor;
  request.wValue = kStringDescriptorType << 8;
  request.wIndex = 0;
  request.wLength = sizeof buffer;
  request.data = buffer;
  request.noDataTimeoutMs = 500;
  request.completionTimeoutMs = 2000;
  if (interface->controlRequest(0, request) != kIOReturnSuccess || request.lengthDone < 4) {
    return std::nullopt;
  }
  const pm::usbtext::LanguageList list = pm::usbtext::languageList(QByteArrayView(
      reinterpret_cast<const char*>(buffer), std::min<uint32_t>(request.lengthDone, sizeof buffer)));
  const std::lock_guard guard(d_->lock);
  d_->langIds = list.ids;
  d_->langId = list.choice;
  return d_->langIds;
}

uint16_t TBUSBPrinter::langId() {
  {
    const std::lock_guard guard(d_->lock);
    if (d_->langId != 0) return d_->langId;
  }
  langIds();
  const std::lock_guard guard(d_->lock);
  return d_->langId;
}

void TBUSBPrinter::setLangId(uint16_t langId) {
  const std::optional<QSet<uint16_t>> offered = langIds();
  if (!offered || !offered->contains(langId)) return;
  const std::lock_guard guard(d_->lock);
  d_->langId = langId;
}

QString TBUSBPrinter::descriptorStringAtIndex(uint8_t index) {
  const std::shared_ptr<usb::UsbInterface> interface = d_->interface();
  if (index == 0 || !interface || d_->gone.abandoned()) return {};
  uint8_t buffer[kDescriptorBufferSize] = {};
  usb::ControlRequest request;
  request.bmRequestType = 0x80;
  request.bRequest = kGetDescriptor;
  request.wValue = static_cast<uint16_t>(kStringDescriptorType << 8 | index);
  request.wIndex = langId();
  request.wLength = sizeof buffer;
  request.data = buffer;
  request.noDataTimeoutMs = 500;
  request.completionTimeoutMs = 1000;
  if (interface->controlRequest(0, request) != kIOReturnSuccess || request.lengthDone < 2) {
    return {};
  }
  const uint8_t type = buffer[1];
  if (type != kStringDescriptorType) {
    pm::systemLogf(
        "The device returned a string descriptor with the incorrect descriptor "
        "type(returned %x (should be %x))\n",
        type, kStringDescriptorType);
    return {};
  }
  return pm::usbtext::stringDescriptorText(QByteArrayView(
      reinterpret_cast<const char*>(buffer), std::min<uint32_t>(request.lengthDone, sizeof buffer)));
}

// ---- The USB strings ----------------------------------------------------------------------------------

namespace {

struct UsbStringKind {
  IOReturn (usb::UsbDevice::*index)(uint8_t*);
  const char* indexCall;  // the platform call named in the failure line
  const char* gotLine;
  void (TBUSBPrinter::*store)(const QString&);
  bool normalize;
};

const UsbStringKind kVendorString{&usb::UsbDevice::manufacturerStringIndex, "USBGetManufacturerStringIndex",
                                  "got USB vendor:%s", &TBUSBPrinter::setVendorUSB, true};
const UsbStringKind kProductString{&usb::UsbDevice::productStringIndex, "USBGetProductStringIndex",
                                   "got USB product:%s", &TBUSBPrinter::setProductUSB, false};
const UsbStringKind kSerialString{&usb::UsbDevice::serialNumberStringIndex, "USBGetSerialNumberStringIndex",
                                  "got USB Serial Number:%s", &TBUSBPrinter::setSerialNumberUSB, false};

void fetchUsbString(TBUSBPrinter* printer, const UsbStringKind& kind) {
  const std::shared_ptr<usb::UsbDevice> device = printer->deviceInterface();
  if (!device) return;
  uint8_t index = 0;
  const IOReturn result = (device.get()->*kind.index)(&index);
  if (result != kIOReturnSuccess) {
    pm::systemLogf("%s() returned %s\n", kind.indexCall, pm::stringForIOReturn(result));
    return;
  }
  QString text = printer->descriptorStringAtIndex(index);
  if (kind.normalize && !text.isNull()) text = TBUSBPrinter::normalizedVendorString(text);
  TBUSBPrinter::performSyncOnMainQueue([&] { (printer->*kind.store)(text); });
  pm::systemLogf(kind.gotLine, tbusb::objectText(text).constData());
}

}  // namespace

void TBUSBPrinter::getUSBVendorString() {
  performInlineOnCommandQueue([this] { fetchUsbString(this, kVendorString); });
}

void TBUSBPrinter::getUSBProductString() {
  performInlineOnCommandQueue([this] { fetchUsbString(this, kProductString); });
}

void TBUSBPrinter::getUSBSerialNumberString() {
  performInlineOnCommandQueue([this] { fetchUsbString(this, kSerialString); });
}

// ---- Vendor names, key, description -------------------------------------------------------------------

QString TBUSBPrinter::normalizedVendorString(const QString& vendor) {
  if (vendor.size() < 3) return vendor;
  const auto is = [&vendor](const char* name) {
    return vendor.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
  };
  if (is("Varnholt Printing") || is("Varnholt Printing ")) return QStringLiteral("OLM");
  if (is("HEWLETT-PACKARD")) return QStringLiteral("HP");
  return vendor;
}

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
QString TBUSBPrinter::idLocation() const { return QString::number(locationID(), 16); }
uint16_t TBUSBPrinter::vendorID() const { return d_->idVendor; }
uint16_t TBUSBPrinter::productID() const { return d_->idProduct; }
uint32_t TBUSBPrinter::locationID() const { return d_->locationID; }

// ---- Device-information registry -----------------------------------------------------------------------

namespace {

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
