// The IEEE 1284 device ID: the GET_DEVICE_ID reply's text and the fields taken from it, and the
// terminated C-string decoder. Input: the bytes of a reply; for the decoder, the first byte
// chooses the encoding and whether the text is bounded or terminated.

#include <cstdint>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "support/TextUtilities.h"
#include "usb/UsbTextDecoding.h"

namespace {

void checkFields(const QString& deviceId) {
  for (auto keys :
       {std::initializer_list<const char*>{"MFG:", "MANUFACTURER:"},
        std::initializer_list<const char*>{"MDL:", "MODEL:"}, std::initializer_list<const char*>{"SERN:"},
        std::initializer_list<const char*>{"DESCRIPTION:", "DES:"}}) {
    const QString value = pm::usbtext::deviceIdField(deviceId, keys);
    if (value.isNull()) continue;
    FUZZ_CHECK(!value.contains(QLatin1Char(';')) && deviceId.contains(value));
  }
  const pm::usbtext::DeviceIdFields fields = pm::usbtext::decodeDeviceId(deviceId);
  FUZZ_CHECK(!fields.manufacturer.isNull() && !fields.model.isNull());
  const QString whole = pm::usbtext::substringFromString(deviceId, QStringLiteral("MDL:"),
                                                         QStringLiteral(";"), Qt::CaseInsensitive, true);
  if (!whole.isNull() && !deviceId.isEmpty()) {
    FUZZ_CHECK(whole.startsWith(QLatin1String("MDL:"), Qt::CaseInsensitive) && whole.endsWith(u';'));
  }
}

void checkCString(const uint8_t* data, size_t size) {
  using E = pm::StringEncoding;
  constexpr E kEncodings[] = {E::ASCII, E::UTF8,           E::Latin1,
                              E::UTF16, E::UTF16BigEndian, E::UTF16LittleEndian,
                              E::UTF32, E::UTF32BigEndian, E::UTF32LittleEndian,
                              E(0)};
  if (size == 0) return;
  const E encoding = kEncodings[data[0] % std::size(kEncodings)];
  const bool terminated = data[0] & 0x80;
  // A copy of exactly the bytes given, so that reading past them is caught. A terminated text
  // is padded to whole code units of the widest encoding and gets a zero one.
  std::vector<char> bytes(data + 1, data + size);
  if (terminated) bytes.resize((bytes.size() + 3) / 4 * 4 + 4, '\0');
  if (bytes.empty()) return;
  const std::optional<QString> text =
      pm::stringWithCString(bytes.data(), terminated ? 0 : bytes.size(), encoding);
  if (text && (encoding == E::ASCII || encoding == E::Latin1)) {
    FUZZ_CHECK(size_t(text->size()) <= bytes.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArrayView reply(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QString text = pm::usbtext::deviceIdText(reply);
  if (!text.isNull()) {
    FUZZ_CHECK(text.size() <= std::max<qsizetype>(reply.size(), 6));
    checkFields(text);
  }
  checkCString(data, size);
  return 0;
}
