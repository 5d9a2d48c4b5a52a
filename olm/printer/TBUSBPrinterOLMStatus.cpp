// The printer's status: the "STATUS" exchange and the display texts of its codes.
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/protocol/Framing.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

QString TBUSBPrinterOLM::stringForKTStatusString(const StatusCode& code) {
  // The update-mode code is matched whole, before any numeric reading (it has no leading digits).
  if (code && *code == kUpdateModeCode) return QStringLiteral("Firmware Update Mode");
  if (!code) return QStringLiteral("<NULL>");
  if (*code == kMalformedCode) return QStringLiteral("Unknown Status");
  switch (pm::framing::intValue(*code)) {
    case 0:
      return QStringLiteral("Idle");
    case 1:
      return QStringLiteral("Printing");
    case 500:
      return QStringLiteral("Head cool down cycle");
    case 510:
      return QStringLiteral("Motor cool down cycle");
    case 900:
      return QStringLiteral("Sleeping (standby mode)");
    case 1000:
      return QStringLiteral("Cover Open");
    case 1010:
      return QStringLiteral("Scrap Box Missing");
    case 1100:
      return QStringLiteral("Paper End");
    case 1200:
      return QStringLiteral("Ribbon End");
    case 1300:
      return QStringLiteral("Paper Jam");
    case 1400:
      return QStringLiteral("Ribbon Error");
    case 1500:
      return QStringLiteral("Wrong Paper");
    case 1600:
      return QStringLiteral("Bad Data");
    case 2000:
      return QStringLiteral("Head Voltage Error");
    case 2100:
      return QStringLiteral("Head Position Error");
    case 2200:
      return QStringLiteral("Power supply Error");
    case 2300:
      return QStringLiteral("Cutter Error");
    case 2400:
      return QStringLiteral("Pinch Roller Error");
    case 2500:
      return QStringLiteral("Head Temp High Error");
    case 2600:
      return QStringLiteral("Media Temp Error");
    case 2610:
      return QStringLiteral("Motor Temp Error");
    case 2700:
      return QStringLiteral("Ribbon Tension Error");
    case 2800:
      return QStringLiteral("RFID Module Error");
    case 3000:
      return QStringLiteral("System Fail Error");
  }
  return QStringLiteral("Unknown Status");
}

// The reply is handled on the main queue: the status text is an observed property set there,
// and the callers (attach sequence, update waits) decide there. The completion always runs, so no
// wait ends in silence: nullopt when the printer could not be opened or gave no reply (the text
// then stays as it was).
void TBUSBPrinterOLM::getPrinterStatus(const StatusCompletion& completion) {
  auto self = std::static_pointer_cast<TBUSBPrinterOLM>(shared_from_this());
  openInterface([self, completion](IOReturn result) {
    if (result != kIOReturnSuccess) {
      pm::performAsyncOnMainQueue([completion] { completion(std::nullopt); });
      return;
    }
    // Whether the read brought a header at all is known on the queue only, right after the read.
    self->sendPrinterCommand(
        [self] { self->sendPrinterCommand(pm::framing::Command::Status); }, self->printerCommandQueue(),
        [self, completion](const QByteArray& reply) {
          const bool malformed = reply.isEmpty() && self->readStatus() == kIOReturnSuccess;
          pm::performAsyncOnMainQueue([self, completion, reply, malformed] {
            StatusCode code;
            if (malformed) {
              // A header without a length is no empty reply: the status is not known.
              pm::systemLog(
                  QStringLiteral("malformed printer status reply (its header states no length) ... "
                                 "status unknown"));
              code = kMalformedCode;
              self->setPrinterStatus(stringForKTStatusString(code));
            } else if (reply.isEmpty()) {
              pm::systemLog(QStringLiteral("Received a null printer status reply ... will try again later"));
            } else {
              code = pm::framing::replyText(reply);
              self->setPrinterStatus(stringForKTStatusString(code));
            }
            completion(code);
          });
        });
  });
}
