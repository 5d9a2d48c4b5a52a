// TBUSBPrinterOLM: what a new printer object does first. It takes over the device information
// kept for its device key (so a printer restarted by the update finds its stage) and probes the
// printer: a recorded stage carries the update on to its next phase or closes it; without one, a
// printer found waiting in update mode is offered the upload.

#include <QDebug>
#include <QSet>
#include <QThread>

#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/UpdateEvents.h"
#include "olm/update/UpdateJournal.h"
#include "olm/update/UpdateReturnWatch.h"
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

QString describe(const QVariantMap& map) {
  QString text;
  QDebug(&text).nospace() << map;
  return text;
}

}  // namespace

// ---- Creation ----------------------------------------------------------------------------------

bool TBUSBPrinterOLM::initWithInterfaceInterface(std::shared_ptr<usb::UsbInterface> interface,
                                                 const usb::ServiceHandle& service) {
  Q_ASSERT(pm::isMainQueue());
  if (!TBUSBPrinter::initWithInterfaceInterface(std::move(interface), service)) return false;
  const QString line(64, QLatin1Char('+'));
  for (int i = 0; i < 3; ++i) pm::systemLog(line);
  const QString key = keyUSBdevice();
  pm::systemLog(QStringLiteral("initing device for key %1").arg(key));

  const QVariantMap record = deviceInfoForKey(key)->snapshot();
  pm::systemLog(QStringLiteral("infoDict here is %1").arg(describe(record)));
  deviceInfoDict()->merge(record);
  auto printer = self();
  pm::performAsyncOnMainQueue([printer, record] {
    const QString manufacturer = record.value(QStringLiteral("manufacturer")).toString();
    const QString model = record.value(QStringLiteral("model")).toString();
    // The record only fills what the printer does not know yet.
    if (printer->manufacturer().isEmpty() && !manufacturer.isEmpty()) printer->setManufacturer(manufacturer);
    if (printer->model().isEmpty() && !model.isEmpty()) printer->setModel(model);
  });
  pm::UpdateReturnWatch::arrived(key);
  // The printer's identity (device ID, USB serial string) is read on its queue; the update's
  // recognition and the first probe come after it there.
  performInlineOnCommandQueue([printer] {
    printer->recogniseUpdateAtAttach();
    printer->probeAtInit();
  });
  return true;
}

// The update record, not the port, says whether this printer is in an update: the stage kept for
// this port belongs to whichever printer was here, and a restarted process has none.
void TBUSBPrinterOLM::recogniseUpdateAtAttach() {
  Q_ASSERT(isPrinterCommandQueue());
  const QString key = keyUSBdevice();
  const QString serial = identitySerialNumber();
  if (const std::optional<pm::UpdateRecord> record = pm::UpdateJournal::find(serial, key, productID())) {
    // The update goes on from here: in this process, or in a new one after a stop.
    pm::UpdateEvents::begin(record->serialNumber);
    pm::UpdateEvents::progress(
        {record->serialNumber, pm::UpdateProgress::Kind::Back, static_cast<int>(record->stage)});
    deviceInfoDict()->setValue(kUpdateStageKey, static_cast<int>(record->stage));
    if (!record->fromVersion.isEmpty())
      deviceInfoDict()->setValue(QStringLiteral("firmwareVersionPrevious"), record->fromVersion);
    if (record->deviceKey != key) {
      pm::UpdateRecord moved = *record;
      moved.deviceKey = key;
      pm::UpdateJournal::put(moved);
    }
  } else {
    const int stage = deviceInfoDict()->value(kUpdateStageKey).toInt();
    if (stage == static_cast<int>(pm::UpdateStage::RestartRequested) ||
        stage == static_cast<int>(pm::UpdateStage::ImageSent)) {
      pm::systemLog(
          QStringLiteral("no update recorded for this printer: the stage %1 kept for %2 is not its own")
              .arg(stage)
              .arg(key));
      deviceInfoDict()->remove(kUpdateStageKey);
    }
    if (const std::optional<pm::UpdateRecord> other = pm::UpdateJournal::otherAt(serial, key, productID()))
      pm::performAsyncOnMainQueue(
          [printer = self(), other = *other] { printer->tellUpdateNotFinished(other); });
  }
}

void TBUSBPrinterOLM::tellUpdateNotFinished(const pm::UpdateRecord& other) {
  Q_ASSERT(pm::isMainQueue());
  pm::systemLog(QStringLiteral("%1 is at the port of the unfinished update of %2; it gets no update command")
                    .arg(printerName(), other.printerName()));
  dialogs().showAlert(
      tr("The firmware update is not finished"),
      tr("The firmware update of %1 was interrupted and is not finished. The printer now connected "
         "at its USB port, %2, is a different printer and is left as it is.\n\nPlease connect %1 "
         "again to finish its update.")
          .arg(other.printerName(), printerName()),
      {tr("OK")}, nullptr);
}

// ---- Probe -------------------------------------------------------------------------------------

void TBUSBPrinterOLM::probeAtInit() {
  auto printer = self();
  openInterface([printer](IOReturn result) {
    if (result != kIOReturnSuccess) return;
    const QVariant stage = printer->deviceInfoDict()->value(kUpdateStageKey);
    if (!stage.isValid()) {
      printer->getPrinterStatus([printer](const StatusCode& code) {
        if (code && *code == kUpdateModeCode) {
          printer->showUnexpectedUpdateModePrompt();
        } else {
          printer->getDeviceCustomInfo();
        }
      });
      return;  // the interface stays open on this path
    }

    pm::performAsyncOnMainQueue([printer] { printer->setInFirmwareUpdate(true); });
    const std::optional<QString> version = printer->inlineGetFirmwareString();
    printer->storeDeviceInfo(QStringLiteral("firmwareVersion"), version.value_or(QString()));
    pm::systemLog(QStringLiteral("printer firmware is currently reported as \"%1\"")
                      .arg(version.value_or(QStringLiteral("(null)"))));
    switch (static_cast<pm::UpdateStage>(stage.toInt())) {
      case pm::UpdateStage::ImageSent:
        printer->continueAfterUpload(version);
        break;
      case pm::UpdateStage::RestartRequested:
        pm::systemLog(QStringLiteral("found a device waiting for firmware update"));
        printer->getPrinterStatus([printer](const StatusCode& code) {
          if (code && *code == kUpdateModeCode) {
            pm::systemLog(QStringLiteral("device is in firmware update mode ... uploading firmware"));
            printer->uploadFirmware();
            return;
          }
          pm::systemLog(QStringLiteral("Bad Status (%1) while waiting for firmware update")
                            .arg(code.value_or(QStringLiteral("(null)"))));
          if (!code) {
            // No answer: a printer that left carries on when it returns; one still here is stuck.
            if (printer->hasGone()) return;
            printer->stopUpdate(
                tr("The printer is not responding"),
                tr("%1 does not answer in its firmware update mode.\n\nPlease switch the printer "
                   "off and on again and keep it connected. The update continues when the "
                   "printer returns.")
                    .arg(printer->printerName()));
            return;
          }
          // Nothing was written yet: the printer runs its old firmware with its tables, so the
          // update ends here, with the user told, instead of waiting for a mode that never comes.
          printer->abandonUpdate(
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
        printer->deviceInfoDict()->remove(kUpdateStageKey);
        printer->getDeviceCustomInfo();
        break;
    }
    printer->closeInterface(nullptr);
  });
}

// Stage 2: the image was sent and the printer is back.
void TBUSBPrinterOLM::continueAfterUpload(const std::optional<QString>& version) {
  Q_ASSERT(isPrinterCommandQueue());
  pm::systemLog(QStringLiteral("found a device rebooting after firmware update"));
  if (version == kVLAIntermediateFirmware) {
    QThread::msleep(1000);
    return;
  }
  // A printer that lost power while the image arrived comes back in its loader; finishing the
  // update would write tables it ignores and report success. It gets the image again instead.
  auto code = std::make_shared<std::optional<QString>>();
  sendPrinterCommand([this] { sendPrinterCommand(pm::framing::Command::Status); }, printerCommandQueue(),
                     [code](const QByteArray& reply) { *code = replyText(reply); });
  if (*code == kUpdateModeCode) {
    pm::systemLog(QStringLiteral(
        "device is still in firmware update mode after the upload ... uploading firmware again"));
    uploadFirmware();
    return;
  }

  const QString previous = deviceInfoDict()->string(QStringLiteral("firmwareVersionPrevious"));
  const QString current = version.value_or(QString());
  if (previous.isNull() || previous == current) {
    pm::systemLog(QStringLiteral("firmware version unchanged at %1").arg(current));
  } else {
    pm::systemLog(QStringLiteral("firmware version changed from %1 to %2").arg(previous, current));
  }
  storeDeviceInfo(QStringLiteral("firmwareVersion"), current);
  // Only a printer that runs the new firmware gets its tables: one that came back on other
  // firmware did not take the image, and its own tables are left as they are.
  const std::optional<pm::UpdateRecord> record = updateRecord();
  if (record && current != record->targetVersion) {
    pm::systemLogf("the printer runs \"%s\", not the new firmware \"%s\"", qUtf8Printable(current),
                   qUtf8Printable(record->targetVersion));
    abandonUpdate(tr("There was a problem with the firmware update!"),
                  tr("Previous firmware version: %1 current version: %2").arg(previous, current) +
                      QStringLiteral("\n\n") +
                      tr("%1 restarted without the new firmware %2. Its colour tables were not changed.\n\n"
                         "Please switch the printer off and on again and run the update once more.")
                          .arg(printerName(), record->targetVersion));
    getDeviceCustomInfo();
    return;
  }
  finishFirmwareUpdate();
}

// ---- A printer found in update mode without a stage ------------------------------------------------

void TBUSBPrinterOLM::showUnexpectedUpdateModePrompt() {
  Q_ASSERT(pm::isMainQueue());
  const QString shownKey = keyUSBdevice() + QLatin1Char('/') + identitySerialNumber();
  if (promptsShown().contains(shownKey)) {
    pm::systemLog(QStringLiteral("found in firmware update mode again; its prompt is already shown"));
    return;
  }
  promptsShown().insert(shownKey);
  pm::UpdateEvents::begin(identitySerialNumber());
  auto printer = self();
  dialogs().showCustomAlert(
      tr("Attention:"),
      tr("A printer was unexpectedly found in firmware update mode. Would you like to update "
         "the firmware? "),
      {tr("Ignore"), tr("Update Firmware")}, false, pm::AlertStyle::Critical,
      [](pm::AlertRequest& alert) { alert.acceptButton = 1; },
      [printer, shownKey](const pm::AlertAnswer& answer) {
        promptsShown().remove(shownKey);
        if (answer.returnCode == pm::kAlertSecondButtonReturn) {
          pm::systemLog(QStringLiteral("device is in firmware update mode ... uploading firmware"));
          printer->uploadFirmware();
          return;
        }
        printer->recordUpdateOutcome(QStringLiteral("refused"), declinedLoaderText());
        printer->dialogs().showAlert(
            tr("Please power-cycle this printer"),
            tr("Contact customer support if power-cycling does not resolve the issue."), {tr("OK")}, nullptr);
      });
}
