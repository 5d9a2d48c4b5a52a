// TBUSBPrinterOLM: the status poll of the update phases. Each round opens the interface and reads
// the status; the comparison happens on the main queue where the reply lands, and the next round
// is a timer on the printer's command queue, so the main queue never waits.

#include <algorithm>
#include <atomic>

#include "olm/printer/TBUSBPrinterOLM.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

namespace {
constexpr int kPollPauseMs = 500;
std::atomic<int> pollLimit{60};
}  // namespace

void TBUSBPrinterOLM::setStatusPollLimit(int rounds) { pollLimit = std::max(rounds, 1); }
int TBUSBPrinterOLM::statusPollLimit() { return pollLimit; }

void TBUSBPrinterOLM::waitForPrinterStatusCode(const QString& code) { pollPrinterStatus(code, pollLimit); }

void TBUSBPrinterOLM::pollPrinterStatus(const QString& code, int roundsLeft) {
  auto printer = self();
  auto nextRound = [printer, code, roundsLeft] {
    // A printer that keeps reporting an error would otherwise be asked twice a second for as long
    // as the application runs, and never given back.
    if (roundsLeft <= 1) {
      pm::systemLogf("status poll for %s ends: no \"%s\" after %d rounds",
                     printer->descriptionUTF8().constData(), qPrintable(code), statusPollLimit());
      return;
    }
    printer->performAfterOnCommandQueue(
        kPollPauseMs, [printer, code, roundsLeft] { printer->pollPrinterStatus(code, roundsLeft - 1); });
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
