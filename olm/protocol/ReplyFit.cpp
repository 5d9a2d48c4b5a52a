#include "olm/protocol/ReplyFit.h"

#include <algorithm>

#include "olm/protocol/Framing.h"

namespace pm::framing {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\0'; }

// The text of a body: up to its first carriage return, trimmed.
QByteArrayView textOf(QByteArrayView body) {
  const qsizetype end = body.indexOf('\r');
  QByteArrayView text = end < 0 ? body : body.first(end);
  while (!text.isEmpty() && isBlank(text.front())) text = text.sliced(1);
  while (!text.isEmpty() && isBlank(text.back())) text.chop(1);
  return text;
}

bool allDigits(QByteArrayView text) { return std::all_of(text.begin(), text.end(), isDigit); }

bool isCounter(int64_t code) {
  switch (Command(code)) {
    case Command::CounterLife:
    case Command::CounterA:
    case Command::CounterB:
    case Command::CounterP:
    case Command::CounterMatte:
    case Command::CounterM:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::optional<uint32_t> headerCount(QByteArrayView header) {
  if (header.size() != kReplyHeaderSize) return std::nullopt;
  qsizetype i = 0;
  while (i < header.size() && header[i] == ' ') ++i;
  uint32_t count = 0;
  for (; i < header.size(); ++i) {
    if (!isDigit(header[i])) return std::nullopt;
    count = count * 10 + uint32_t(header[i] - '0');
  }
  return count;
}

bool lengthFits(int64_t code, uint32_t count) {
  if (count > kReplyBodyLimit) return false;
  if (code == int64_t(Command::Status) || isCounter(code)) return count <= 16;
  if (code == int64_t(Command::FirmwareVersion) || code == int64_t(Command::SerialNumber)) return count <= 64;
  if (code == int64_t(Command::ISerialRead)) return count <= 8;
  return true;
}

bool formFits(int64_t code, QByteArrayView body) {
  const QByteArrayView text = textOf(body);
  if (text.isEmpty()) return true;
  if (isCounter(code)) return allDigits(text.startsWith("CL") ? text.sliced(2) : text);
  if (code == int64_t(Command::ISerialRead)) return allDigits(text);
  if (code == int64_t(Command::FirmwareVersion))
    return !allDigits(text.startsWith("CL") ? text.sliced(2) : text);
  return true;
}

}  // namespace pm::framing
