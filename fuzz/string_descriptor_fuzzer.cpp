// USB string descriptors: a string's text and the language list. Input: the bytes received for
// one descriptor.

#include <cstdint>

#include "fuzz/FuzzCheck.h"
#include "usb/UsbTextDecoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArrayView received(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QString text = pm::usbtext::stringDescriptorText(received);
  // One UTF-16 unit per two bytes after the two-byte head, within what came and what was claimed.
  if (!text.isNull()) {
    FUZZ_CHECK(!text.isEmpty() && text.size() <= 126);
    FUZZ_CHECK(2 + 2 * text.size() <= std::min<qsizetype>(qsizetype(size), data[0]));
  }
  const pm::usbtext::LanguageList list = pm::usbtext::languageList(received);
  FUZZ_CHECK(list.ids.isEmpty() ? list.choice == 0 : list.ids.contains(list.choice));
  return 0;
}
