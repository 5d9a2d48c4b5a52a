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
