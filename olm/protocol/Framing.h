#pragma once
// The vendor command language as pure functions: the command table, the frame builder and the
// reply parser. They touch no printer and no shared state, so they can be tested and fuzzed on
// their own. [any]
//
// Frame: ESC 'P', the command name left-aligned in 22 blanks, the payload-field length as
// 8 decimal digits ("%08zd") or 8 blanks when there is no payload field, then the payload field.
// Reply: an 8-byte decimal length header, then a text body of that many bytes (at most 4096);
// a carriage return ends its meaningful part.

#include <cstddef>
#include <cstdint>
#include <optional>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace pm::framing {

inline constexpr qsizetype kHeaderSize = 32;
inline constexpr qsizetype kNameFieldOffset = 2;
inline constexpr qsizetype kNameFieldSize = 22;
inline constexpr qsizetype kLengthFieldOffset = 24;
inline constexpr qsizetype kLengthFieldSize = 8;
// The length field has 8 digits; a payload field must be shorter than this.
inline constexpr qsizetype kPayloadLimit = 100000000;

inline constexpr qsizetype kReplyHeaderSize = 8;
inline constexpr uint32_t kReplyBodyLimit = 4096;
inline constexpr qsizetype kReplyMinimumBuffer = 256;

// The printer's commands, by the codes of the command table (Framing.cpp). The codes never
// travel on the wire: the table maps each to its wire name and payload rule.
enum class Command : int32_t {
  Status = 0,
  FirmwareVersion = 1,
  SerialNumber = 2,
  Media = 4,
  FreeBuffer = 8,
  MediaQuantity = 9,
  MultiCut = 23,
  Overcoat = 24,
  YellowPlane = 25,
  MagentaPlane = 26,
  CyanPlane = 27,
  Cutter = 28,
  Start = 30,
  TableClear = 32,
  TableData = 33,
  TableSetVersion = 34,   // the combined family's one version
  TableVersionName = 35,  // selects the table the next TableData fills
  TableSetChecksum = 36,  // the combined family's checksum over all its tables
  Table300Version = 37,   // 37..41: tables 300, 310, 600, 610, 620 (tableVersionRead)
  Table300Checksum = 42,  // 42..46: the same tables' checksums (tableChecksumRead)
  CounterLife = 47,
  CounterA = 48,
  CounterB = 49,
  CounterClear = 50,
  CounterP = 51,
  CounterPSet = 52,
  CounterMatte = 53,
  CounterM = 54,
  FlashRewrite = 55,
  FlashProgram = 56,
  ISerialWrite = 57,
  ISerialRead = 58,
};

// The version and checksum reads of the per-media tables by index: 0..4 for 300, 310, 600, 610,
// 620.
constexpr Command tableVersionRead(int index) { return Command(int32_t(Command::Table300Version) + index); }
constexpr Command tableChecksumRead(int index) { return Command(int32_t(Command::Table300Checksum) + index); }

// How a command's payload field is sized.
enum class PayloadRule {
  None,          // no payload field; a payload passed is ignored
  CallerLength,  // as long as the payload passed (0 for none)
  Fixed,         // exactly fixedSize bytes
};

struct CommandSpec {
  const char* category = nullptr;  // 6 characters
  const char* subKey = nullptr;    // may be empty
  PayloadRule rule = PayloadRule::None;
  qsizetype fixedSize = 0;
};

// The table entry of a code; nullopt for a code without a name.
std::optional<CommandSpec> commandSpec(int64_t code);
inline std::optional<CommandSpec> commandSpec(Command command) { return commandSpec(int64_t(command)); }
// Category followed by sub-key; a null QString for a code without a name.
QString commandName(int64_t code);

// What buildFrame made of a request.
enum class FrameProblem {
  None,
  UnnamedCode,       // the frame was built with a blank name field
  WrongPayloadSize,  // a fixed-size code got another size: no frame
  PayloadTooLarge,   // the length would not fit 8 digits: no frame
};

struct Frame {
  QByteArray bytes;  // empty when the request was rejected
  qsizetype payloadFieldLength = 0;
  FrameProblem problem = FrameProblem::None;
  bool rejected() const { return bytes.isEmpty(); }
};

// Builds the frame of one command. A null payload counts as no payload.
Frame buildFrame(int64_t code, QByteArrayView payload);
inline Frame buildFrame(Command command, QByteArrayView payload) {
  return buildFrame(int64_t(command), payload);
}

// The body length announced by a reply header, read as strtol does (leading white space, a
// sign, digits up to the first other byte) from at most the first 8 bytes, and taken as an
// unsigned 32-bit count. nullopt when it holds no digit (a malformed reply) or exceeds
// kReplyBodyLimit.
std::optional<uint32_t> parseReplyLength(QByteArrayView header);

// The reply buffer made from the body bytes received for an announced `count`: the bytes up to
// the first carriage return followed by a NUL; without a carriage return, the bytes, a NUL and
// zeros up to max(256, count + 1). Bytes beyond `count` are ignored. Never empty.
QByteArray replyBuffer(QByteArrayView received, uint32_t count);

// The text of a reply buffer: its bytes up to the first NUL as UTF-8. nullopt when the bytes
// are not valid UTF-8. (An absent or empty buffer is "no reply"; callers test that first.)
std::optional<QString> replyText(QByteArrayView reply);

// The leading integer of a reply text, read as a string's intValue reads it: leading white space
// skipped, an optional sign, decimal digits up to the first other character; no digits give 0;
// values beyond the 32-bit range clamp to its limits.
int32_t intValue(QStringView text);
// The leading decimal number of a text (white space, sign, digits, a fraction, an exponent);
// 0 when the text does not start with one.
double doubleValue(QStringView text);

}  // namespace pm::framing
