// pm::PrinterUpdate: the status poll of the update phases. Each round opens the interface and
// reads the status; the comparison happens on the main queue where the reply lands, and the next
// round is a timer on the printer's command queue, so the main queue never waits.

#include <algorithm>

#include "olm/printer/PrinterUpdate.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

pm::PrinterUpdate::~PrinterUpdate() = default;

void pm::PrinterUpdate::setTimings(const UpdateTimings& timings) {
  const std::lock_guard guard(timingsLock_);
  timings_ = timings;
  timings_.statusPollRounds = std::max(timings_.statusPollRounds, 1);
  timings_.statusPollPauseMs = std::max(timings_.statusPollPauseMs, 1);
}

pm::UpdateTimings pm::PrinterUpdate::timings() const {
  const std::lock_guard guard(timingsLock_);
  return timings_;
}

void pm::PrinterUpdate::waitForPrinterStatusCode(const QString& code) {
  pollPrinterStatus(code, timings().statusPollRounds);
}

void pm::PrinterUpdate::pollPrinterStatus(const QString& code, int roundsLeft) {
  auto printer = printer_.self();
  auto nextRound = [printer, code, roundsLeft] {
    const UpdateTimings timings = printer->update().timings();
    // A printer that keeps reporting an error would otherwise be asked twice a second for as long
    // as the application runs, and never given back.
    if (roundsLeft <= 1) {
      pm::systemLogf("status poll for %s ends: no \"%s\" after %d rounds",
                     printer->descriptionUTF8().constData(), qPrintable(code), timings.statusPollRounds);
      return;
    }
    printer->performAfterOnCommandQueue(timings.statusPollPauseMs, [printer, code, roundsLeft] {
      printer->update().pollPrinterStatus(code, roundsLeft - 1);
    });
  };
  printer_.openInterface([printer, code, nextRound](IOReturn result) {
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
    printer->getPrinterStatus([printer, code, nextRound](const TBUSBPrinterOLM::StatusCode& reported) {
      Q_ASSERT(pm::isMainQueue());
      // Display texts are compared: two unknown codes count as the same.
      if (TBUSBPrinterOLM::stringForKTStatusString(reported) ==
          TBUSBPrinterOLM::stringForKTStatusString(code))
        return;
      if (printer->hasGone()) return;
      nextRound();
    });
  });
}
