#include "sim/FrameParser.h"

#include <optional>

namespace sim {

namespace {

constexpr qsizetype kHeaderSize = 32;
constexpr qsizetype kNameOffset = 2;
constexpr qsizetype kNameSize = 22;
constexpr qsizetype kLengthOffset = 24;
constexpr qsizetype kLengthSize = 8;
const QByteArray kFrameStart("\x1bP", 2);

// Eight blanks are an empty payload field; eight digits a length; anything else is malformed.
std::optional<qsizetype> payloadLength(const QByteArray& field) {
  if (field == QByteArray(kLengthSize, ' ')) return 0;
  qsizetype value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

QString printable(const QByteArray& bytes) {
  QString text;
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    text += (u >= 0x20 && u < 0x7f) ? QString(QLatin1Char(c))
                                    : QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
  }
  return text;
}

QString summarise(const ReceivedFrame& frame) {
  constexpr qsizetype kPreview = 24;
  QString line = QStringLiteral("%1 [%2]").arg(frame.command, printable(frame.lengthField));
  if (!frame.payload.isEmpty()) {
    line += QStringLiteral(" %1 bytes: %2")
                .arg(frame.payload.size())
                .arg(printable(frame.payload.left(kPreview)));
    if (frame.payload.size() > kPreview) line += QStringLiteral("...");
  }
  return line;
}

}  // namespace

std::vector<ReceivedFrame> FrameParser::feed(const QByteArray& bytes) {
  buffer_.append(bytes);
  std::vector<ReceivedFrame> frames;
  while (dropToFrameStart() && buffer_.size() >= kHeaderSize) {
    ReceivedFrame frame;
    frame.lengthField = buffer_.mid(kLengthOffset, kLengthSize);
    const std::optional<qsizetype> length = payloadLength(frame.lengthField);
    frame.lengthFieldValid = length.has_value();
    // A malformed length announces no payload: whatever follows is skipped as stray bytes.
    const qsizetype payloadSize = length.value_or(0);
    if (buffer_.size() - kHeaderSize < payloadSize) {
      // The rest is still on its way (a firmware image comes in pieces): room for all of it at
      // once, not a reallocation and a copy at every doubling.
      buffer_.reserve(kHeaderSize + payloadSize);
      break;
    }

    const QString name = QString::fromLatin1(buffer_.mid(kNameOffset, kNameSize));
    frame.command = name.trimmed();
    frame.category = name.left(6).trimmed();
    frame.subKey = name.mid(6).trimmed();
    frame.payload = buffer_.mid(kHeaderSize, payloadSize);
    frame.summary = summarise(frame);
    buffer_.remove(0, kHeaderSize + payloadSize);
    frames.push_back(std::move(frame));
  }
  return frames;
}

void FrameParser::reset() { buffer_.clear(); }

// Leaves the buffer starting at ESC 'P'; false when no frame start is in it yet.
bool FrameParser::dropToFrameStart() {
  if (buffer_.startsWith(kFrameStart)) return true;
  qsizetype start = buffer_.indexOf(kFrameStart);
  if (start < 0) {
    // A lone ESC at the end may be the first half of the next frame start.
    start = buffer_.endsWith('\x1b') ? buffer_.size() - 1 : buffer_.size();
  }
  skippedBytes_ += start;
  buffer_.remove(0, start);
  return buffer_.startsWith(kFrameStart);
}

}  // namespace sim
