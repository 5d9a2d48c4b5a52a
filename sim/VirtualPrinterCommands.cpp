// The printer's side of the vendor command language: what each command does to the printer and
// what it answers. Everything here runs under the printer's lock; anything the bus must do (leave,
// restart) is handed back as a BusAction.

#include <utility>

#include <QRegularExpression>

#include "sim/FirmwareImageCheck.h"
#include "sim/VirtualPrinter.h"
#include "support/SystemLog.h"

namespace sim {

namespace {

const QString kUpdateModeStatus = QStringLiteral("FU00001");

QByteArray digits8(uint32_t value) { return QByteArray::number(value).rightJustified(8, '0'); }

bool knowsMedia(Model model, const QString& firmwareText) {
  // The KTC learned media-specific tables with firmware 4.21.
  return model != Model::KTC || qRound(firmwareNumber(firmwareText) * 100) >= 421;
}

}  // namespace

VirtualPrinter::BusAction VirtualPrinter::handleFrame(const ReceivedFrame& frame) {
  ++commandsReceived_;
  if (unplugAt_ > 0 && static_cast<int64_t>(commandsReceived_) == unplugAt_) {
    unplugAt_ = 0;
    pm::systemLog(
        QStringLiteral("virtual printer %1: unplugged at \"%2\"").arg(modelName(model_), frame.command));
    return BusAction::Unplug;
  }
  frames_.push_back(frame);
  BusAction action = BusAction::None;
  const std::optional<QByteArray> body =
      updateMode_ ? answerInUpdateMode(frame, &action) : answer(frame, &action);
  // Anything but a read may change what the printer keeps (its observer saves it).
  if (frame.category != QLatin1String("STATUS") && frame.category != QLatin1String("INFO") &&
      frame.category != QLatin1String("MNT_RD") && frame.category != QLatin1String("TBL_RD"))
    stateChanged_ = true;
  const QString& name = frame.subKey.isEmpty() ? frame.category : frame.subKey;
  const bool tableVersionRead =
      frame.category == QLatin1String("TBL_RD") && frame.subKey.endsWith(QLatin1String("Version"));
  const bool late =
      (!lateReplies_.isEmpty() && (name == lateReplies_ || lateReplies_ == QLatin1String("*"))) ||
      (tableVersionRead && std::exchange(tableReadLate_, false));
  if (body) queueReply(*body, late);
  return action;
}

std::optional<QByteArray> VirtualPrinter::answer(const ReceivedFrame& frame, BusAction* action) {
  const QString& category = frame.category;
  const QString& key = frame.subKey;

  if (category == QLatin1String("STATUS") && key.isEmpty()) {
    if (statusSequence_.isEmpty()) return QByteArray("00000");
    const QString code = statusSequence_.at(std::min(statusIndex_, statusSequence_.size() - 1));
    if (statusIndex_ < statusSequence_.size()) ++statusIndex_;
    return code.toLatin1();
  }
  if (category == QLatin1String("INFO")) {
    if (key == QLatin1String("FVER")) return firmwareReply();
    if (key == QLatin1String("SERIAL_NUMBER")) return serialNumber_.toLatin1();
    return std::nullopt;
  }
  if (category == QLatin1String("MNT_RD")) {
    if (key == QLatin1String("COUNTER_LIFE")) return "CL" + digits8(counters_.lifetime);
    if (key == QLatin1String("COUNTER_A")) return digits8(counters_.a);
    if (key == QLatin1String("COUNTER_B")) return digits8(counters_.b);
    if (key == QLatin1String("COUNTER_M")) return digits8(counters_.m);
    if (key == QLatin1String("USB_ISERI_SET") && hasISerialOption(model_, firmwareVersion_))
      return iSerialEnabled_ ? QByteArray("01") : QByteArray("00");
    if (key == QLatin1String("CTRLD_CHKSUM") && isCombinedFamily(model_))
      return tables_.setChecksum().toLatin1();
    return std::nullopt;
  }
  if (category == QLatin1String("MNT_WT")) {
    if (key == QLatin1String("COUNTER_CLR")) resetCounter(frame.payload);
    if (key == QLatin1String("USB_ISERI_SET")) writeISerial(frame.payload);
    return std::nullopt;
  }
  if (category == QLatin1String("TBL_RD")) return answerTableRead(frame);
  if (category == QLatin1String("TBL_CL") && key.isEmpty()) {
    tables_.eraseAll();
    lastTableProblem_.clear();
    return std::nullopt;
  }
  if (category == QLatin1String("TBL_WT")) {
    writeTable(frame);
    return std::nullopt;
  }
  if (category == QLatin1String("FW_UPD")) {
    if (key == QLatin1String("FLASH_REWRITE")) *action = rewriteFlash();
    if (key == QLatin1String("FLASH_PROGRAM"))
      lastImageProblem_ = QStringLiteral("image sent outside update mode");
    return std::nullopt;
  }
  return std::nullopt;  // commands this printer does not know go unanswered
}

// The update loader knows only the status, the version it replaces, and the update commands.
std::optional<QByteArray> VirtualPrinter::answerInUpdateMode(const ReceivedFrame& frame, BusAction* action) {
  if (frame.category == QLatin1String("STATUS") && frame.subKey.isEmpty())
    return kUpdateModeStatus.toLatin1();
  if (frame.category == QLatin1String("INFO") && frame.subKey == QLatin1String("FVER"))
    return firmwareReply();
  if (frame.category == QLatin1String("FW_UPD")) {
    if (frame.subKey == QLatin1String("FLASH_REWRITE")) *action = rewriteFlash();
    if (frame.subKey == QLatin1String("FLASH_PROGRAM")) *action = programFlash(frame);
  }
  return std::nullopt;
}

QByteArray VirtualPrinter::firmwareReply() const {
  if (!shortFirmwareVersion_) return firmwareVersion_.toLatin1();
  static const QRegularExpression leadingZero(QStringLiteral(" 0(\\d)"));
  return QString(firmwareVersion_).replace(leadingZero, QStringLiteral(" \\1")).toLatin1();
}

std::optional<QByteArray> VirtualPrinter::answerTableRead(const ReceivedFrame& frame) {
  if (isCombinedFamily(model_)) {
    if (frame.subKey == QLatin1String("Version")) return tables_.setVersion().toLatin1();
    return std::nullopt;
  }
  static const QRegularExpression pattern(QStringLiteral("^CWD(\\d{3})_(Version|Checksum)$"));
  const QRegularExpressionMatch match = pattern.match(frame.subKey);
  if (!match.hasMatch()) return std::nullopt;

  Media media = Media::None;
  if (frame.payload.isEmpty()) {
    // Reads without media are the old KTC form and name its PD tables; newer firmware still
    // takes them. The other models need the media.
    if (model_ != Model::KTC) return std::nullopt;
    media = Media::PD;
  } else {
    const std::optional<Media> given = mediaFromPayload(frame.payload);
    if (!given || !knowsMedia(model_, firmwareVersion_)) return std::nullopt;
    media = *given;
  }
  const TableSlot slot{match.captured(1).toInt(), media};
  if (match.captured(2) == QLatin1String("Version") &&
      tableVersionForm_ == VirtualPrinterConfig::TableVersionForm::Name)
    for (const ColorTable& table : tables_.tables())
      if (table.slot == slot && !table.name.isEmpty()) return table.name.toLatin1();
  const std::optional<QString> text =
      match.captured(2) == QLatin1String("Version") ? tables_.versionOf(slot) : tables_.checksumOf(slot);
  if (!text) return std::nullopt;
  return text->toLatin1();
}

// Payload: 'C', the counter letter, CR, NUL.
void VirtualPrinter::resetCounter(const QByteArray& payload) {
  if (payload.size() != 4 || payload[0] != 'C' || payload[2] != '\r' || payload[3] != '\0') return;
  switch (payload[1]) {
    case 'A':
      counters_.a = 0;
      break;
    case 'B':
      counters_.b = 0;
      break;
    case 'M':
      counters_.m = 0;
      break;
    default:
      break;
  }
}

// Payload: '0', '1' (on) or '0' (off), CR, NUL. Shows in the USB descriptors after a power cycle.
void VirtualPrinter::writeISerial(const QByteArray& payload) {
  if (!hasISerialOption(model_, firmwareVersion_)) return;
  if (payload == QByteArray("01\r\0", 4)) iSerialEnabled_ = true;
  if (payload == QByteArray("00\r\0", 4)) iSerialEnabled_ = false;
}

void VirtualPrinter::writeTable(const ReceivedFrame& frame) {
  std::optional<QString> problem;
  if (frame.subKey == QLatin1String("Version")) problem = tables_.selectByVersionName(frame.payload);
  else if (frame.subKey == QLatin1String("CTRLD_UPDATE_CW") && updateFault_ == UpdateFault::StallTableData)
    stallWrite_ = true;
  else if (frame.subKey == QLatin1String("CTRLD_UPDATE_CW") && updateFault_ == UpdateFault::RefuseTableData)
    problem = QStringLiteral("table data refused");
  else if (frame.subKey == QLatin1String("CTRLD_UPDATE_CW")) {
    problem = tables_.writeSelected(frame.payload);
    tableReadLate_ = tableVersionForm_ == VirtualPrinterConfig::TableVersionForm::LateAfterWrite;
  } else problem = QStringLiteral("unknown table write \"%1\"").arg(frame.command);
  if (!problem) return;
  lastTableProblem_ = *problem;
  pm::systemLog(
      QStringLiteral("virtual printer %1: table write refused: %2").arg(modelName(model_), *problem));
}

VirtualPrinter::BusAction VirtualPrinter::rewriteFlash() {
  if (updateFault_ == UpdateFault::IgnoreRewrite) return BusAction::None;
  if (updateFault_ != UpdateFault::ReturnWithoutUpdateMode) updateMode_ = true;
  pm::systemLog(QStringLiteral("virtual printer %1: restarting %2")
                    .arg(modelName(model_), updateMode_ ? QStringLiteral("into update mode")
                                                        : QStringLiteral("without update mode")));
  return updateFault_ == UpdateFault::NeverReturnAfterRestart ? BusAction::Vanish : BusAction::Restart;
}

VirtualPrinter::BusAction VirtualPrinter::programFlash(const ReceivedFrame& frame) {
  if (updateFault_ == UpdateFault::PowerLossDuringUpload) {
    // The loader survives a power loss: the printer wakes up in update mode again.
    pm::systemLog(QStringLiteral("virtual printer %1: power lost during the upload").arg(modelName(model_)));
    return BusAction::Unplug;
  }
  const FirmwareImageVerdict verdict = checkFirmwareImage(frame.payload, frame.lengthField, model_);
  if (!verdict.accepted) {
    lastImageProblem_ = verdict.problem;
    pm::systemLog(QStringLiteral("virtual printer %1: firmware image refused: %2")
                      .arg(modelName(model_), verdict.problem));
    return BusAction::None;
  }
  lastImageProblem_.clear();
  if (updateFault_ != UpdateFault::KeepOldFirmware) firmwareVersion_ = verdict.versionText;
  updateMode_ = updateFault_ == UpdateFault::StayInLoader;
  pm::systemLog(QStringLiteral("virtual printer %1: flashed \"%2\", restarting")
                    .arg(modelName(model_), firmwareVersion_));
  return updateFault_ == UpdateFault::NeverReturnAfterRestart ? BusAction::Vanish : BusAction::Restart;
}

// Reply: 8 decimal digits counting the body, then the body ending in CR.
void VirtualPrinter::queueReply(const QByteArray& text, bool late) {
  ++commandsAnswered_;
  const QByteArray body = text + '\r';
  QByteArray reply = digits8(static_cast<uint32_t>(body.size())) + body;

  ReplyFault fault = ReplyFault::None;
  if (replyFault_ != ReplyFault::None &&
      (replyFaultAt_ < 0 || replyFaultAt_ == static_cast<int64_t>(commandsAnswered_))) {
    fault = replyFault_;
    if (replyFaultAt_ >= 0) replyFault_ = ReplyFault::None;
  }
  switch (fault) {
    case ReplyFault::None:
      break;
    case ReplyFault::NoReply:
      return;
    case ReplyFault::BlankHeader:
      reply = QByteArray(8, ' ');
      break;
    case ReplyFault::GarbageHeader:
      reply = QByteArray("\x7f#?Zq!~\xff", 8);
      break;
    case ReplyFault::OversizeHeader:
      reply = "00004097" + text.leftJustified(4096, ' ', true) + '\r';
      break;
    case ReplyFault::Stall:
      stallNext_ = true;
      return;
    case ReplyFault::SlowReply:
      late = true;
      break;
    case ReplyFault::SplitReply:
      queueBytes(reply.first(reply.size() / 2), 0);
      queueBytes(reply.sliced(reply.size() / 2), 2);
      return;
    case ReplyFault::LongBody:
      reply += QByteArray(40, 'X');
      break;
    case ReplyFault::GarbageAfter:
      queueBytes(reply, 0);
      queueBytes(QByteArray("\x7f#?Zq!~\xff", 8), 1);
      return;
  }
  if (late) queueBytes(reply, lateReplyMs_, /*afterRead=*/true);
  else queueBytes(reply, 0);
}

void VirtualPrinter::queueBytes(const QByteArray& bytes, uint32_t afterMs, bool afterRead) {
  using namespace std::chrono;
  const double realMs = (double(afterRead ? 0 : afterMs) + latencyMs_) * timeScale_;
  auto at = steady_clock::now() + duration_cast<steady_clock::duration>(duration<double, std::milli>(realMs));
  if (!pipe_.empty()) at = std::max(at, pipe_.back().at);
  pipe_.push_back(Arrival{bytes, at, afterRead ? std::optional(afterMs) : std::nullopt});
}

}  // namespace sim
