#pragma once
// Cuts the byte stream a printer receives on its bulk-out pipe into command frames: ESC 'P', a
// 22-byte command name padded with blanks, an 8-byte length field (eight decimal digits, or eight
// blanks for no payload) and that many payload bytes. A frame may span several bulk transfers and
// one transfer may carry several frames. Bytes that do not start a frame are skipped up to the
// next ESC 'P' and counted.
//
// Threading: not thread-safe; the virtual printer calls it under its own lock.

#include <vector>

#include <QByteArray>
#include <QString>

namespace sim {

// One command frame as the printer received it.
struct ReceivedFrame {
  QString command;               // the name field without trailing blanks: "INFO  FVER", "STATUS"
  QString category;              // the first 6 characters without blanks: "INFO"
  QString subKey;                // the rest without blanks: "FVER"
  QByteArray lengthField;        // the 8 characters as received
  bool lengthFieldValid = true;  // eight digits or eight blanks
  QByteArray payload;
  QString summary;  // one printable line for logs and test failure messages
};

class FrameParser {
 public:
  // Appends received bytes and returns the frames they complete, in order.
  std::vector<ReceivedFrame> feed(const QByteArray& bytes);
  // Forgets a partly received frame (the printer restarted or was reset).
  void reset();

  qsizetype skippedBytes() const { return skippedBytes_; }
  bool hasPartialFrame() const { return !buffer_.isEmpty(); }

 private:
  bool dropToFrameStart();

  QByteArray buffer_;
  qsizetype skippedBytes_ = 0;
};

}  // namespace sim
