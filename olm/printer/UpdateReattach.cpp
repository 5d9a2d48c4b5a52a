// pm::PrinterUpdate: what a new printer object does first, once it has taken over the device
// information kept for its device key (so a printer restarted by the update finds its stage): it
// recognises its update record and probes the printer. A recorded stage carries the update on to
// its next phase or closes it; without one, a printer found waiting in update mode is offered the
// upload.

#include <algorithm>

#include <QElapsedTimer>
#include <QSet>
#include <QThread>

#include "olm/printer/PrinterUpdate.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/FirmwareArchive.h"
#include "olm/update/PrinterLock.h"
#include "olm/update/UpdateEvents.h"
#include "olm/update/UpdateJournal.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

namespace {

// A VLA loader that reports this is still busy with the update; the next attach looks again.
const QString kVLAIntermediateFirmware = QStringLiteral("VLA_ALLFWU_2.05");

// Printers (device key and serial number) whose "found in update mode" prompt is shown: a printer
// looping through its loader gets one prompt, not one per return. Main thread only.
QSet<QString>& promptsShown() {
  static QSet<QString> shown;
  return shown;
}

QString declinedLoaderText() {
  return TBUSBPrinterOLM::tr(
      "The firmware update was declined; the printer waits in its firmware update mode.");
}

}  // namespace

// The update record, not the port, says whether this printer is in an update: the stage kept for
// this port belongs to whichever printer was here, and a restarted process has none.
void pm::PrinterUpdate::recogniseUpdateAtAttach() {
  Q_ASSERT(printer_.isPrinterCommandQueue());
  const QString key = printer_.keyUSBdevice();
  const QString serial = printer_.identitySerialNumber();
  const std::optional<pm::UpdateRecord> record = pm::UpdateJournal::find(serial, key, printer_.productID());
  // Another process owns the printer (its update, a counter reset): nothing here touches it. A
  // printer in its loader may report no serial number: its update's record names it.
  for (const QString& owner : {serial, record ? record->serialNumber : serial}) {
    if (std::optional<pm::LockHolder> holder =
            pm::PrinterLock::heldElsewhere(pm::PrinterLock::keyFor(owner, key))) {
      leaveToOtherProcess(*holder);
      return;
    }
  }
  if (record && !pm::UpdateEvents::drives(record->serialNumber)) {
    // A process that only reads reports the unfinished update; carrying it on is for one that
    // drives it, with the printer's lock.
    pm::systemLog(QStringLiteral("the update of %1 is unfinished (stage %2); this process only reads")
                      .arg(record->printerName())
                      .arg(static_cast<int>(record->stage)));
    printer_.deviceInfoDict()->remove(TBUSBPrinterOLM::kUpdateStageKey);
    return;
  }
  if (record) {
    // The update goes on from here: in this process, or in a new one after a stop. A record begun
    // at a loader without a serial number keeps the name its update began under (matched by port).
    pm::UpdateJournal::touch(record->serialNumber, record->deviceKey, record->productID);
    if (std::optional<pm::LockHolder> holder = pm::UpdateEvents::begin(record->serialNumber, key)) {
      leaveToOtherProcess(*holder);
      return;
    }
    pm::UpdateEvents::progress(
        {record->serialNumber, pm::UpdateProgress::Kind::Back, static_cast<int>(record->stage)});
    printer_.deviceInfoDict()->setValue(TBUSBPrinterOLM::kUpdateStageKey, static_cast<int>(record->stage));
    if (!record->fromVersion.isEmpty())
      printer_.deviceInfoDict()->setValue(QStringLiteral("firmwareVersionPrevious"), record->fromVersion);
    if (record->deviceKey != key) {
      pm::UpdateRecord moved = *record;
      moved.deviceKey = key;
      pm::UpdateJournal::put(moved);
    }
  } else {
    const int stage = printer_.deviceInfoDict()->value(TBUSBPrinterOLM::kUpdateStageKey).toInt();
    if (stage == static_cast<int>(pm::UpdateStage::RestartRequested) ||
        stage == static_cast<int>(pm::UpdateStage::ImageSent)) {
      pm::systemLog(
          QStringLiteral("no update recorded for this printer: the stage %1 kept for %2 is not its own")
              .arg(stage)
              .arg(key));
      printer_.deviceInfoDict()->remove(TBUSBPrinterOLM::kUpdateStageKey);
    }
    if (const std::optional<pm::UpdateRecord> other =
            pm::UpdateEvents::drives(serial) ? pm::UpdateJournal::otherAt(serial, key, printer_.productID())
                                             : std::nullopt)
      pm::performAsyncOnMainQueue(
          [printer = printer_.self(), other = *other] { printer->update().tellUpdateNotFinished(other); });
  }
}

void pm::PrinterUpdate::tellUpdateNotFinished(const pm::UpdateRecord& other) {
  Q_ASSERT(pm::isMainQueue());
  pm::systemLog(QStringLiteral("%1 is at the port of the unfinished update of %2; it gets no update command")
                    .arg(printer_.printerName(), other.printerName()));
  printer_.dialogs().showAlert(
      tr("The firmware update is not finished"),
      tr("The firmware update of %1 was interrupted and is not finished. The printer now connected "
         "at its USB port, %2, is a different printer and is left as it is.\n\nPlease connect %1 "
         "again to finish its update.")
          .arg(other.printerName(), printer_.printerName()),
      {tr("OK")}, nullptr);
}

// ---- Another process owns the printer ------------------------------------------------------------

namespace {
// How often a printer another process holds is looked at again.
constexpr int kHeldElsewhereLookMs = 2000;
}  // namespace

std::optional<pm::LockHolder> pm::PrinterUpdate::heldElsewhere() const {
  const std::lock_guard guard(heldLock_);
  return heldElsewhere_;
}

void pm::PrinterUpdate::leaveToOtherProcess(const pm::LockHolder& holder) {
  {
    const std::lock_guard guard(heldLock_);
    heldElsewhere_ = holder;
  }
  pm::systemLog(
      QStringLiteral("%1 is held by %2: left alone").arg(printer_.printerName(), holder.describe()));
  setOverridePrinterStatus(tr("Being updated by another program (%1)").arg(holder.describe()));
  printer_.announceChange(QStringLiteral("heldElsewhere"));
  // A listing waits for nothing more from this printer.
  printer_.noteAttachReadsDone();
  auto printer = printer_.self();
  printer_.performAfterOnCommandQueue(kHeldElsewhereLookMs,
                                      [printer] { printer->update().lookAgainWhetherHeldElsewhere(); });
}

void pm::PrinterUpdate::lookAgainWhetherHeldElsewhere() {
  if (printer_.hasGone()) return;
  const QString key = pm::PrinterLock::keyFor(printer_.identitySerialNumber(), printer_.keyUSBdevice());
  if (std::optional<pm::LockHolder> holder = pm::PrinterLock::heldElsewhere(key)) {
    const std::lock_guard guard(heldLock_);
    heldElsewhere_ = holder;  // the printer may have passed to yet another process
  } else {
    {
      const std::lock_guard guard(heldLock_);
      heldElsewhere_.reset();
    }
    pm::systemLog(QStringLiteral("%1 was let go by the other program").arg(printer_.printerName()));
    printer_.announceChange(QStringLiteral("heldElsewhere"));
    // As if it had just arrived: an update the other process left unfinished goes on here when
    // this process drives it; otherwise the printer is read again.
    recogniseUpdateAtAttach();
    if (!heldElsewhere()) probeAtInit();
    return;
  }
  auto printer = printer_.self();
  printer_.performAfterOnCommandQueue(kHeldElsewhereLookMs,
                                      [printer] { printer->update().lookAgainWhetherHeldElsewhere(); });
}

// ---- Probe -------------------------------------------------------------------------------------

void pm::PrinterUpdate::probeAtInit() {
  if (heldElsewhere()) return;
  auto printer = printer_.self();
  printer_.openInterface([printer](IOReturn result) {
    if (result != kIOReturnSuccess) return;
    const QVariant stage = printer->deviceInfoDict()->value(TBUSBPrinterOLM::kUpdateStageKey);
    if (!stage.isValid()) {
      printer->getPrinterStatus([printer](const TBUSBPrinterOLM::StatusCode& code) {
        if (code && *code == TBUSBPrinterOLM::kUpdateModeCode) {
          printer->update().showUnexpectedUpdateModePrompt();
        } else {
          printer->getDeviceCustomInfo();
        }
      });
      return;  // the interface stays open on this path
    }

    pm::performAsyncOnMainQueue([printer] { printer->setInFirmwareUpdate(true); });
    const std::optional<QString> version = printer->properties().inlineGetFirmwareString();
    printer->storeDeviceInfo(QStringLiteral("firmwareVersion"), version.value_or(QString()));
    pm::systemLog(QStringLiteral("printer firmware is currently reported as \"%1\"")
                      .arg(version.value_or(QStringLiteral("(null)"))));
    switch (static_cast<pm::UpdateStage>(stage.toInt())) {
      case pm::UpdateStage::ImageSent:
        printer->update().continueAfterUpload(version);
        break;
      case pm::UpdateStage::RestartRequested:
        pm::systemLog(QStringLiteral("found a device waiting for firmware update"));
        printer->getPrinterStatus([printer](const TBUSBPrinterOLM::StatusCode& code) {
          if (code && *code == TBUSBPrinterOLM::kUpdateModeCode) {
            pm::systemLog(QStringLiteral("device is in firmware update mode ... uploading firmware"));
            printer->update().uploadFirmware();
            return;
          }
          pm::systemLog(QStringLiteral("Bad Status (%1) while waiting for firmware update")
                            .arg(code.value_or(QStringLiteral("(null)"))));
          if (!code) {
            // No answer: a printer that left carries on when it returns; one still here is stuck.
            if (printer->hasGone()) return;
            printer->update().stopUpdate(
                tr("The printer is not responding"),
                tr("%1 does not answer in its firmware update mode.\n\nPlease switch the printer "
                   "off and on again and keep it connected. The update continues when the "
                   "printer returns.")
                    .arg(printer->printerName()));
            return;
          }
          // Nothing was written yet: the printer runs its old firmware with its tables, so the
          // update ends here, with the user told, instead of waiting for a mode that never comes.
          printer->update().abandonUpdate(
              tr("There was a problem with the firmware update!"),
              tr("%1 restarted without entering its firmware update mode, so nothing was changed: it "
                 "still runs firmware %2.\n\nPlease switch the printer off and on again and run the update "
                 "once more.")
                  .arg(printer->printerName(), printer->firmwareVersion()));
          printer->getDeviceCustomInfo();
        });
        break;
      default:
        pm::systemLog(QStringLiteral("found a device finished with firmware update"));
        pm::performAsyncOnMainQueue([printer] { printer->setInFirmwareUpdate(false); });
        printer->deviceInfoDict()->remove(TBUSBPrinterOLM::kUpdateStageKey);
        printer->getDeviceCustomInfo();
        break;
    }
    printer->closeInterface(nullptr);
  });
}

// Stage 2: the image was sent and the printer is back. Only a printer that positively reports
// another version than the new one has not taken the image: a version that cannot be read (the
// printer has just restarted) or is written differently ("PZA 1.10") does not end the update.
void pm::PrinterUpdate::continueAfterUpload(const std::optional<QString>& version) {
  Q_ASSERT(printer_.isPrinterCommandQueue());
  pm::systemLog(QStringLiteral("found a device rebooting after firmware update"));
  if (version == kVLAIntermediateFirmware) {
    QThread::msleep(1000);
    return;
  }
  // A printer that lost power while the image arrived comes back in its loader; finishing the
  // update would write tables it ignores and report success. It gets the image again instead.
  auto code = std::make_shared<std::optional<QString>>();
  printer_.sendPrinterCommand([this] { printer_.sendPrinterCommand(pm::framing::Command::Status); },
                              printer_.printerCommandQueue(),
                              [code](const QByteArray& reply) { *code = TBUSBPrinterOLM::replyText(reply); });
  if (*code == TBUSBPrinterOLM::kUpdateModeCode) {
    pm::systemLog(QStringLiteral(
        "device is still in firmware update mode after the upload ... uploading firmware again"));
    uploadFirmware();
    return;
  }

  std::optional<QString> current = version;
  if (!current || current->isEmpty()) current = readFirmwareVersionAgain();
  if (!current && !*code) {
    // Nothing answers: a printer that left carries on when it returns; one still here is stuck
    // (a loader still taking an image that never ended swallows every command).
    if (printer_.hasGone()) return;
    stopUpdate(tr("The printer is not responding"),
               tr("%1 does not answer after the new firmware was sent.\n\nPlease switch the printer off "
                  "and on again and keep it connected. The update continues when the printer returns.")
                   .arg(printer_.printerName()));
    return;
  }

  const QString previous = printer_.deviceInfoDict()->string(QStringLiteral("firmwareVersionPrevious"));
  const QString reported = current.value_or(QString());
  if (previous.isNull() || previous == reported) {
    pm::systemLog(QStringLiteral("firmware version unchanged at %1").arg(reported));
  } else {
    pm::systemLog(QStringLiteral("firmware version changed from %1 to %2").arg(previous, reported));
  }
  printer_.storeDeviceInfo(QStringLiteral("firmwareVersion"), reported);
  // Only a printer that runs the new firmware gets its tables: one that came back on other
  // firmware did not take the image, and its own tables are left as they are.
  const std::optional<pm::UpdateRecord> record = updateRecord();
  const std::optional<ShippedFirmware> stands =
      record ? pm::compareShippedFirmware(reported, record->targetVersion) : std::nullopt;
  if (stands && *stands != ShippedFirmware::Same) {
    pm::systemLogf("the printer runs \"%s\", not the new firmware \"%s\"", qUtf8Printable(reported),
                   qUtf8Printable(record->targetVersion));
    abandonUpdate(tr("There was a problem with the firmware update!"),
                  tr("Previous firmware version: %1 current version: %2").arg(previous, reported) +
                      QStringLiteral("\n\n") +
                      tr("%1 restarted without the new firmware %2. Its colour tables were not changed.\n\n"
                         "Please switch the printer off and on again and run the update once more.")
                          .arg(printer_.printerName(), record->targetVersion));
    printer_.getDeviceCustomInfo();
    return;
  }
  if (record && !stands)
    pm::systemLogf("the firmware version could not be confirmed (\"%s\"); the colour tables are written",
                   qUtf8Printable(reported));
  finishFirmwareUpdate();
}

// The second look at a version that did not come: first the reply that may have arrived after
// its time-out, then the question again, each after a pause, for as long as a status poll waits.
std::optional<QString> pm::PrinterUpdate::readFirmwareVersionAgain() {
  Q_ASSERT(printer_.isPrinterCommandQueue());
  const UpdateTimings timing = timings();
  const qint64 boundMs = qint64{timing.statusPollRounds} * timing.statusPollPauseMs;
  QElapsedTimer waited;
  waited.start();
  do {
    QThread::msleep(static_cast<unsigned long>(timing.statusPollPauseMs));
    if (printer_.hasGone() || !printer_.interfaceInterface()) return std::nullopt;
    // Only a text that reads as a version: a stray reply of another command is none.
    const auto isVersion = [](const std::optional<QString>& text) {
      return text && pm::firmwareVersionNumber(*text) > 0.0 &&
             std::any_of(text->cbegin(), text->cend(), [](QChar c) { return c.isLetter(); });
    };
    std::optional<QString> text = TBUSBPrinterOLM::replyText(printer_.printerReply());
    if (!isVersion(text)) text = printer_.properties().inlineGetFirmwareString();
    if (isVersion(text)) {
      pm::systemLogf("firmware version read again: \"%s\"", qUtf8Printable(text->trimmed()));
      return text->trimmed();
    }
  } while (waited.elapsed() < boundMs);
  pm::systemLogf("the firmware version did not come in %lld ms", static_cast<long long>(boundMs));
  return std::nullopt;
}

// ---- A printer found in update mode without a stage ------------------------------------------------

void pm::PrinterUpdate::showUnexpectedUpdateModePrompt() {
  Q_ASSERT(pm::isMainQueue());
  const QString shownKey = printer_.keyUSBdevice() + QLatin1Char('/') + printer_.identitySerialNumber();
  if (promptsShown().contains(shownKey)) {
    pm::systemLog(QStringLiteral("found in firmware update mode again; its prompt is already shown"));
    return;
  }
  const QString serial = printer_.identitySerialNumber();
  if (!pm::UpdateEvents::drives(serial)) {
    // Reading never answers a loader: the listing shows the printer in its update mode.
    pm::systemLog(QStringLiteral("found in firmware update mode; this process only reads"));
    printer_.noteAttachReadsDone();
    return;
  }
  if (std::optional<pm::LockHolder> holder = pm::UpdateEvents::begin(serial, printer_.keyUSBdevice())) {
    leaveToOtherProcess(*holder);
    return;
  }
  promptsShown().insert(shownKey);
  auto printer = printer_.self();
  printer_.dialogs().showCustomAlert(
      tr("Attention:"),
      tr("A printer was unexpectedly found in firmware update mode. Would you like to update "
         "the firmware? "),
      {tr("Ignore"), tr("Update Firmware")}, false, pm::AlertStyle::Critical,
      [](pm::AlertRequest& alert) { alert.acceptButton = 1; },
      [printer, shownKey](const pm::AlertAnswer& answer) {
        promptsShown().remove(shownKey);
        if (answer.returnCode == pm::kAlertSecondButtonReturn) {
          pm::systemLog(QStringLiteral("device is in firmware update mode ... uploading firmware"));
          printer->update().uploadFirmware();
          return;
        }
        printer->update().recordUpdateOutcome(QStringLiteral("refused"), declinedLoaderText(),
                                              QStringLiteral("declined"));
        printer->dialogs().showAlert(
            tr("Please power-cycle this printer"),
            tr("Contact customer support if power-cycling does not resolve the issue."), {tr("OK")}, nullptr);
      });
}
