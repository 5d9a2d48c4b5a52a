#include "olm/protocol/Framing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <QStringDecoder>

namespace pm::framing {

namespace {

using C = Command;

struct Entry {
  Command code;
  CommandSpec spec;
};

constexpr PayloadRule kNone = PayloadRule::None;
constexpr PayloadRule kCaller = PayloadRule::CallerLength;
constexpr PayloadRule kFixed = PayloadRule::Fixed;

// The complete command table. Codes absent from it have no name.
constexpr Entry kCommands[] = {
    {C::Status, {"STATUS", "", kNone, 0}},
    {C::FirmwareVersion, {"INFO  ", "FVER", kNone, 0}},
    {C::SerialNumber, {"INFO  ", "SERIAL_NUMBER", kNone, 0}},
    {C::Media, {"INFO  ", "MEDIA", kNone, 0}},
    {C::FreeBuffer, {"INFO  ", "FREE_PBUFFER", kNone, 0}},
    {C::MediaQuantity, {"INFO  ", "MQTY", kNone, 0}},
    {C::MultiCut, {"IMAGE ", "MULTICUT", kFixed, 8}},
    {C::Overcoat, {"CNTRL ", "OVERCOAT", kFixed, 8}},
    {C::YellowPlane, {"IMAGE ", "YPLANE", kCaller, 0}},
    {C::MagentaPlane, {"IMAGE ", "MPLANE", kCaller, 0}},
    {C::CyanPlane, {"IMAGE ", "CPLANE", kCaller, 0}},
    {C::Cutter, {"CNTRL ", "CUTTER", kFixed, 8}},
    {C::Start, {"CNTRL ", "START", kNone, 0}},
    {C::TableClear, {"TBL_CL", "", kNone, 0}},
    {C::TableData, {"TBL_WT", "CTRLD_UPDATE_CW", kCaller, 0}},
    {C::TableSetVersion, {"TBL_RD", "Version", kNone, 0}},
    {C::TableVersionName, {"TBL_WT", "Version", kCaller, 0}},
    {C::TableSetChecksum, {"MNT_RD", "CTRLD_CHKSUM", kNone, 0}},
    {tableVersionRead(0), {"TBL_RD", "CWD300_Version", kCaller, 0}},
    {tableVersionRead(1), {"TBL_RD", "CWD310_Version", kCaller, 0}},
    {tableVersionRead(2), {"TBL_RD", "CWD600_Version", kCaller, 0}},
    {tableVersionRead(3), {"TBL_RD", "CWD610_Version", kCaller, 0}},
    {tableVersionRead(4), {"TBL_RD", "CWD620_Version", kCaller, 0}},
    {tableChecksumRead(0), {"TBL_RD", "CWD300_Checksum", kCaller, 0}},
    {tableChecksumRead(1), {"TBL_RD", "CWD310_Checksum", kCaller, 0}},
    {tableChecksumRead(2), {"TBL_RD", "CWD600_Checksum", kCaller, 0}},
    {tableChecksumRead(3), {"TBL_RD", "CWD610_Checksum", kCaller, 0}},
    {tableChecksumRead(4), {"TBL_RD", "CWD620_Checksum", kCaller, 0}},
    {C::CounterLife, {"MNT_RD", "COUNTER_LIFE", kNone, 0}},
    {C::CounterA, {"MNT_RD", "COUNTER_A", kNone, 0}},
    {C::CounterB, {"MNT_RD", "COUNTER_B", kNone, 0}},
    {C::CounterClear, {"MNT_WT", "COUNTER_CLR", kFixed, 4}},
    {C::CounterP, {"MNT_RD", "COUNTER_P", kNone, 0}},
    {C::CounterPSet, {"MNT_WT", "COUNTERP_SET", kFixed, 8}},
    {C::CounterMatte, {"MNT_RD", "COUNTER_MATTE", kNone, 0}},
    {C::CounterM, {"MNT_RD", "COUNTER_M", kNone, 0}},
    {C::FlashRewrite, {"FW_UPD", "FLASH_REWRITE", kNone, 0}},
    {C::FlashProgram, {"FW_UPD", "FLASH_PROGRAM", kCaller, 0}},
    {C::ISerialWrite, {"MNT_WT", "USB_ISERI_SET", kFixed, 4}},
    {C::ISerialRead, {"MNT_RD", "USB_ISERI_SET", kNone, 0}},
};

bool isStrtolSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::optional<CommandSpec> commandSpec(int64_t code) {
  for (const Entry& entry : kCommands) {
    if (static_cast<int64_t>(entry.code) == code) return entry.spec;
  }
  return std::nullopt;
}

QString commandName(int64_t code) {
  const std::optional<CommandSpec> spec = commandSpec(code);
  if (!spec) return QString();
  return QString::fromLatin1(spec->category) + QString::fromLatin1(spec->subKey);
}

Frame buildFrame(int64_t code, QByteArrayView payload) {
  Frame frame;
  const std::optional<CommandSpec> spec = commandSpec(code);
  const PayloadRule rule = spec ? spec->rule : PayloadRule::None;

  qsizetype n = 0;
  switch (rule) {
    case PayloadRule::None:
      break;
    case PayloadRule::CallerLength:
      n = payload.size();
      if (n >= kPayloadLimit) {
        frame.problem = FrameProblem::PayloadTooLarge;
        return frame;
      }
      break;
    case PayloadRule::Fixed:
      // A short payload would leave unset bytes and a long one would run past the field.
      if (payload.size() != spec->fixedSize) {
        frame.problem = FrameProblem::WrongPayloadSize;
        frame.payloadFieldLength = spec->fixedSize;
        return frame;
      }
      n = spec->fixedSize;
      break;
  }
  frame.payloadFieldLength = n;

  QByteArray bytes(kHeaderSize + n, ' ');
  bytes[0] = '\x1B';
  bytes[1] = 'P';
  if (spec) {
    const QByteArray name = QByteArray(spec->category) + QByteArray(spec->subKey);
    std::memcpy(bytes.data() + kNameFieldOffset, name.constData(),
                static_cast<size_t>(std::min(name.size(), kNameFieldSize)));
  } else {
    frame.problem = FrameProblem::UnnamedCode;
  }
  if (n != 0) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%08zd", static_cast<ssize_t>(n));
    std::memcpy(bytes.data() + kLengthFieldOffset, digits, kLengthFieldSize);
    std::memcpy(bytes.data() + kHeaderSize, payload.data(), static_cast<size_t>(n));
  }
  frame.bytes = bytes;
  return frame;
}

std::optional<uint32_t> parseReplyLength(QByteArrayView header) {
  const qsizetype end = std::min(header.size(), kReplyHeaderSize);
  qsizetype i = 0;
  while (i < end && header[i] != '\0' && isStrtolSpace(header[i])) ++i;
  bool negative = false;
  if (i < end && (header[i] == '+' || header[i] == '-')) {
    negative = header[i] == '-';
    ++i;
  }
  int64_t value = 0;  // 8 digits at most: no overflow
  const qsizetype firstDigit = i;
  while (i < end && header[i] >= '0' && header[i] <= '9') {
    value = value * 10 + (header[i] - '0');
    ++i;
  }
  // Blanks or garbage announce no length: a malformed reply, not an empty one.
  if (i == firstDigit) return std::nullopt;
  if (negative) value = -value;
  // A negative count becomes a huge unsigned one, which the limit rejects.
  const uint32_t count = static_cast<uint32_t>(value);
  if (count > kReplyBodyLimit) return std::nullopt;
  return count;
}

QByteArray replyBuffer(QByteArrayView received, uint32_t count) {
  const qsizetype used = std::min<qsizetype>(received.size(), count);
  const qsizetype size = std::max<qsizetype>(kReplyMinimumBuffer, qsizetype(count) + 1);
  QByteArray buffer(size, '\0');
  if (used > 0) std::memcpy(buffer.data(), received.data(), static_cast<size_t>(used));
  for (qsizetype i = 0; i < used; ++i) {
    if (buffer[i] == '\r') {
      buffer[i] = '\0';
      buffer.truncate(i + 1);
      break;
    }
  }
  return buffer;
}

std::optional<QString> replyText(QByteArrayView reply) {
  const qsizetype nul = reply.indexOf('\0');
  const QByteArrayView text = nul < 0 ? reply : reply.first(nul);
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString result = decoder.decode(text);
  if (decoder.hasError()) return std::nullopt;
  // An empty text is a text ("", not none): a body that starts with a carriage return.
  if (result.isNull()) result = QLatin1String("");
  return result;
}

int32_t intValue(QStringView text) {
  qsizetype i = 0;
  while (i < text.size() && text[i].isSpace()) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  constexpr int64_t kMax = INT32_MAX;
  constexpr int64_t kMin = -int64_t(INT32_MIN);  // magnitude of the lowest value
  int64_t magnitude = 0;
  while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
    magnitude = std::min<int64_t>(magnitude * 10 + (text[i].unicode() - u'0'), kMin);
    ++i;
  }
  if (negative) return static_cast<int32_t>(-magnitude);
  return static_cast<int32_t>(std::min(magnitude, kMax));
}

double doubleValue(QStringView text) {
  qsizetype i = 0;
  while (i < text.size() && text[i].isSpace()) ++i;
  const qsizetype start = i;
  auto digits = [&] {
    const qsizetype from = i;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') ++i;
    return i - from;
  };
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
  qsizetype mantissa = digits();
  if (i < text.size() && text[i] == u'.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return 0.0;
  qsizetype end = i;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
    if (digits() > 0) end = i;
  }
  bool ok = false;
  const double value = text.sliced(start, end - start).toString().toDouble(&ok);
  return ok ? value : 0.0;
}

}  // namespace pm::framing
