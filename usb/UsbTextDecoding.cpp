#include "usb/UsbTextDecoding.h"

#include <algorithm>

#include <QStringDecoder>

namespace pm::usbtext {

namespace {

constexpr uint32_t kLastTerminatorOffset = 65534;  // the reply buffer holds 65535 bytes
constexpr uint16_t kEnglish = 9;                   // primary language of a language ID

uint16_t primaryLanguage(uint16_t langId) { return langId & 0x3FF; }
uint16_t subLanguage(uint16_t langId) { return langId >> 10; }

// Whether `candidate` should replace `choice`.
bool prefersLanguage(uint16_t candidate, uint16_t choice) {
  if (primaryLanguage(candidate) != kEnglish) return false;
  return primaryLanguage(choice) != kEnglish || subLanguage(candidate) < subLanguage(choice);
}

uint8_t byteAt(QByteArrayView bytes, uint32_t i) { return static_cast<uint8_t>(bytes[i]); }

}  // namespace

QString stringDescriptorText(QByteArrayView received) {
  if (received.isEmpty()) return {};
  const uint32_t size = static_cast<uint32_t>(std::min<qsizetype>(received.size(), 255));
  uint32_t n = std::min<uint32_t>(byteAt(received, 0), size) & ~1u;
  while (n > 2 && byteAt(received, n - 2) == 0) n -= 2;
  if (n < 4) return {};
  QString text;
  text.reserve(static_cast<qsizetype>((n - 2) / 2));
  for (uint32_t i = 2; i + 1 < n; i += 2) {
    text.append(QChar(static_cast<char16_t>(byteAt(received, i) | (byteAt(received, i + 1) << 8))));
  }
  return text;
}

LanguageList languageList(QByteArrayView received) {
  LanguageList list;
  if (received.isEmpty()) return list;
  const uint32_t size = static_cast<uint32_t>(std::min<qsizetype>(received.size(), 255));
  const uint32_t end = std::min<uint32_t>(byteAt(received, 0), size);
  for (uint32_t i = 2; i + 1 < end; i += 2) {
    const uint16_t id = static_cast<uint16_t>(byteAt(received, i) | (byteAt(received, i + 1) << 8));
    if (list.ids.isEmpty() || prefersLanguage(id, list.choice)) list.choice = id;
    list.ids.insert(id);
  }
  return list;
}

uint32_t deviceIdPrefix(QByteArrayView received) {
  if (received.size() < 2) return 0;
  return static_cast<uint32_t>(byteAt(received, 0) << 8 | byteAt(received, 1));
}

QString deviceIdText(QByteArrayView received) {
  const uint32_t prefix = deviceIdPrefix(received);
  if (prefix == 0) return QStringLiteral("(null)");
  const uint32_t size = static_cast<uint32_t>(std::min<qsizetype>(received.size(), kLastTerminatorOffset));
  const uint32_t end = std::min(prefix, size);
  if (end <= 2) return QStringLiteral("");
  QByteArrayView bytes = received.sliced(2, end - 2);
  const qsizetype zero = bytes.indexOf('\0');
  if (zero >= 0) bytes = bytes.first(zero);
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = decoder.decode(bytes);
  if (decoder.hasError()) return {};
  if (text.isNull()) text = QStringLiteral("");
  return text;
}

QString substringFromString(const QString& text, const QString& prefix, const QString& terminator,
                            Qt::CaseSensitivity cs, bool inclusive) {
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

QString deviceIdField(const QString& deviceId, std::initializer_list<const char*> keys) {
  const QString terminator = QStringLiteral(";");
  for (const char* key : keys) {
    QString value =
        substringFromString(deviceId, QString::fromLatin1(key), terminator, Qt::CaseInsensitive, false);
    if (!value.isNull()) return value;
  }
  return QString();
}

QString normalizedVendorString(const QString& vendor) {
  if (vendor.size() < 3) return vendor;
  const auto is = [&vendor](const char* name) {
    return vendor.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
  };
  if (is("Varnholt Printing") || is("Varnholt Printing ")) return QStringLiteral("OLM");
  if (is("HEWLETT-PACKARD")) return QStringLiteral("HP");
  return vendor;
}

DeviceIdFields decodeDeviceId(const QString& deviceId) {
  DeviceIdFields fields;
  fields.manufacturer = deviceIdField(deviceId, {"MFG:", "MANUFACTURER:"});
  if (fields.manufacturer.isNull()) fields.manufacturer = QStringLiteral("unknown");
  fields.manufacturer = normalizedVendorString(fields.manufacturer);
  fields.model = deviceIdField(deviceId, {"MDL:", "MODEL:"});
  if (fields.model.isNull()) fields.model = QStringLiteral("unknown");
  fields.serialNumber = deviceIdField(deviceId, {"SERN:"});
  fields.description = deviceIdField(deviceId, {"DESCRIPTION:", "DES:"});
  return fields;
}

}  // namespace pm::usbtext
