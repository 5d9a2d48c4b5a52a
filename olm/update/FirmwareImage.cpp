// The firmware file's checks and transformations: the S-record check, the padding of the image,
// the byte-sum checksum and the number of a version text.
//
// The S-record check keeps the exact acceptance rules the printers' firmware files have always
// been held to, but works on the bytes in one pass without building strings, because firmware
// files run to megabytes:
//  - The text ends at the first NUL byte; it must be valid UTF-8 (RFC 3629: no overlong forms, no
//    surrogates, nothing above U+10FFFF, no truncated sequence), anywhere in it.
//  - Lines end at every newline character of the platform's newline set: U+000A to U+000D (LF,
//    VT, FF, CR), U+0085 (NEL), U+2028 (LS) and U+2029 (PS). Each one ends a line on its own, so
//    CR LF leaves an empty line between them, and empty lines are skipped. (PCRE's \R matches the
//    same characters; QTextStream::readLine knows only LF and CR, so it is not used.)
//  - Positions and lengths inside a line count UTF-8 bytes.
//  - A two-character hex field is read as a C library reads a number: its leading hex digits
//    count ("1G" is 1, "G1" is 0); upper and lower case are both hex.

#include "olm/update/FirmwareArchive.h"

#include <array>
#include <cmath>
#include <cstring>

#include <QFile>

#include "olm/protocol/Framing.h"
#include "support/SystemLog.h"

namespace pm {

namespace {

constexpr std::array<int8_t, 256> makeHexTable() {
  std::array<int8_t, 256> table{};
  for (auto& v : table) v = -1;
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<int8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<int8_t>(c - 'a' + 10);
  return table;
}

using HexPairTable = std::array<uint8_t, 65536>;

// The value of every two-byte field, indexed by its two bytes: one load per field.
const HexPairTable& hexPairTable() {
  static const HexPairTable table = [] {
    constexpr std::array<int8_t, 256> digit = makeHexTable();
    HexPairTable t{};
    for (unsigned first = 0; first < 256; ++first) {
      if (digit[first] < 0) continue;  // no leading digit: 0
      for (unsigned second = 0; second < 256; ++second) {
        const unsigned high = static_cast<uint8_t>(digit[first]);
        t[first | (second << 8)] =
            static_cast<uint8_t>(digit[second] < 0 ? high : high * 16 + static_cast<uint8_t>(digit[second]));
      }
    }
    return t;
  }();
  return table;
}

inline unsigned hexPair(const HexPairTable& table, const uint8_t* p) {
  return table[unsigned(p[0]) | (unsigned(p[1]) << 8)];
}

// One line without its line end, `length` UTF-8 bytes.
bool recordLinePasses(const HexPairTable& hex, const uint8_t* line, std::size_t length) {
  if (length == 0) return true;
  if (line[0] != 'S') return false;
  if (length < 2 || line[1] < '0' || line[1] > '9') return false;
  if (length < 4) return false;
  const unsigned count = hexPair(hex, line + 2);
  // The count test rounds down, so one extra character at the end passes.
  if ((length - 4) / 2 != count) return false;
  // The loop stops before a last odd character; for lines shorter than 6 it does not run, so the
  // count itself (0 there) is compared against the complement of an empty sum (0xFF).
  unsigned sum = 0;
  unsigned current = count;
  for (std::size_t p = 4; p + 1 < length; p += 2) {
    sum += current;
    current = hexPair(hex, line + p);
  }
  return current == (~sum & 0xFFu);
}

// Decodes one multi-byte UTF-8 sequence at `p` (whose first byte is >= 0x80). Returns its length,
// or 0 when it is not well-formed.
inline std::size_t decodeMultiByte(const uint8_t* p, const uint8_t* end, uint32_t* codePoint) {
  const uint8_t b0 = p[0];
  const std::size_t available = static_cast<std::size_t>(end - p);
  auto continuation = [&](std::size_t i) { return i < available && (p[i] & 0xC0) == 0x80; };
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (!continuation(1)) return 0;
    *codePoint = (uint32_t(b0 & 0x1F) << 6) | (p[1] & 0x3F);
    return 2;
  }
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (!continuation(1) || !continuation(2)) return 0;
    if (b0 == 0xE0 && p[1] < 0xA0) return 0;  // overlong
    if (b0 == 0xED && p[1] > 0x9F) return 0;  // surrogate
    *codePoint = (uint32_t(b0 & 0x0F) << 12) | (uint32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
    return 3;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    if (b0 == 0xF0 && p[1] < 0x90) return 0;  // overlong
    if (b0 == 0xF4 && p[1] > 0x8F) return 0;  // above U+10FFFF
    *codePoint = (uint32_t(b0 & 0x07) << 18) | (uint32_t(p[1] & 0x3F) << 12) | (uint32_t(p[2] & 0x3F) << 6) |
                 (p[3] & 0x3F);
    return 4;
  }
  return 0;
}

inline bool isMultiByteNewline(uint32_t codePoint) {
  return codePoint == 0x0085 || codePoint == 0x2028 || codePoint == 0x2029;
}

QByteArray readWholeFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

}  // namespace

bool FirmwareArchive::verifyMotorolaSFile(const QByteArray& data) { return verifySRecData(data); }

bool FirmwareArchive::verifyMotorolaSFile(const QUrl& fileUrl) {
  return verifySRecData(fileUrl.isLocalFile() ? readWholeFile(fileUrl.toLocalFile()) : QByteArray());
}

bool FirmwareArchive::verifyMotorolaSFileAtPath(const QString& path) {
  return verifySRecData(path.isEmpty() ? QByteArray() : readWholeFile(path));
}

bool FirmwareArchive::verifySRecData(const QByteArray& data) {
  return verifySRecData(data.constData(), static_cast<std::size_t>(data.size()));
}

bool FirmwareArchive::verifySRecData(const char* data, std::size_t size) {
  if (data == nullptr || size == 0) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(data);
  const uint8_t* end = p + size;
  if (const void* nul = std::memchr(p, 0, size)) end = static_cast<const uint8_t*>(nul);

  const HexPairTable& hex = hexPairTable();
  const uint8_t* lineStart = p;
  while (p < end) {
    // Skip eight bytes at a time while none of them can end a line or start a multi-byte
    // character (every byte is in 0x0E..0x7F).
    while (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, sizeof word);
      constexpr uint64_t kOnes = 0x0101010101010101ull;
      constexpr uint64_t kHighs = 0x8080808080808080ull;
      if (((word - kOnes * 0x0E) | word) & kHighs) break;
      p += 8;
    }
    if (p >= end) break;
    const uint8_t b = *p;
    if (b < 0x80) {
      if (b >= 0x0A && b <= 0x0D) {
        if (!recordLinePasses(hex, lineStart, static_cast<std::size_t>(p - lineStart))) return false;
        lineStart = ++p;
      } else {
        ++p;
      }
      continue;
    }
    uint32_t codePoint = 0;
    const std::size_t length = decodeMultiByte(p, end, &codePoint);
    if (length == 0) return false;
    if (isMultiByteNewline(codePoint)) {
      if (!recordLinePasses(hex, lineStart, static_cast<std::size_t>(p - lineStart))) return false;
      p += length;
      lineStart = p;
    } else {
      p += length;
    }
  }
  return recordLinePasses(hex, lineStart, static_cast<std::size_t>(end - lineStart));
}

// Taken by value: a caller that hands its only reference over (std::move) has the bytes padded in
// place, without a copy of a megabyte-sized image.
QByteArray FirmwareArchive::paddedData(QByteArray data) {
  const qsizetype length = data.size();
  if (length == 0 || length % 4 == 0) return data;
  const qsizetype padded = (length + 3) / 4 * 4;
  systemLogf("padding data of length %u to length %u", static_cast<unsigned>(length),
             static_cast<unsigned>(padded));
  data.append(padded - length, '\0');
  return data;
}

uint16_t FirmwareArchive::checksumForData(const QByteArray& data) {
  uint32_t ucount = 0;
  int32_t scount = 0;
  for (const char c : data) {
    ucount += static_cast<uint8_t>(c);
    // Wraps like the 32-bit register it stands for; computed unsigned to stay defined.
    scount = static_cast<int32_t>(static_cast<uint32_t>(scount) +
                                  static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c))));
  }
  const uint32_t u16count = ~ucount;
  const int32_t s16count = ~scount;
  systemLogf("ucount = %u;scount = %d", ucount, scount);
  systemLogf("u16count = %u;s16count = %d", u16count, s16count);
  systemLogf("u16count ~= %.4x;s16count ~= %.4x", u16count & 0xFFFFu,
             static_cast<uint32_t>(s16count) & 0xFFFFu);
  return static_cast<uint16_t>(u16count & 0xFFFFu);
}

double firmwareVersionNumber(const QString& versionText) {
  return framing::doubleValue(versionText.section(QLatin1Char(' '), -1));
}

std::optional<ShippedFirmware> compareShippedFirmware(double installed, double shipped) {
  if (installed <= 0.0 || shipped <= 0.0) return std::nullopt;
  const long long have = std::llround(installed * 100.0);
  const long long ship = std::llround(shipped * 100.0);
  if (ship == have) return ShippedFirmware::Same;
  return ship > have ? ShippedFirmware::Newer : ShippedFirmware::Older;
}

std::optional<ShippedFirmware> compareShippedFirmware(const QString& installed, const QString& shipped) {
  return compareShippedFirmware(firmwareVersionNumber(installed), firmwareVersionNumber(shipped));
}

}  // namespace pm
