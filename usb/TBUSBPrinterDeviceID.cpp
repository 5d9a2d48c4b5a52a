// TBUSBPrinter: the IEEE 1284 device ID: the printer class's GET_DEVICE_ID request, the
// decoding of its length-prefixed text, and the fields taken from it.

#include <algorithm>

#include "support/NameTables.h"
#include "support/SystemLog.h"
#include "usb/TBUSBPrinter.h"
#include "usb/TBUSBPrinterPrivate.h"
#include "usb/UsbTextDecoding.h"

namespace {

constexpr uint32_t kDeviceIdBufferSize = 65535;

}  // namespace

void TBUSBPrinter::update1284DeviceID(std::function<void(bool ok, const QString& deviceId)> completion) {
  performInlineOnCommandQueue([this, completion = std::move(completion)] {
    const auto finish = [&completion](bool ok, const QString& text) {
      if (completion) completion(ok, text);
    };
    const std::shared_ptr<usb::UsbInterface> interface = d_->interface();
    if (!interface || d_->gone.abandoned()) return finish(false, {});
    uint8_t configuration = 0;
    uint8_t interfaceNumber = 0;
    uint8_t alternate = 0;
    IOReturn result = interface->configurationValue(&configuration);
    if (result != kIOReturnSuccess) {
      pm::systemLogf("%s returned %s [%x]\n", "GetConfigurationValue()", pm::stringForIOReturn(result),
                     result);
      return finish(false, {});
    }
    result = interface->interfaceNumber(&interfaceNumber);
    if (result != kIOReturnSuccess) {
      pm::systemLogf("ERROR: %s returned %s [%x]\n", "GetInterfaceNumber()", pm::stringForIOReturn(result),
                     result);
      return finish(false, {});
    }
    result = interface->alternateSetting(&alternate);
    if (result != kIOReturnSuccess) {
      pm::systemLogf("ERROR: %s returned %s [%x]\n", "GetAlternateSetting()", pm::stringForIOReturn(result),
                     result);
      return finish(false, {});
    }

    QByteArray reply(kDeviceIdBufferSize, '\0');
    usb::ControlRequest request;
    request.bmRequestType = 0xA1;                               // class, device-to-host, interface
    request.bRequest = 0;                                       // GET_DEVICE_ID
    request.wValue = static_cast<uint16_t>(configuration - 1);  // zero-based configuration index
    request.wIndex = static_cast<uint16_t>(interfaceNumber << 8 | alternate);
    request.wLength = 0xFFFF;
    request.data = reply.data();
    request.noDataTimeoutMs = 100;
    request.completionTimeoutMs = 100;
    if (interface->controlRequest(0, request) != kIOReturnSuccess) return finish(false, {});

    const uint32_t received = std::min(request.lengthDone, kDeviceIdBufferSize);
    const QByteArrayView bytes(reply.constData(), received);
    pm::systemLogf("Found a %u character device ID ... \n", pm::usbtext::deviceIdPrefix(bytes));
    const QString text = pm::usbtext::deviceIdText(bytes);
    if (text.isNull()) return finish(false, {});
    performSyncOnMainQueue([this, &text] { setRaw1284DeviceID(text); });
    finish(true, text);
  });
}

void TBUSBPrinter::decodeDeviceID(
    const QString& deviceId,
    const std::function<void(const QString& manufacturer, const QString& model, const QString& serialNumber,
                             const QString& description)>& decoded) const {
  const auto field = [&deviceId](std::initializer_list<const char*> keys) {
    return pm::usbtext::deviceIdField(deviceId, keys);
  };
  QString manufacturer = field({"MFG:", "MANUFACTURER:"});
  if (manufacturer.isNull()) manufacturer = QStringLiteral("unknown");
  manufacturer = normalizedVendorString(manufacturer);
  QString model = field({"MDL:", "MODEL:"});
  if (model.isNull()) model = QStringLiteral("unknown");
  QString serialNumber = field({"SERN:"});
  if (serialNumber.isNull()) serialNumber = serialNumberUSB();
  const QString description = field({"DESCRIPTION:", "DES:"});
  if (decoded) decoded(manufacturer, model, serialNumber, description);
}

QString TBUSBPrinter::substringFromString(const QString& text, const QString& prefix,
                                          const QString& terminator, Qt::CaseSensitivity cs, bool inclusive) {
  return pm::usbtext::substringFromString(text, prefix, terminator, cs, inclusive);
}

QString TBUSBPrinter::noninclusiveCaseInsensitiveSubstringFromString(const QString& text,
                                                                     const QString& prefix,
                                                                     const QString& terminator) {
  return substringFromString(text, prefix, terminator, Qt::CaseInsensitive, false);
}
