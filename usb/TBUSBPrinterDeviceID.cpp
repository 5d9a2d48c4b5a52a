// TBUSBPrinter: the IEEE 1284 device ID: the printer class's GET_DEVICE_ID request, the
// decoding of its length-prefixed text, and the fields taken from it.

#include <algorithm>

#include <QStringDecoder>

#include "support/NameTables.h"
#include "support/SystemLog.h"
#include "usb/TBUSBPrinter.h"
#include "usb/TBUSBPrinterPrivate.h"

namespace {

constexpr uint32_t kDeviceIdBufferSize = 65535;
constexpr uint32_t kLastTerminatorOffset = 65534;

// The text of a GET_DEVICE_ID reply: a big-endian length prefix that counts itself, then the
// text. The prefix is the device's claim; the text never runs past the bytes that came, and a
// prefix too short to hold any text (1 or 2) gives an empty text. Null when not UTF-8.
QString deviceIdText(const QByteArray& reply, uint32_t received, uint32_t prefix) {
  if (prefix == 0) return QStringLiteral("(null)");
  const uint32_t end = std::min({prefix, received, kLastTerminatorOffset});
  if (end <= 2) return QStringLiteral("");
  QByteArrayView bytes(reply.constData() + 2, end - 2);
  const qsizetype zero = bytes.indexOf('\0');
  if (zero >= 0) bytes = bytes.first(zero);
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = decoder.decode(bytes);
  if (decoder.hasError()) return {};
  if (text.isNull()) text = QStringLiteral("");
  return text;
}

}  // namespace

void TBUSBPrinter::update1284DeviceID(
    std::function<void(bool ok, const QString& deviceId)> completion) {
  performInlineOnCommandQueue([this, completion = std::move(completion)] {
    const auto finish = [&completion](bool ok, const QString& text) {
      if (completion) completion(ok, text);
    };
    const std::shared_ptr<usb::UsbInterface> interface = d_->interface();
    if (!interface) return;
    uint8_t configuration = 0;
    uint8_t interfaceNumber = 0;
    uint8_t alternate = 0;
    IOReturn result = interface->configurationValue(&configuration);
    if (result != kIOReturnSuccess) {
      pm::systemLogf("%s returned %s [%x]\n", "GetConfigurationValue()",
                     pm::stringForIOReturn(result), result);
      return finish(false, {});
    }
    result = interface->interfaceNumber(&interfaceNumber);
    if (result != kIOReturnSuccess) {
      pm::systemLogf("ERROR: %s returned %s [%x]\n", "GetInterfaceNumber()",
                     pm::stringForIOReturn(result), result);
      return finish(false, {});
    }
    result = interface->alternateSetting(&alternate);
    if (result != kIOReturnSuccess) {
      pm::systemLogf("ERROR: %s returned %s [%x]\n", "GetAlternateSetting()",
                     pm::stringForIOReturn(result), result);
      return finish(false, {});
    }

    QByteArray reply(kDeviceIdBufferSize, '\0');
    usb::ControlRequest request;
    request.bmRequestType = 0xA1;  // class, device-to-host, interface
    request.bRequest = 0;          // GET_DEVICE_ID
    request.wValue = static_cast<uint16_t>(configuration - 1);  // zero-based configuration index
    request.wIndex = static_cast<uint16_t>(interfaceNumber << 8 | alternate);
    request.wLength = 0xFFFF;
    request.data = reply.data();
    request.noDataTimeoutMs = 100;
    request.completionTimeoutMs = 100;
    if (interface->controlRequest(0, request) != kIOReturnSuccess) return finish(false, {});

    const uint32_t received = std::min(request.lengthDone, kDeviceIdBufferSize);
    const auto* bytes = reinterpret_cast<const uint8_t*>(reply.constData());
    const uint32_t prefix = received >= 2 ? static_cast<uint32_t>(bytes[0] << 8 | bytes[1]) : 0;
    pm::systemLogf("Found a %u character device ID ... \n", prefix);
    const QString text = deviceIdText(reply, received, prefix);
    if (text.isNull()) return finish(false, {});
    performSyncOnMainQueue([this, &text] { setRaw1284DeviceID(text); });
    finish(true, text);
  });
}

void TBUSBPrinter::decodeDeviceID(
    const QString& deviceId,
    const std::function<void(const QString& manufacturer, const QString& model,
                             const QString& serialNumber, const QString& description)>& decoded)
    const {
  const QString terminator = QStringLiteral(";");
  const auto field = [&](std::initializer_list<const char*> prefixes) {
    for (const char* prefix : prefixes) {
      const QString value = noninclusiveCaseInsensitiveSubstringFromString(
          deviceId, QString::fromLatin1(prefix), terminator);
      if (!value.isNull()) return value;
    }
    return QString();
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
                                          const QString& terminator, Qt::CaseSensitivity cs,
                                          bool inclusive) {
  if (text.isEmpty()) return text;
  qsizetype start = 0;
  qsizetype searchFrom = 0;
  if (!prefix.isEmpty()) {
    const qsizetype at = text.indexOf(prefix, 0, cs);
    if (at < 0) return {};
    start = inclusive ? at : at + prefix.size();
    searchFrom = at + prefix.size();
  }
  qsizetype end = text.size();
  if (!terminator.isEmpty()) {
    const qsizetype at = text.indexOf(terminator, searchFrom, cs);
    if (at < 0) return {};
    end = inclusive ? at + terminator.size() : at;
  }
  QString result = text.mid(start, end - start);
  if (result.isNull()) result = QStringLiteral("");  // found, but empty: not "none"
  return result;
}

QString TBUSBPrinter::noninclusiveCaseInsensitiveSubstringFromString(const QString& text,
                                                                     const QString& prefix,
                                                                     const QString& terminator) {
  return substringFromString(text, prefix, terminator, Qt::CaseInsensitive, false);
}
