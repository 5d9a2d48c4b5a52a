// The vendor command language on the printer's bulk pipes: command names, one frame per command
// written in one bulk write, one length-prefixed reply read per exchange, and the error hook.
#include <algorithm>

#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/protocol/Framing.h"
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
  pm::systemLogf("sending printer command %s with payload size %u", qPrintable(stringForCommandCode(code)),
                 static_cast<unsigned>(frame.payloadFieldLength));
  ZOVRAN_Log::logData(frame.bytes.first(std::min(frame.bytes.size(), kLoggedFrameBytes)));

  if (writeToInterfaceWithData(frame.bytes)) return;
  pm::systemLogf("ERROR: writeToInterfaceWithData: [%x] (%s)", static_cast<unsigned>(writeStatus()),
                 pm::stringForIOReturn(writeStatus()));
  errorWithString(tr("Communication error"), 0);
}

// Reads the pipe directly (not through interfaceReadDataOfSize) so that the bytes actually
// received are known: the body's text ends where the printer stopped sending.
QByteArray TBUSBPrinterOLM::printerReply() {
  Q_ASSERT(isPrinterCommandQueue());
  const std::shared_ptr<usb::UsbInterface> interface = interfaceInterface();
  const uint8_t pipe = bulkIN();
  auto readInto = [&](char* buffer, uint32_t wanted, uint32_t* received) {
    *received = 0;
    IOReturn result = kIOReturnError;  // the interface reference has been dropped
    if (interface) {
      *received = wanted;
      result = interface->readPipe(pipe, buffer, received, kBulkTimeoutMs, kBulkTimeoutMs);
      *received = std::min(*received, wanted);
    }
    setReadStatus(result);
    return result;
  };
  auto logBadRead = [this](IOReturn result) {
    pm::systemLogf("bad read (%s) on backchannel of %s", pm::stringForIOReturn(result),
                   descriptionUTF8().constData());
  };

  char header[pm::framing::kReplyHeaderSize] = {};
  uint32_t received = 0;
  IOReturn result = readInto(header, sizeof header, &received);
  pm::systemLogf("reading backchannel for %u bytes on %s", received, descriptionUTF8().constData());
  if (result != kIOReturnSuccess) {
    logBadRead(result);
    return QByteArray();
  }

  const std::optional<uint32_t> count = pm::framing::parseReplyLength(QByteArrayView(header, received));
  if (!count) {
    // The announced body is read and dropped: left in the pipe it would answer the next command.
    drainBulkIn();
    errorWithString(QString::asprintf(qPrintable(tr("Internal error L%d")), 2099), 0);
    return QByteArray();
  }

  QByteArray body(std::max<qsizetype>(pm::framing::kReplyMinimumBuffer, qsizetype(*count) + 1), '\0');
  result = readInto(body.data(), *count, &received);
  if (result != kIOReturnSuccess) {
    logBadRead(result);
    return QByteArray();
  }
  noteInterfaceUse();
  return pm::framing::replyBuffer(QByteArrayView(body.constData(), received), *count);
}

// The messages are discarded: the write-failure and read-failure log lines already record what
// the user could act on.
void TBUSBPrinterOLM::errorWithString(const QString& message, int64_t code) {
  Q_UNUSED(message);
  Q_UNUSED(code);
}
