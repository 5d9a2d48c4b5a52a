// pm::PrinterUpdate: the firmware update sequence: the user's steps before the update (entry,
// warning, readiness, confirmation) and its three phases. Between the phases the printer restarts
// and comes back as a new object; the stage recorded under "deviceFirmwareStatus" tells that
// object where to go on (UpdateReattach.cpp).

#include <algorithm>
#include <chrono>

#include <QSettings>

#include "olm/printer/PrinterUpdate.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/protocol/Framing.h"
#include "olm/update/FirmwareArchive.h"
#include "olm/update/PrinterLock.h"
#include "olm/update/QuitGuard.h"
#include "olm/update/UpdateEvents.h"
#include "olm/update/UpdateHistory.h"
#include "olm/update/UpdateJournal.h"
#include "olm/update/UpdateReturnWatch.h"
#include "support/MainQueue.h"
#include "support/NameTables.h"
#include "support/SystemLog.h"
#include "support/ZOVRAN_Log.h"

namespace {

using pm::framing::Command;
// The frame of a firmware image may take longer than the command time-out on a slow link: each
// write is given the usual time-out plus 1 ms for every 100 bytes (a link of at least 100 kB/s).
constexpr uint32_t kImageBytesPerMs = 100;
// The frame goes out in pieces of this size, so that the window can show how much is sent. The
// printer reads a byte stream whose length its header states; a multiple of every bulk packet
// size (64, 512, 1024) never ends a piece with a short packet in the middle of the frame.
constexpr qint64 kImagePieceBytes = qint64{32} * 1024;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

const QString kPreviousVersionKey = QStringLiteral("firmwareVersionPrevious");
const QString kIdleCode = QStringLiteral("00000");
// UpdateOutcome::reason of an update ended by the user's answer or by a stop request.
const QString kDeclined = QStringLiteral("declined");
const QString kStopped = QStringLiteral("stopped");

bool isReadyForUpdate(const TBUSBPrinterOLM::StatusCode& code) {
  // Exact texts: a reply "0" is not "00000".
  return code && (*code == kIdleCode || *code == QLatin1String("01500") || *code == QLatin1String("03000"));
}

// "Quit" in an update dialog: asks first while any printer's update is unfinished.
void terminateApplication() {
  pm::quitWhenConfirmed([] {
    if (pm::ApplicationControl* application = pm::applicationControl()) application->terminate();
  });
}

// A preference read as a boolean, whatever form it was written in: "no", "false", "off", "0" and
// anything unknown are false (QVariant would take every non-empty text but "0"/"false" as true).
bool preferenceIsSet(const QString& key) {
  const QVariant value = QSettings().value(key);
  if (value.typeId() == QMetaType::Bool) return value.toBool();
  const QString text = value.toString().trimmed().toLower();
  return text == QLatin1String("1") || text == QLatin1String("true") || text == QLatin1String("yes") ||
         text == QLatin1String("on");
}

QString fileCorruptionTitle() {
  return TBUSBPrinterOLM::tr("-- File corruption --\n\nThere is a problem with the firmware files.");
}
QString fileCorruptionMessage() { return TBUSBPrinterOLM::tr("Contact customer support."); }

// The archive's file that was refused, in the words of the user's alert; the log keeps the texts
// people search for.
QString refusedArchiveText(const pm::ArchiveLoad& load) {
  pm::systemLog(QStringLiteral("failed to verify firmware archive"));
  if (load.failedFile.isEmpty()) return TBUSBPrinterOLM::tr("There is no firmware for this printer.");
  if (load.failedFile.endsWith(QLatin1String(".fw"), Qt::CaseInsensitive))
    pm::systemLog(QStringLiteral("Bad firmware file! Verification failed!"));
  return TBUSBPrinterOLM::tr("The firmware file %1 cannot be used (%2).").arg(load.failedFile, load.problem);
}

// A missing text shows as "(null)", as the report has always shown it.
QString orNull(const QString& text) { return text.isNull() ? QStringLiteral("(null)") : text; }

QString declinedText() {
  return TBUSBPrinterOLM::tr("The firmware update was declined; nothing was changed.");
}

// The printer's update ends unfinished when the return watch gives up on it; the record stays for
// its return.
std::function<void()> whenNotBack(const std::shared_ptr<TBUSBPrinterOLM>& printer) {
  return [weak = std::weak_ptr<TBUSBPrinterOLM>(printer), serial = printer->identitySerialNumber(),
          key = printer->keyUSBdevice(), product = printer->productID()] {
    if (auto stayed = weak.lock()) stayed->setInFirmwareUpdate(false);
    if (const std::optional<pm::UpdateRecord> record = pm::UpdateJournal::find(serial, key, product))
      pm::UpdateEvents::finish(*record, QStringLiteral("failed"),
                               TBUSBPrinterOLM::tr("The printer has not come back.") + QLatin1Char(' ') +
                                   pm::UpdateEvents::stoppedState(*record));
  };
}

void announce(const QString& printer, pm::UpdateProgress::Kind kind, int phase, qint64 count = 0) {
  pm::UpdateEvents::progress({printer, kind, phase, count});
}

}  // namespace

// ---- Before the update -------------------------------------------------------------------------

// The archive is read and checked once, on the printer's queue (it may be large); the update then
// sends those bytes and no others.
void pm::PrinterUpdate::updateFirmware(std::optional<bool> allowOlderOrSame) {
  Q_ASSERT(pm::isMainQueue());
  if (updateRecord()) {
    printer_.dialogs().showAlert(
        tr("The firmware update is already running"),
        tr("The update of %1 is not finished yet. It goes on by itself when the printer returns.")
            .arg(printer_.printerName()),
        {tr("OK")}, nullptr);
    return;
  }
  olderAllowed_ = allowOlderOrSame;
  if (!takePrinterForUser()) return;
  // Without its record an interrupted update could not be finished: none starts unrecorded.
  if (QString why; !pm::UpdateJournal::writable(&why)) {
    const QString message =
        tr("The update's record cannot be kept, so an interrupted update could not be finished. "
           "Nothing was written to the printer.\n\n%1")
            .arg(why);
    recordUpdateOutcome(QStringLiteral("refused"), message);
    printer_.dialogs().showAlert(tr("The firmware update cannot start"), message, {tr("OK")}, nullptr);
    return;
  }
  auto printer = printer_.self();
  // User work: an open waiting on the queue for another program gives way, so that the user hears
  // at once that the printer is in use.
  printer_.queueUserWork([printer] {
    const pm::ArchiveLoad load = pm::FirmwareArchive::loadArchiveForProductID(printer->productID());
    printer->update().setLoadedArchive(load.archive);
    printer->update().setFilenames(load.archive ? std::optional(load.archive->fileNames) : std::nullopt);
    const QString refused = load.archive ? QString() : refusedArchiveText(load);
    pm::performAsyncOnMainQueue([printer, refused] {
      if (refused.isNull()) {
        printer->update().showFirmwareUpdateWarning();
        return;
      }
      printer->update().recordUpdateOutcome(QStringLiteral("failed"),
                                            fileCorruptionTitle() + QLatin1Char(' ') + refused);
      printer->dialogs().showAlert(fileCorruptionTitle(),
                                   refused + QStringLiteral("\n\n") + fileCorruptionMessage(), {tr("Quit")},
                                   [](int) { terminateApplication(); });
    });
  });
}

void pm::PrinterUpdate::showFirmwareUpdateWarning() {
  Q_ASSERT(pm::isMainQueue());
  const double installed = printer_.installedFirmwareVersion();
  const double available = availableFirmwareVersion();
  const std::optional<pm::PrinterModel> model = printer_.printerModel();
  const pm::ModelTraits* traits = model ? &pm::modelTraits(*model) : nullptr;
  if (traits && installed < traits->updateNeedsAtLeast) {
    const QString message =
        tr("Before updating the VLA firmware to version %1 you must first update to firmware version "
           "2.0x (or 2.1x).\n\n(the current firmware version is %2)")
            .arg(available, 0, 'f', 2)
            .arg(installed, 0, 'f', 2);
    recordUpdateOutcome(QStringLiteral("refused"), message, QStringLiteral("needs-older-update"));
    printer_.dialogs().showCustomAlert(tr("Attention:"), message, {tr("Quit")}, false,
                                       pm::AlertStyle::Critical, nullptr,
                                       [](const pm::AlertAnswer&) { terminateApplication(); });
    return;
  }

  printer_.dialogs().setToggleAgreed(false);
  const QString text = traits && installed < traits->mediaChangeBelow
                           ? printer_.dialogs().VLAUpdateWarningText()
                           : printer_.dialogs().genericUpdateWarningText();
  auto printer = printer_.self();
  // Nothing has been written yet: Escape or closing the alert backs out, and only "Quit" quits.
  printer_.dialogs().showCustomAlert(
      tr("Attention:"), text, {tr("Quit"), tr("Continue")}, true, pm::AlertStyle::Critical,
      [](pm::AlertRequest& alert) {
        alert.dismissable = true;
        alert.acceptButton = 1;
      },
      [printer](const pm::AlertAnswer& answer) {
        printer->dialogs().setToggleAgreed(answer.agreed);
        if (answer.returnCode != 1001 || !printer->dialogs().customerDidAgree())
          printer->update().recordUpdateOutcome(QStringLiteral("refused"), declinedText(), kDeclined);
        if (answer.dismissed) {
          pm::systemLog(QStringLiteral("firmware update warning dismissed; nothing was changed"));
        } else if (answer.returnCode == pm::kAlertFirstButtonReturn) {
          terminateApplication();
        } else if (answer.returnCode == pm::kAlertSecondButtonReturn &&
                   printer->dialogs().customerDidAgree()) {
          printer->update().proceedWithUpdateWhenReady();
        }
      });
}

void pm::PrinterUpdate::proceedWithUpdateWhenReady() {
  Q_ASSERT(pm::isMainQueue());
  // "Proceed" after a readiness alert comes here again: the same update, or one begun anew.
  if (!updateRecord() && !takePrinterForUser()) return;
  // Already waiting in update mode: straight to the upload.
  if (printer_.printerStatus() ==
      TBUSBPrinterOLM::stringForKTStatusString(TBUSBPrinterOLM::kUpdateModeCode)) {
    uploadFirmware();
    return;
  }
  // The window reinstalls the same version and takes an older one by preference; the command
  // line says which it wants.
  const std::optional<ShippedFirmware> shipped = shippedFirmware();
  const bool notNeeded = olderAllowed_ ? !*olderAllowed_ && shipped && shipped != ShippedFirmware::Newer
                                       : shipped == ShippedFirmware::Older &&
                                             !preferenceIsSet(QStringLiteral("installOlderFirmwareVersion"));
  if (notNeeded) {
    const QString message = tr("This printer has firmware version %1 installed.")
                                .arg(printer_.installedFirmwareVersion(), 0, 'f', 2);
    recordUpdateOutcome(QStringLiteral("refused"), message, QStringLiteral("up-to-date"),
                        tr("Firmware update not needed"));
    printer_.dialogs().showAlert(tr("Firmware update not needed"), message, {tr("OK")}, nullptr);
    return;
  }

  auto printer = printer_.self();
  // Proceed tries again; Cancel ends the update with nothing written.
  auto retryOnProceed = [printer](int returnCode) {
    if (returnCode == pm::kAlertFirstButtonReturn) {
      printer->update().proceedWithUpdateWhenReady();
      return;
    }
    const QString status = printer->printerStatus();
    printer->update().recordUpdateOutcome(QStringLiteral("refused"),
                                          tr("The printer was not ready (%1); nothing was changed.")
                                              .arg(status.isEmpty() ? tr("no answer") : status),
                                          QStringLiteral("not-ready"));
  };
  const QStringList buttons{tr("Proceed"), tr("Cancel")};
  const auto notResponding = [printer, retryOnProceed, buttons] {
    printer->dialogs().showAlert(
        tr("Printer Error"),
        tr("The printer is not responding properly. Please power-cycle the printer and "
           "try again."),
        buttons, retryOnProceed);
  };
  printer_.openInterface(
      [printer, retryOnProceed, buttons, notResponding](IOReturn result) {
        if (result == kIOReturnExclusiveAccess) {
          // Cancel (what the command line answers) ends the update at once with nothing written.
          printer->dialogs().showAlert(
              tr("Printer Busy"),
              tr("Another application is using the printer. Please proceed when the printer "
                 "becomes available."),
              buttons, [printer, retryOnProceed](int returnCode) {
                if (returnCode == 1000) return retryOnProceed(returnCode);
                const QString notDone =
                    tr("The firmware of %1 was not updated: the printer is in use by another program.")
                        .arg(printer->printerName());
                PrinterDialogs::tellActionEnded(notDone);
                printer->update().recordUpdateOutcome(QStringLiteral("refused"), notDone,
                                                      QStringLiteral("busy"), tr("Printer Busy"));
              });
          return;
        }
        if (result != kIOReturnSuccess) return notResponding();
        // A status read without a reply ends in words too, never in silence.
        printer->getPrinterStatus(
            [printer, retryOnProceed, buttons, notResponding](const TBUSBPrinterOLM::StatusCode& code) {
              if (!code) return notResponding();
              if (isReadyForUpdate(code)) {
                printer->update().holdsPrinter_ = true;
                printer->update().updateFirmwareReady();
                return;
              }
              printer->dialogs().showAlert(tr("Printer Not Ready"),
                                           tr("Please correct the following issue: %1")
                                               .arg(TBUSBPrinterOLM::stringForKTStatusString(code)),
                                           buttons, retryOnProceed);
            });
      },
      TBUSBPrinterOLM::BusyOpen::Report);
}

void pm::PrinterUpdate::updateFirmwareReady() {
  Q_ASSERT(pm::isMainQueue());
  auto printer = printer_.self();
  printer_.dialogs().showConfirmation(
      tr("-- Warning --\n\nAre you certain you want to update the firmware?"),
      tr("The printer may be permanently damaged if it is unplugged or loses power during the "
         "update process."),
      {tr("Cancel"), (shippedFirmware() == ShippedFirmware::Same    ? tr("Reinstall Firmware %1")
                      : shippedFirmware() == ShippedFirmware::Older ? tr("Install Older Firmware %1")
                                                                    : tr("Update Firmware to %1"))
                         .arg(newFirmwareVersion())},
      [printer](int returnCode) {
        if (returnCode == pm::kAlertSecondButtonReturn) {
          printer->update().updateFirmwareAndColorTables();
        } else {
          printer->update().holdsPrinter_ = false;
          printer->update().recordUpdateOutcome(QStringLiteral("refused"), declinedText(), kDeclined);
        }
      });
}

// ---- Phase 1: the rewrite request ------------------------------------------------------------------

void pm::PrinterUpdate::updateFirmwareAndColorTables() {
  Q_ASSERT(pm::isMainQueue());
  // Every way out before the rewrite request lets the printer go; that request's own work, on the
  // queue, lets it go once it is sent.
  struct Release {
    std::atomic<bool>& held;
    bool passed = false;
    ~Release() {
      if (!passed) held = false;
    }
  } release{holdsPrinter_};
  if (pm::UpdateEvents::stopRequested()) {
    recordUpdateOutcome(QStringLiteral("refused"),
                        tr("Stopped before anything was written; nothing was changed."), kStopped);
    return;
  }
  std::shared_ptr<const pm::LoadedArchive> archive;
  {
    const std::lock_guard guard(archiveLock_);
    archive = loadedArchive_;
  }
  if (!archive) {
    recordUpdateOutcome(QStringLiteral("failed"), fileCorruptionTitle());
    printer_.dialogs().showAlert(fileCorruptionTitle(), fileCorruptionMessage(), {tr("OK")}, nullptr);
    return;
  }
  auto printer = printer_.self();
  pm::performAsyncOnMainQueue([printer] { printer->setInFirmwareUpdate(true); });
  announce(printer_.identitySerialNumber(), pm::UpdateProgress::Kind::PhaseStarted, 1);
  release.passed = true;
  printer_.openInterface([printer, archive](IOReturn result) {
    printer->update().holdsPrinter_ = false;  // from here the update flag keeps the interface
    if (result != kIOReturnSuccess) {
      printer->update().recordUpdateOutcome(QStringLiteral("failed"),
                                            tr("The printer could not be opened; nothing was changed."));
      printer->update().showUpdateOpenFailedAlert(UpdateStep::RewriteRequest, result);
      pm::performAsyncOnMainQueue([printer] { printer->setInFirmwareUpdate(false); });
      return;
    }
    // The record says what the printer ran before: a version that did not come at the attach is
    // asked again (its reply may have come after its time-out).
    if (printer->firmwareVersion().isEmpty())
      if (const std::optional<QString> version = printer->update().readFirmwareVersionAgain())
        printer->storeDeviceInfo(QStringLiteral("firmwareVersion"), *version);
    if (printer->firmwareVersion().isEmpty()) {
      // The printer comes back as a new object and is read afresh.
      printer->update().recordUpdateOutcome(QStringLiteral("failed"),
                                            tr("The installed version could not be read: refresh and try "
                                               "again. Nothing was changed."));
      pm::performAsyncOnMainQueue([printer] { printer->setInFirmwareUpdate(false); });
      printer->closeInterface(nullptr);
      printer->hotPlug();
      return;
    }
    // The readiness test again, right before the request: the confirmation may have stood open
    // while another program started a print.
    auto code = std::make_shared<TBUSBPrinterOLM::StatusCode>();
    printer->sendPrinterCommand(
        [printer] { printer->sendPrinterCommand(Command::Status); }, printer->printerCommandQueue(),
        [code](const QByteArray& reply) { *code = TBUSBPrinterOLM::replyText(reply); });
    if (!isReadyForUpdate(*code)) {
      const QString status = TBUSBPrinterOLM::stringForKTStatusString(*code);
      pm::systemLog(
          QStringLiteral("not sending the rewrite request: the printer reports \"%1\"").arg(status));
      const QString notDone =
          tr("The firmware of %1 was not updated: the printer is not idle (%2); it may be "
             "in use by another program. Nothing was changed.")
              .arg(printer->printerName(), status);
      printer->update().recordUpdateOutcome(QStringLiteral("refused"),
                                            tr("Printer Busy") + QLatin1Char(' ') + notDone);
      printer->dialogs().showAlert(tr("Printer Busy"), notDone, {tr("OK")}, nullptr);
      pm::performAsyncOnMainQueue([printer] { printer->setInFirmwareUpdate(false); });
      printer->updatePrinterStatus();
      return;
    }
    printer->update().setOverridePrinterStatus(QStringLiteral("Updating firmware ..."));
    // The update knows its printer from here on, in this process and the next.
    pm::UpdateRecord record;
    record.serialNumber = printer->identitySerialNumber();
    record.deviceKey = printer->keyUSBdevice();
    record.productID = printer->productID();
    record.model = printer->printerModel() ? pm::modelName(*printer->printerModel()) : printer->model();
    record.fromVersion = printer->firmwareVersion();
    record.targetVersion = archive->version();
    record.tablesToWrite = archive->fileNames.mid(1);
    record.started = QDateTime::currentDateTimeUtc();
    record.archive = archive;
    pm::UpdateJournal::put(record);
    printer->storeDeviceInfo(kPreviousVersionKey, printer->firmwareVersion());
    printer->update().storeUpdateStage(pm::UpdateStage::RestartRequested);
    printer->sendPrinterCommand(Command::FlashRewrite);
    printer->closeInterface(nullptr);
    announce(record.serialNumber, pm::UpdateProgress::Kind::Restarting, 1);
    pm::UpdateReturnWatch::expect(printer->keyUSBdevice(), pm::UpdateReturnWatch::Step::RewriteRequest,
                                  printer->image(), printer->printerName(), whenNotBack(printer));
  });
}

// ---- Phase 2: the upload ---------------------------------------------------------------------------

void pm::PrinterUpdate::uploadFirmware() {
  auto printer = printer_.self();
  if (pm::UpdateEvents::stopRequested()) {
    // The printer waits in its loader, on its old firmware and tables; the record finishes it.
    const std::optional<pm::UpdateRecord> record = updateRecord();
    recordUpdateOutcome(record ? QStringLiteral("failed") : QStringLiteral("refused"),
                        record ? pm::UpdateEvents::stoppedState(*record)
                               : tr("Stopped before anything was written; nothing was changed."),
                        kStopped);
    pm::performAsyncOnMainQueue([printer] { printer->setInFirmwareUpdate(false); });
    return;
  }
  printer_.openInterface([printer](IOReturn result) {
    if (result != kIOReturnSuccess) {
      printer->update().recordUpdateOutcome(
          QStringLiteral("failed"), tr("The printer could not be opened in its firmware update mode."));
      printer->update().showUpdateOpenFailedAlert(UpdateStep::Upload, result);
      pm::performAsyncOnMainQueue([printer] { printer->setInFirmwareUpdate(false); });
      return;
    }
    QString problem;
    const std::shared_ptr<const pm::LoadedArchive> archive = printer->update().archiveForUpdate(&problem);
    if (!archive) {
      pm::systemLog(QStringLiteral("FAILED Uploading firmware to printer (bad file)"));
      printer->update().stopUpdate(tr("There was a problem with the firmware file!"),
                                   problem + QStringLiteral("\n\n") +
                                       tr("This application may be damaged. Please download a new copy."));
      printer->closeInterface(nullptr);
      return;
    }
    // A printer found in its loader without a record starts its record here.
    pm::UpdateRecord record = printer->update().updateRecord().value_or(pm::UpdateRecord{});
    if (record.targetVersion.isEmpty()) {
      record.serialNumber = printer->identitySerialNumber();
      record.deviceKey = printer->keyUSBdevice();
      record.productID = printer->productID();
      record.model = printer->printerModel() ? pm::modelName(*printer->printerModel()) : printer->model();
      record.targetVersion = archive->version();
      record.tablesToWrite = archive->fileNames.mid(1);
      record.started = QDateTime::currentDateTimeUtc();
      record.archive = archive;
    }
    if (record.uploads >= pm::UpdateJournal::kMaxUploads) {
      pm::systemLogf("the printer did not take the firmware after %d uploads", record.uploads);
      printer->update().abandonUpdate(
          tr("There was a problem with the firmware update!"),
          tr("The new firmware was sent to %1 %2 times and the printer did not take it. It waits in its "
             "firmware update mode.\n\nPlease switch the printer off and on again. If it returns in its "
             "update mode, contact customer support.")
              .arg(printer->printerName())
              .arg(record.uploads));
      printer->closeInterface(nullptr);
      return;
    }
    printer->update().setOverridePrinterStatus(QStringLiteral("Writing firmware ..."));
    pm::systemLog(QStringLiteral("Uploading firmware to printer"));
    ++record.uploads;
    record.stage = pm::UpdateStage::ImageSent;
    pm::UpdateJournal::put(record);
    pm::performAsyncOnMainQueue([printer] { printer->setInFirmwareUpdate(true); });
    printer->update().storeUpdateStage(pm::UpdateStage::ImageSent);
    announce(record.serialNumber, pm::UpdateProgress::Kind::PhaseStarted, 2);
    printer->update().sendFirmwareImage(archive->image);
    if (printer->writeStatus() == kIOReturnSuccess)
      announce(record.serialNumber, pm::UpdateProgress::Kind::BytesSent, 2, archive->image.size());
    announce(record.serialNumber, pm::UpdateProgress::Kind::Restarting, 2);
    pm::UpdateReturnWatch::expect(printer->keyUSBdevice(), pm::UpdateReturnWatch::Step::Upload,
                                  printer->image(), printer->printerName(), whenNotBack(printer));
    printer->closeInterface(nullptr);
  });
}

// One frame, no reply read, as every command; it is written in pieces, each with a time-out for
// its size, and the bytes sent are announced after each piece.
void pm::PrinterUpdate::sendFirmwareImage(const QByteArray& image) {
  Q_ASSERT(printer_.isPrinterCommandQueue());
  const pm::framing::Frame frame = pm::framing::buildFrame(Command::FlashProgram, image);
  if (frame.rejected()) {
    pm::systemLogf("not sending a firmware image of %lld bytes", static_cast<long long>(image.size()));
    return;
  }
  printer_.drainBulkIn();
  pm::systemLogf("sending printer command %s with payload size %u",
                 qPrintable(TBUSBPrinterOLM::stringForCommandCode(PrinterCommandCode(Command::FlashProgram))),
                 static_cast<unsigned>(frame.payloadFieldLength));
  ZOVRAN_Log::logData(frame.bytes.first(std::min(frame.bytes.size(), TBUSBPrinterOLM::kLoggedFrameBytes)));
  pm::systemLogf("writing to %s interface with %lu byte payload", printer_.descriptionUTF8().constData(),
                 static_cast<unsigned long>(frame.bytes.size()));
  const std::shared_ptr<usb::UsbInterface> interface = printer_.interfaceInterface();
  const qint64 total = frame.bytes.size();
  IOReturn result = interface ? kIOReturnSuccess : kIOReturnError;
  setStepProgress(StepProgress{StepProgress::Unit::Bytes, 0, total});
  // The window redraws no faster than this: a piece goes out in well under a millisecond, and an
  // announcement per piece would cost more than its copy.
  auto lastShown = std::chrono::steady_clock::now();
  for (qint64 sent = 0; result == kIOReturnSuccess && sent < total;) {
    const qint64 piece = std::min(kImagePieceBytes, total - sent);
    const uint32_t timeoutMs =
        TBUSBPrinterOLM::kBulkTimeoutMs + static_cast<uint32_t>(piece / kImageBytesPerMs);
    result = interface->writePipe(printer_.bulkOUT(), frame.bytes.constData() + sent,
                                  static_cast<uint32_t>(piece), TBUSBPrinterOLM::kBulkTimeoutMs, timeoutMs);
    if (result != kIOReturnSuccess) break;
    sent += piece;
    if (const auto now = std::chrono::steady_clock::now();
        now - lastShown >= kProgressInterval || sent == total) {
      lastShown = now;
      setStepProgress(StepProgress{StepProgress::Unit::Bytes, sent, total});
    }
  }
  // A whole frame stays shown as sent (the window reads it on the main thread, after the last
  // piece: an upload faster than one announcement would otherwise show nothing at all); the
  // printer that comes back from the restart is a new object.
  if (result != kIOReturnSuccess) setStepProgress(std::nullopt);
  printer_.setWriteStatus(result);
  if (result != kIOReturnSuccess) {
    pm::systemLogf("ERROR: writeToInterfaceWithData: [%x] (%s)", static_cast<unsigned>(result),
                   pm::stringForIOReturn(result));
  }
}

// ---- Phase 3: colour tables and the report ---------------------------------------------------------

// Success is said only when the printer reads back the target version and took every table.
void pm::PrinterUpdate::finishFirmwareUpdate() {
  pm::systemLog(QStringLiteral("-[TBUSBPrinterOLM finishFirmwareUpdate]"));
  auto printer = printer_.self();
  if (pm::UpdateEvents::stopRequested()) {
    // The new firmware runs with the old tables, which are whole: the record finishes them.
    const std::optional<pm::UpdateRecord> record = updateRecord();
    recordUpdateOutcome(QStringLiteral("failed"),
                        record ? pm::UpdateEvents::stoppedState(*record) : tr("Stopped."), kStopped);
    pm::performAsyncOnMainQueue([printer] { printer->setInFirmwareUpdate(false); });
    printer->updatePrinterStatus();
    return;
  }
  // The tables are written again at each return while the printer reports one of them with
  // another version; as with the uploads, a bound ends that.
  if (const std::optional<pm::UpdateRecord> record = updateRecord();
      record && record->tableRounds >= pm::UpdateJournal::kMaxUploads) {
    pm::systemLogf("the printer did not take the colour tables after %d rounds", record->tableRounds);
    abandonUpdate(
        tr("There was a problem with the firmware update!"),
        tr("The colour tables were sent to %1 %2 times and the printer did not take them.\n\nPlease "
           "contact customer support.")
            .arg(printer_.printerName())
            .arg(record->tableRounds));
    return;
  }
  announce(printer_.identitySerialNumber(), pm::UpdateProgress::Kind::PhaseStarted, 3);
  updateColorTables([printer](bool written, const QString& problem) {
    pm::systemLog(QStringLiteral("-[TBUSBPrinterOLM finishFirmwareUpdate]_block_invoke"));
    const std::optional<pm::UpdateRecord> record = printer->update().updateRecord();
    // A version not read at the return is asked once more, now that the printer has settled.
    if (printer->firmwareVersion().isEmpty() && printer->isPrinterCommandQueue() &&
        printer->interfaceInterface())
      if (const std::optional<QString> version = printer->properties().inlineGetFirmwareString())
        printer->storeDeviceInfo(QStringLiteral("firmwareVersion"), *version);
    const QString previous = orNull(printer->deviceInfoDict()->string(kPreviousVersionKey));
    const QString current = orNull(printer->firmwareVersion());
    const std::optional<ShippedFirmware> stands =
        record ? pm::compareShippedFirmware(printer->firmwareVersion(), record->targetVersion) : std::nullopt;
    const bool onTarget = stands == ShippedFirmware::Same;
    if (written && record)
      announce(record->serialNumber, pm::UpdateProgress::Kind::TablesWritten, 3,
               record->archive ? record->archive->tables.size() : 0);
    if (written && onTarget) {
      printer->update().recordUpdateOutcome(
          QStringLiteral("success"), tr("Firmware version updated from %1 to %2").arg(previous, current));
      pm::UpdateJournal::remove(record->serialNumber, record->deviceKey, record->productID);
      printer->dialogs().showAlert(tr("Firmware update was successful!"),
                                   tr("Firmware version updated from %1 to %2").arg(previous, current),
                                   {tr("Finish")}, nullptr);
    } else {
      const QString what =
          !written ? problem + QStringLiteral(" ") +
                         tr("The update goes on when the printer returns: please switch it off and on again "
                            "and keep it connected.")
          : !stands ? tr("The colour tables were written, but the printer's firmware version could not be "
                         "confirmed. Please switch the printer off and on again and check its version.")
                    : tr("The printer does not report the new firmware version. Please switch it off and on "
                         "again and run the update once more.");
      printer->update().recordUpdateOutcome(QStringLiteral("failed"), what);
      printer->dialogs().showAlert(
          tr("There was a problem with the firmware update!"),
          tr("Previous firmware version: %1 current version: %2").arg(previous, current) +
              QStringLiteral("\n\n") + what,
          {tr("OK")}, nullptr);
      if (written) {
        pm::UpdateJournal::remove(record ? record->serialNumber : printer->identitySerialNumber(),
                                  printer->keyUSBdevice(), printer->productID());
      }
    }
    pm::performAsyncOnMainQueue([printer] { printer->setInFirmwareUpdate(false); });
    printer->updatePrinterStatus();
  });
}

// ---- Ownership -----------------------------------------------------------------------------------

bool pm::PrinterUpdate::takePrinterForUser() {
  Q_ASSERT(pm::isMainQueue());
  const QString serial = printer_.identitySerialNumber();
  const std::optional<pm::LockHolder> holder = pm::UpdateEvents::begin(serial, printer_.keyUSBdevice());
  if (!holder) return true;
  pm::UpdateEvents::busy(serial, *holder);
  printer_.dialogs().showAlert(tr("Being updated by another program"),
                               tr("%1 is being updated or changed by another program: %2.\n\nNothing was "
                                  "changed. Try again when that program has finished.")
                                   .arg(printer_.printerName(), holder->describe()),
                               {tr("OK")}, nullptr);
  return false;
}

// ---- Status texts and the stage ----------------------------------------------------------------------

void pm::PrinterUpdate::setOverridePrinterStatus(const QString& text) {
  pm::systemLog(QStringLiteral("forcing printer status string to \"%1\"").arg(text));
  auto printer = printer_.self();
  pm::performAsyncOnMainQueue([printer, text] { printer->setPrinterStatus(text); });
}

void pm::PrinterUpdate::storeUpdateStage(pm::UpdateStage stage) {
  printer_.storeDeviceInfo(TBUSBPrinterOLM::kUpdateStageKey, static_cast<int>(stage));
}

// ---- Telling the user when a phase cannot open the printer ------------------------------------------

void pm::PrinterUpdate::showUpdateOpenFailedAlert(UpdateStep step, IOReturn result) {
  pm::systemLogf("the firmware update could not open %s (%s)", printer_.descriptionUTF8().constData(),
                 pm::stringForIOReturn(result));
  const QString what = step == UpdateStep::RewriteRequest
                           ? tr("The firmware update could not start because the printer could not be "
                                "opened (%1).\n\nPlease switch the printer off and on again and start the "
                                "update once more.")
                           : tr("The firmware update could not go on because the printer could not be "
                                "opened (%1).\n\nPlease switch the printer off and on again and keep it "
                                "connected. The update continues when the printer returns.");
  printer_.dialogs().showAlert(tr("The printer is not responding"),
                               what.arg(QString::fromLatin1(pm::stringForIOReturn(result))), {tr("OK")},
                               nullptr);
}

// ---- Ending an update without success -----------------------------------------------------------------

void pm::PrinterUpdate::stopUpdate(const QString& title, const QString& message) {
  recordUpdateOutcome(QStringLiteral("failed"), message, {}, title);
  showStopped(title, message);
}

void pm::PrinterUpdate::abandonUpdate(const QString& title, const QString& message) {
  recordUpdateOutcome(QStringLiteral("failed"), message, {}, title);  // while the record says from and to
  const std::optional<pm::UpdateRecord> record = updateRecord();
  if (record) pm::UpdateJournal::remove(record->serialNumber, record->deviceKey, record->productID);
  printer_.deviceInfoDict()->remove(TBUSBPrinterOLM::kUpdateStageKey);
  showStopped(title, message);
}

void pm::PrinterUpdate::showStopped(const QString& title, const QString& message) {
  auto printer = printer_.self();
  printer_.dialogs().showAlert(title, message, {tr("OK")}, nullptr);
  pm::performAsyncOnMainQueue([printer] { printer->setInFirmwareUpdate(false); });
}

// Every end of an update (verified, failed, or refused before anything was written) is told to
// whoever started it and joins the machine's history.
void pm::PrinterUpdate::recordUpdateOutcome(const QString& result, const QString& message,
                                            const QString& reason, const QString& title) {
  const std::optional<pm::UpdateRecord> record = updateRecord();
  pm::UpdateOutcome outcome;
  outcome.printer = record ? record->serialNumber : printer_.identitySerialNumber();
  outcome.model = printer_.printerModel() ? pm::modelName(*printer_.printerModel()) : printer_.model();
  outcome.from = record ? record->fromVersion : printer_.firmwareVersion();
  outcome.to = record ? record->targetVersion : newFirmwareVersion();
  outcome.result = result;
  outcome.message = QString(message).replace(QLatin1Char('\n'), QLatin1Char(' ')).simplified();
  outcome.time = QDateTime::currentDateTimeUtc();
  outcome.reason = reason;
  outcome.title = QString(title).replace(QLatin1Char('\n'), QLatin1Char(' ')).simplified();
  pm::UpdateEvents::finish(outcome);
}

// ---- The record ---------------------------------------------------------------------------------

std::optional<pm::UpdateRecord> pm::PrinterUpdate::updateRecord() const {
  return pm::UpdateJournal::find(printer_.identitySerialNumber(), printer_.keyUSBdevice(),
                                 printer_.productID());
}
