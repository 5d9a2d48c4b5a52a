// Decoding of terminated C strings in the encodings log and device code meets.

#include "support/TextUtilities.h"

#include <QStringDecoder>

#include <cstring>
#include <limits>

namespace pm {

namespace {

struct EncodingInfo {
  size_t width;                             // bytes of one code unit
  QStringConverter::Encoding littleOrOnly;  // the decoder (little-endian one for width 2 and 4)
  QStringConverter::Encoding big;
  bool hostOrder;  // byte order not fixed by the encoding itself
  bool bigEndian;  // byte order when fixed
};

std::optional<EncodingInfo> infoFor(StringEncoding encoding) {
  using E = QStringConverter::Encoding;
  switch (encoding) {
    case StringEncoding::ASCII:
    case StringEncoding::Latin1:
      return EncodingInfo{1, E::Latin1, E::Latin1, false, false};
    case StringEncoding::UTF8:
      return EncodingInfo{1, E::Utf8, E::Utf8, false, false};
    case StringEncoding::UTF16:
      return EncodingInfo{2, E::Utf16LE, E::Utf16BE, true, false};
    case StringEncoding::UTF16BigEndian:
      return EncodingInfo{2, E::Utf16LE, E::Utf16BE, false, true};
    case StringEncoding::UTF16LittleEndian:
      return EncodingInfo{2, E::Utf16LE, E::Utf16BE, false, false};
    case StringEncoding::UTF32:
      return EncodingInfo{4, E::Utf32LE, E::Utf32BE, true, false};
    case StringEncoding::UTF32BigEndian:
      return EncodingInfo{4, E::Utf32LE, E::Utf32BE, false, true};
    case StringEncoding::UTF32LittleEndian:
      return EncodingInfo{4, E::Utf32LE, E::Utf32BE, false, false};
  }
  return std::nullopt;
}

// Byte count of the text: up to the first zero code unit within `limit` bytes, else `limit`
// rounded down to whole code units.
size_t terminatedLength(const char* bytes, size_t limit, size_t width) {
  for (size_t at = 0; limit - at >= width; at += width) {
    bool zero = true;
    for (size_t k = 0; k < width; ++k) zero = zero && bytes[at + k] == 0;
    if (zero) return at;
  }
  return limit - limit % width;
}

std::optional<QString> decode(QStringConverter::Encoding encoding, const char* bytes, size_t length) {
  // The byte-order mark has been dealt with already; the decoder must not drop another one.
  QStringDecoder decoder(encoding,
                         QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
  QString text = decoder.decode(QByteArrayView(bytes, static_cast<qsizetype>(length)));
  if (decoder.hasError()) return std::nullopt;
  return text;
}

// UTF-16 code units are taken as they are, unpaired surrogates included, as a UTF-16 string
// class stores them; only the byte order needs settling.
QString utf16Units(const char* bytes, size_t length, bool bigEndian) {
  const auto* u = reinterpret_cast<const unsigned char*>(bytes);
  QString text(static_cast<qsizetype>(length / 2), Qt::Uninitialized);
  for (size_t i = 0; i < length / 2; ++i) {
    const unsigned hi = bigEndian ? u[2 * i] : u[2 * i + 1];
    const unsigned lo = bigEndian ? u[2 * i + 1] : u[2 * i];
    text[static_cast<qsizetype>(i)] = QChar(static_cast<char16_t>((hi << 8) | lo));
  }
  return text;
}

}  // namespace

std::optional<QString> stringWithCString(const char* bytes, size_t maxLength, StringEncoding encoding) {
  const std::optional<EncodingInfo> info = infoFor(encoding);
  if (bytes == nullptr || !info) return std::nullopt;
  const size_t limit = maxLength == 0 ? std::numeric_limits<size_t>::max() : maxLength;
  if (info->width > limit) return std::nullopt;

  if (info->width == 1) {
    size_t skip = 0;
    // Byte by byte, so that a shorter terminated text is never read past its end.
    const auto* u = reinterpret_cast<const unsigned char*>(bytes);
    if (encoding == StringEncoding::UTF8 && limit >= 4 && u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF)
      skip = 3;
    const size_t length = maxLength == 0 ? std::strlen(bytes + skip) : strnlen(bytes + skip, limit - skip);
    if (length == 0) return QString(QLatin1String(""));
    if (encoding == StringEncoding::ASCII) {
      for (size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(bytes[skip + i]) > 0x7F) return std::nullopt;
      }
    }
    return decode(info->littleOrOnly, bytes + skip, length);
  }

  size_t length = terminatedLength(bytes, limit, info->width);
  if (length == 0) return QString(QLatin1String(""));
  bool bigEndian = info->hostOrder ? (QSysInfo::ByteOrder == QSysInfo::BigEndian) : info->bigEndian;
  const auto* u = reinterpret_cast<const unsigned char*>(bytes);
  // A leading mark decides the byte order whatever the encoding says, and is not part of the text.
  const bool markBig = info->width == 2 ? (u[0] == 0xFE && u[1] == 0xFF)
                                        : (u[0] == 0 && u[1] == 0 && u[2] == 0xFE && u[3] == 0xFF);
  const bool markLittle = info->width == 2 ? (u[0] == 0xFF && u[1] == 0xFE)
                                           : (u[0] == 0xFF && u[1] == 0xFE && u[2] == 0 && u[3] == 0);
  if (markBig || markLittle) {
    bigEndian = markBig;
    bytes += info->width;
    length -= info->width;
    if (length == 0) return QString(QLatin1String(""));
  }
  if (info->width == 2) return utf16Units(bytes, length, bigEndian);
  return decode(bigEndian ? info->big : info->littleOrOnly, bytes, length);
}

}  // namespace pm
