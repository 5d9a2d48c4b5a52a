// TBUSBPrinterOLM: the status poll of the update phases. Each round opens the interface and reads
// the status; the comparison happens on the main queue where the reply lands, and the next round
// is a timer on the printer's command queue, so the main queue never waits.

#include "support/MainQueue.h"
#include "support/SystemLog.h"
#include "vendor/TBUSBPrinterOLM.h"

namespace {
constexpr int kPollPauseMs = 500;
}  // namespace

void TBUSBPrinterOLM::waitForPrinterStatusCode(const QString& code) {
  auto printer = self();
  auto nextRound = [printer, code] {
    printer->performAfterOnCommandQueue(kPollPauseMs, [printer, code] { printer->waitForPrinterStatusCode(code); });
  };
  openInterface([printer, code, nextRound](IOReturn result) {
    if (result == kIOReturnNoDevice) return;
    // A printer that was let go answers every open with an error; it never comes back.
    if (printer->hasGone() || !printer->interfaceInterface()) {
      pm::systemLogf("status poll for %s ends: the printer has gone", printer->descriptionUTF8().constData());
      return;
    }
    if (result != kIOReturnSuccess) {
      nextRound();
      return;
    }
    printer->getPrinterStatus([printer, code, nextRound](const StatusCode& reported) {
      Q_ASSERT(pm::isMainQueue());
      // Display texts are compared: two unknown codes count as the same.
      if (stringForKTStatusString(reported) == stringForKTStatusString(code)) return;
      if (printer->hasGone()) return;
      nextRound();
    });
  });
}

// One status read whose completion always runs (on the main queue), so no wait of the update can
// end in silence: nullopt when the printer could not be opened or gave no reply.
void TBUSBPrinterOLM::readStatusOnce(StatusCompletion completion) {
  auto printer = self();
  openInterface([printer, completion = std::move(completion)](IOReturn result) {
    if (result != kIOReturnSuccess) {
      pm::performAsyncOnMainQueue([completion] { if (completion) completion(std::nullopt); });
      return;
    }
    printer->sendPrinterCommand([printer] { printer->sendPrinterCommand(int32_t(0)); }, nullptr,
                                [printer, completion](const QByteArray& reply) {
                                  Q_ASSERT(pm::isMainQueue());
                                  StatusCode code;
                                  if (reply.isEmpty()) {
                                    pm::systemLog(QStringLiteral("Received a null printer status reply"));
                                  } else {
                                    code = replyText(reply);
                                    printer->setPrinterStatus(stringForKTStatusString(code));
                                  }
                                  if (completion) completion(code);
                                });
  });
}
