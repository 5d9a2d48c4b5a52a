// TBUSBPrinter: the command queue: its creation, running work on it, the command-and-reply
// exchange, the hop to the main queue, the bulk transfers and the probe.

#include "support/MainQueue.h"
#include "support/NameTables.h"
#include "support/SystemLog.h"
#include "usb/TBUSBPrinter.h"
#include "usb/TBUSBPrinterPrivate.h"

namespace {

const char* const kMissingCommandBlock = "you must supply a commandBlock";

}  // namespace

void TBUSBPrinter::createCommandQueue() {
  Q_ASSERT(!queue_);
  // Named after the device key until the device ID tells who the printer is.
  queue_ = std::make_unique<pm::SerialQueue>(
      QStringLiteral("org.printermaintenance.printer.%1").arg(keyUSBdevice()));
}

void TBUSBPrinter::nameCommandQueue(const QString& manufacturer, const QString& model,
                                    const QString& serialNumber) {
  queue_->setLabel(QStringLiteral("org.printermaintenance.printer.%1.%2.%3")
                       .arg(QString::fromUtf8(tbusb::objectText(manufacturer)),
                            QString::fromUtf8(tbusb::objectText(model)),
                            QString::fromUtf8(tbusb::objectText(serialNumber))));
  pm::systemLogf("printer command queue:%s", qUtf8Printable(queue_->label()));
}

bool TBUSBPrinter::isPrinterCommandQueue() const { return !queue_ || queue_->isCurrent(); }

void TBUSBPrinter::performInlineOnCommandQueue(Block block) {
  if (!block) return;
  if (isPrinterCommandQueue()) {
    block();
  } else {
    queue_->async([keep = tbusb::keepAlive(this), block = std::move(block)] { block(); });
  }
}

void TBUSBPrinter::performAfterOnCommandQueue(int delayMs, Block block) {
  if (!block) return;
  auto run = [keep = tbusb::keepAlive(this), block = std::move(block)] { block(); };
  if (queue_) {
    queue_->asyncAfter(delayMs, std::move(run));
  } else {
    // Without a queue the work belongs to the main thread, where the timer can be made.
    pm::SerialQueue::main().asyncAfter(delayMs, std::move(run));
  }
}

void TBUSBPrinter::performSyncOnMainQueue(const Block& block) { pm::performSyncOnMainQueue(block); }

bool TBUSBPrinter::isMainQueue() { return pm::isMainQueue(); }

// ---- Exchanges ---------------------------------------------------------------------------------

void TBUSBPrinter::sendNoReplyPrinterCommand(Block command) {
  if (!command) {
    pm::systemLog(QString::fromLatin1(kMissingCommandBlock));
    return;
  }
  performInlineOnCommandQueue(std::move(command));
}

void TBUSBPrinter::sendPrinterCommand(Block command, pm::SerialQueue* replyQueue, ReplyBlock reply) {
  if (!command) {
    pm::systemLog(QString::fromLatin1(kMissingCommandBlock));
    return;
  }
  // Command and reply read are one block, so nothing else for the printer comes between them.
  performInlineOnCommandQueue([this, command = std::move(command), replyQueue, reply = std::move(reply)] {
    command();
    // Not read from once quitting: it may answer nothing for the whole time-out.
    const QByteArray data = d_->access.abandoned() ? QByteArray() : printerReply();
    if (!reply) return;
    if (replyQueue != nullptr && replyQueue == queue_.get()) {
      reply(data);
      return;
    }
    auto deliver = [keep = tbusb::keepAlive(this), reply, data] { reply(data); };
    if (replyQueue != nullptr) {
      replyQueue->async(std::move(deliver));
    } else {
      pm::SerialQueue::main().async(std::move(deliver));
    }
  });
}

// ---- Bulk transfers ------------------------------------------------------------------------------

bool TBUSBPrinter::writeToInterfaceWithData(const QByteArray& data) {
  Q_ASSERT(isPrinterCommandQueue());
  pm::systemLogf("writing to %s interface with %lu byte payload", descriptionUTF8().constData(),
                 static_cast<unsigned long>(data.size()));
  const std::shared_ptr<usb::UsbInterface> interface = d_->access.interface();
  if (!interface || d_->access.abandoned()) {
    // Quitting: a device that answers nothing would hold the queue, and with it the end of the
    // process, for the whole time-out.
    writeStatus_ = kIOReturnError;
    return false;
  }
  writeStatus_ = interface->writePipe(d_->access.bulkOUT(), data.constData(),
                                      static_cast<uint32_t>(data.size()), kBulkTimeoutMs, kBulkTimeoutMs);
  noteInterfaceUse();
  return writeStatus_ == kIOReturnSuccess;
}

usb::BulkInPipe& TBUSBPrinter::bulkInPipe() { return d_->bulkIn; }

uint32_t TBUSBPrinter::drainBulkIn() {
  Q_ASSERT(isPrinterCommandQueue());
  const std::shared_ptr<usb::UsbInterface> interface = d_->access.interface();
  if (!interface || d_->access.interfaceStatus() != TBUSBInterfaceStatusOpen) return 0;
  const usb::BulkInPipe::Dropped dropped =
      d_->bulkIn.settle(*interface, d_->access.bulkIN(), kBulkTimeoutMs,
                        [this](const QByteArray& gathered) { return isWholeReply(gathered); });
  if (dropped.bytes > 0) {
    pm::systemLogf("dropped %u unread bytes from the backchannel of %s: %s%s", dropped.bytes,
                   descriptionUTF8().constData(), dropped.head.toHex(' ').constData(),
                   dropped.bytes > static_cast<uint32_t>(dropped.head.size()) ? " ..." : "");
    noteInterfaceUse();
  }
  if (dropped.failure == kIOReturnNoDevice) {
    pm::systemLogf("bad read (%s) on backchannel of %s", pm::stringForIOReturn(dropped.failure),
                   descriptionUTF8().constData());
  }
  return dropped.bytes;
}

QByteArray TBUSBPrinter::interfaceReadDataOfSize(uint32_t size) {
  Q_ASSERT(isPrinterCommandQueue());
  const std::shared_ptr<usb::UsbInterface> interface = d_->access.interface();
  if (!interface || d_->access.abandoned()) {
    readStatus_ = kIOReturnError;
    return {};
  }
  // Bytes the printer does not send stay 0: the answer always has the size asked for.
  QByteArray buffer(static_cast<qsizetype>(size), '\0');
  uint32_t received = size;
  readStatus_ =
      interface->readPipe(d_->access.bulkIN(), buffer.data(), &received, kBulkTimeoutMs, kBulkTimeoutMs);
  if (readStatus_ != kIOReturnSuccess) return {};
  if (buffer.isNull()) buffer = QByteArray("", 0);
  return buffer;
}

// ---- Probe ---------------------------------------------------------------------------------------

void TBUSBPrinter::probe() {
  pm::systemLogf("running probe on %s", descriptionUTF8().constData());
  performInlineOnCommandQueue([this] { getDeviceCustomInfo(); });
}

void TBUSBPrinter::updateInfo() {
  performInlineOnCommandQueue([this] { probe(); });
}
