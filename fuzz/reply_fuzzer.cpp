// The reply reader: the 8-byte length header, the body buffer and the numbers read from its text.
// Input: the bytes of one reply as the bulk-in pipe delivers them (header, then body).

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/FuzzCheck.h"
#include "olm/protocol/Framing.h"

namespace framing = pm::framing;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArrayView input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QByteArrayView header = input.first(std::min<qsizetype>(input.size(), framing::kReplyHeaderSize));
  const std::optional<uint32_t> count = framing::parseReplyLength(header);

  // The header is read as strtol reads it (it stops at a NUL as well); one without digits is
  // malformed.
  char terminated[framing::kReplyHeaderSize + 1] = {};
  std::memcpy(terminated, header.data(), static_cast<size_t>(header.size()));
  char* end = nullptr;
  const long expected = std::strtol(terminated, &end, 10);
  if (end != terminated && expected >= 0 && expected <= long(framing::kReplyBodyLimit)) {
    FUZZ_CHECK(count && long(*count) == expected);
  } else {
    FUZZ_CHECK(!count);
  }
  if (!count) return 0;

  const QByteArrayView body = input.sliced(header.size());
  const QByteArray buffer = framing::replyBuffer(body, *count);
  const QByteArrayView used = body.first(std::min<qsizetype>(body.size(), *count));
  const qsizetype cr = used.indexOf('\r');
  FUZZ_CHECK(!buffer.isEmpty() && buffer.back() == '\0');
  if (cr >= 0) {
    FUZZ_CHECK(buffer.size() == cr + 1 && QByteArrayView(buffer).first(cr) == used.first(cr));
  } else {
    FUZZ_CHECK(buffer.size() == std::max<qsizetype>(framing::kReplyMinimumBuffer, *count + 1));
    FUZZ_CHECK(QByteArrayView(buffer).first(used.size()) == used);
  }

  const std::optional<QString> text = framing::replyText(buffer);
  if (!text) return 0;
  const int32_t value = framing::intValue(*text);
  framing::doubleValue(*text);
  // On ASCII text intValue is strtoll clamped to 32 bits.
  const QByteArray ascii = text->toLatin1();
  bool isAscii = true;
  for (QChar c : *text) isAscii = isAscii && c.unicode() < 0x80;
  if (isAscii) {
    const long long wide = std::strtoll(ascii.constData(), nullptr, 10);
    FUZZ_CHECK(value == std::clamp<long long>(wide, INT32_MIN, INT32_MAX));
  }
  return 0;
}
