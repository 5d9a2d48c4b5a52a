// The vendor command language on the printer's bulk pipes: command names, one frame per command
// written in one bulk write, one length-prefixed reply read per exchange, and the error hook.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/protocol/Framing.h"
#include "olm/protocol/ReplyFit.h"
#include "support/NameTables.h"
#include "support/SystemLog.h"
#include "support/ZOVRAN_Log.h"

QString TBUSBPrinterOLM::stringForCommandCode(PrinterCommandCode code) {
  return pm::framing::commandName(code);
}

void TBUSBPrinterOLM::sendPrinterCommand(int32_t code, const QByteArray& payload) {
  Q_ASSERT(isPrinterCommandQueue());
  const pm::framing::Frame frame = pm::framing::buildFrame(code, payload);
  switch (frame.problem) {
    case pm::framing::FrameProblem::None:
      break;
    case pm::framing::FrameProblem::UnnamedCode:
      // Still sent, with a blank name field: the printer answers such frames itself.
      errorWithString(QString::asprintf(qPrintable(tr("Internal error L%d")), 501), 0);
      break;
    case pm::framing::FrameProblem::WrongPayloadSize:
      // Nothing is written rather than a frame with unset or truncated payload bytes.
      pm::systemLogf("not sending printer command %d: payload of %lld bytes where %lld are required", code,
                     static_cast<long long>(payload.size()),
                     static_cast<long long>(frame.payloadFieldLength));
      errorWithString(QString::asprintf(qPrintable(tr("Internal error L%d")), 509), 0);
      return;
    case pm::framing::FrameProblem::PayloadTooLarge:
      pm::systemLogf("not sending printer command %d: payload of %lld bytes does not fit the length field",
                     code, static_cast<long long>(payload.size()));
      errorWithString(QString::asprintf(qPrintable(tr("Internal error L%d")), 509), 0);
      return;
  }

  // Whatever an earlier exchange left in the pipe would otherwise be read as this one's reply.
  drainBulkIn();
  lastCommand_ = code;
  pm::systemLogf("sending printer command %s with payload size %u", qPrintable(stringForCommandCode(code)),
                 static_cast<unsigned>(frame.payloadFieldLength));
  ZOVRAN_Log::logData(frame.bytes.first(std::min(frame.bytes.size(), kLoggedFrameBytes)));

  if (writeToInterfaceWithData(frame.bytes)) return;
  pm::systemLogf("ERROR: writeToInterfaceWithData: [%x] (%s)", static_cast<unsigned>(writeStatus()),
                 pm::stringForIOReturn(writeStatus()));
  errorWithString(tr("Communication error"), 0);
}

// Reads the pipe directly (not through interfaceReadDataOfSize) so that the bytes actually
// received are known: the body's text ends where the printer stopped sending. What does not fit
// the command just sent (olm/protocol/ReplyFit.h) is dropped and the read goes on, all within the
// one reply time-out: the answer may still follow it.
QByteArray TBUSBPrinterOLM::printerReply() {
  Q_ASSERT(isPrinterCommandQueue());
  const std::shared_ptr<usb::UsbInterface> interface = interfaceInterface();
  const uint8_t pipe = bulkIN();
  auto logBadRead = [this](IOReturn result) {
    pm::systemLogf("bad read (%s) on backchannel of %s", pm::stringForIOReturn(result),
                   descriptionUTF8().constData());
  };
  if (!interface) {
    setReadStatus(kIOReturnError);  // the interface reference has been dropped
    logBadRead(kIOReturnError);
    return QByteArray();
  }
  usb::BulkInPipe& bulkIn = bulkInPipe();
  auto logDropped = [this](const char* what, QByteArrayView bytes) {
    pm::systemLogf("dropped %s on the backchannel of %s (%s expected): %s", what,
                   descriptionUTF8().constData(),
                   qPrintable(stringForCommandCode(PrinterCommandCode(lastCommand_))),
                   bytes.first(std::min<qsizetype>(bytes.size(), 32)).toByteArray().toHex(' ').constData());
  };
  const auto deadline = usb::BulkInPipe::Clock::now() + std::chrono::milliseconds(kBulkTimeoutMs);
  char header[pm::framing::kReplyHeaderSize] = {};
  uint32_t carried = 0;      // header bytes kept from bytes that were no header
  bool onlyNoReply = false;  // what came were bytes that are no reply
  for (;;) {
    uint32_t received = 0;
    IOReturn result =
        bulkIn.readUntil(*interface, pipe, header + carried, sizeof header - carried, &received, deadline);
    received += std::exchange(carried, 0);
    setReadStatus(result);
    pm::systemLogf("reading backchannel for %u bytes on %s", received, descriptionUTF8().constData());
    if (result != kIOReturnSuccess) {
      logBadRead(result);
      // The printer answered, with bytes that are no reply: a malformed answer, not silence (the
      // status read tells the two apart by the read status).
      if (onlyNoReply && result == kIOReturnTimeout) setReadStatus(kIOReturnSuccess);
      return QByteArray();
    }
    const QByteArrayView headerBytes(header, sizeof header);
    const std::optional<uint32_t> count = pm::framing::headerCount(headerBytes);
    if (!count) {
      // No length: bytes that are no reply. What may begin a header (digits and blanks after the
      // last other byte) is kept, so a reply right behind them is still read whole.
      const auto other =
          std::find_if(std::make_reverse_iterator(header + sizeof header), std::make_reverse_iterator(header),
                       [](char c) { return c != ' ' && (c < '0' || c > '9'); });
      const auto garbage = static_cast<uint32_t>(std::distance(other, std::make_reverse_iterator(header)));
      logDropped("bytes that are no reply", headerBytes.first(garbage));
      onlyNoReply = true;
      carried = uint32_t(sizeof header) - garbage;
      std::memmove(header, header + garbage, carried);
      continue;
    }
    if (!pm::framing::lengthFits(lastCommand_, *count)) {
      if (*count > pm::framing::kReplyBodyLimit)
        errorWithString(QString::asprintf(qPrintable(tr("Internal error L%d")), 2099), 0);
      // Another command's reply or an over-long one: its body is read and dropped.
      logDropped("a reply whose length does not fit", headerBytes);
      QByteArray skipped(std::min(*count, usb::BulkInPipe::kDropLimit), '\0');
      result =
          bulkIn.readUntil(*interface, pipe, skipped.data(), uint32_t(skipped.size()), &received, deadline);
      if (result != kIOReturnSuccess) {
        setReadStatus(result);
        logBadRead(result);
        return QByteArray();
      }
      continue;
    }
    QByteArray body(std::max<qsizetype>(pm::framing::kReplyMinimumBuffer, qsizetype(*count) + 1), '\0');
    result =
        bulkIn.readUntil(*interface, pipe, body.data(), *count, &received, deadline, /*untilReturn=*/true);
    setReadStatus(result);
    if (result != kIOReturnSuccess) {
      logBadRead(result);
      return QByteArray();
    }
    const QByteArrayView bodyBytes(body.constData(), received);
    if (!pm::framing::formFits(lastCommand_, bodyBytes)) {
      logDropped("a reply whose text does not fit", bodyBytes);
      continue;
    }
    noteInterfaceUse();
    return pm::framing::replyBuffer(bodyBytes, *count);
  }
}

bool TBUSBPrinterOLM::isWholeReply(const QByteArray& gathered) const {
  if (gathered.size() < pm::framing::kReplyHeaderSize) return false;
  const std::optional<uint32_t> count =
      pm::framing::headerCount(QByteArrayView(gathered).first(pm::framing::kReplyHeaderSize));
  return count && gathered.size() >= pm::framing::kReplyHeaderSize + qsizetype(*count);
}

// The messages are discarded: the write-failure and read-failure log lines already record what
// the user could act on.
void TBUSBPrinterOLM::errorWithString(const QString& message, int64_t code) {
  Q_UNUSED(message);
  Q_UNUSED(code);
}
