// PrinterDialogs: the presentation routine, the "I Agree" state, the warning texts and the
// alerts after a USB serial-number change.

#include <QSettings>

#include "olm/printer/PrinterDialogs.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/FirmwareArchive.h"
#include "support/MainQueue.h"
#include "support/PrintQueues.h"
#include "support/Resources.h"
#include "support/SystemLog.h"

namespace {

void present(const pm::AlertRequest& request, std::function<void(const pm::AlertAnswer&)> completion) {
  pm::AlertPresenter* presenter = pm::alertPresenter();
  if (presenter == nullptr) {
    // Nobody to ask: the completion still runs, with the cautious answer.
    pm::systemLog(QStringLiteral("no alert presenter for \"%1\"").arg(request.title));
    if (completion) completion(pm::decliningAnswer(request));
    return;
  }
  presenter->present(request, std::move(completion));
}

}  // namespace

void PrinterDialogs::showCustomAlert(const QString& title, const QString& message,
                                     const QStringList& buttonTitles, bool agreeCheckBox,
                                     pm::AlertStyle style,
                                     std::function<void(pm::AlertRequest& alert)> customLayout,
                                     AlertAnswerCompletion completion) {
  pm::systemLog(
      QStringLiteral("-[TBUSBPrinterOLM showCustomAlertWithTitle:message:buttonTitles:accessoryView:"
                     "alertStyle:customLayout:completion:]"));
  const bool hasText = !title.isEmpty() || !message.isEmpty();
  auto printer = printer_.self();
  pm::performAsyncOnMainQueue([printer, hasText, title, message, buttonTitles, agreeCheckBox, style,
                               customLayout = std::move(customLayout), completion = std::move(completion)] {
    pm::AlertRequest request;
    request.icon = printer->image();
    request.title = title.isEmpty() ? tr("Alert") : title;
    request.message = message;
    request.buttons = buttonTitles.isEmpty() ? QStringList{tr("OK")} : buttonTitles;
    request.agreeCheckBox = agreeCheckBox;
    request.style = style;
    // With two printers of a model attached, the user must see which one the alert is about.
    request.printerName = printer->printerName();
    // Escape means the button that cancels, whatever the language calls it.
    request.escapeButton = static_cast<int>(request.buttons.indexOf(tr("Cancel")));
    request.serialNumber = printer->identitySerialNumber();
    if (customLayout) customLayout(request);
    if (!hasText) {
      // An alert that says nothing is not shown; whoever waits for its answer is not left waiting.
      if (completion) completion(pm::decliningAnswer(request));
      return;
    }
    // The completion holds the printer until the user has answered.
    present(request, [printer, completion](const pm::AlertAnswer& answer) {
      if (completion) completion(answer);
    });
  });
}

void PrinterDialogs::showAlert(const QString& title, const QString& message, const QStringList& buttonTitles,
                               AlertCompletion completion) {
  showCustomAlert(title.isEmpty() ? tr("Alert") : title, message, buttonTitles, false,
                  pm::AlertStyle::Warning, nullptr,
                  [completion = std::move(completion)](const pm::AlertAnswer& answer) {
                    if (completion) completion(answer.returnCode);
                  });
}

void PrinterDialogs::showConfirmation(const QString& title, const QString& message,
                                      const QStringList& buttonTitles, AlertCompletion completion) {
  showCustomAlert(
      title, message, buttonTitles, false, pm::AlertStyle::Warning,
      [](pm::AlertRequest& alert) { alert.acceptButton = static_cast<int>(alert.buttons.size()) - 1; },
      [completion = std::move(completion)](const pm::AlertAnswer& answer) {
        if (completion) completion(answer.returnCode);
      });
}

void PrinterDialogs::setToggleAgreed(bool on) {
  Q_ASSERT(pm::isMainQueue());
  customerDidAgree_ = on;
  printer_.announceChange(QStringLiteral("customerDidAgree"));
}

// The warning never promises an upgrade that would not be one.
QString PrinterDialogs::genericUpdateWarningText() {
  switch (printer_.update().shippedFirmware().value_or(pm::PrinterUpdate::ShippedFirmware::Newer)) {
    case pm::PrinterUpdate::ShippedFirmware::Same:
      return tr("This printer already has firmware version %1. This update tool would reinstall the same "
                "version. "
                "This process cannot be undone")
          .arg(printer_.update().newFirmwareVersion());
    case pm::PrinterUpdate::ShippedFirmware::Older:
      return tr("This printer has firmware version %1, newer than %2. This update tool would install the "
                "older "
                "version %2. This process cannot be undone")
          .arg(printer_.firmwareVersion(), printer_.update().newFirmwareVersion());
    case pm::PrinterUpdate::ShippedFirmware::Newer:
      break;
  }
  return tr("This update tool will upgrade the printer firmware to version %1. This process cannot be undone")
      .arg(printer_.update().newFirmwareVersion());
}

QString PrinterDialogs::VLAUpdateWarningText() {
  const std::optional<pm::PrinterModel> model = printer_.printerModel();
  const QString useUpMedia =
      model && printer_.installedFirmwareVersion() < pm::modelTraits(*model).mediaChangeBelow
          ? tr(" Please use up all VLA media before using this update tool.")
          : QString();
  return tr("This update tool is for the OLM VLA printer. It will upgrade the printer to %1.\n\nOnce "
            "updated, "
            "the VLA printer will REQUIRE the use of VLAQ media packs.%2 This process cannot be undone.")
      .arg(pm::shortVersionString(), useUpMedia);
}

// ---- After a USB serial-number change ------------------------------------------------------------

void PrinterDialogs::showPowerCycleAlert() {
  // Needed only while the setting and what the device shows disagree.
  const bool deviceShowsSerial = !printer_.serialNumberUSB().isEmpty();
  if (printer_.properties().usbISerial() == deviceShowsSerial) return;
  pm::AlertRequest request;
  request.icon = printer_.image();
  request.title = tr("Please switch %1 off and on now to complete the change.").arg(printer_.printerName());
  request.printerName = printer_.printerName();
  request.serialNumber = printer_.identitySerialNumber();
  request.buttons = {tr("OK")};
  request.applicationModal = true;
  pm::performAsyncOnMainQueue([request] {
    present(request, [](const pm::AlertAnswer& answer) {
      if (answer.suppressed)
        QSettings().setValue(QStringLiteral("ZOVRAN_OLM_USB_SuppressPowerCycleAlert"), true);
    });
  });
}

void PrinterDialogs::tellActionEnded(const QString& text) {
  pm::systemLog(text);
  if (pm::ApplicationControl* application = pm::applicationControl()) application->showStatus(text);
}

void PrinterDialogs::showPrinterBusyAlert(const QString& notDone,
                                          const std::function<void(bool retry)>& answered) {
  const QStringList buttons = answered ? QStringList{tr("Retry"), tr("Cancel")} : QStringList{tr("OK")};
  showCustomAlert(
      tr("The Selected Printer is Unavailable. (Busy)"),
      tr("Another application is using the printer. Please proceed when the printer becomes available."),
      buttons, false, pm::AlertStyle::Warning, [](pm::AlertRequest& alert) { alert.applicationModal = true; },
      [notDone, answered](const pm::AlertAnswer& answer) {
        const bool retry = answered && answer.returnCode == 1000 && !answer.dismissed;
        if (!retry && !notDone.isEmpty()) tellActionEnded(notDone);
        if (answered) answered(retry);
      });
}

// Only the queues that point at this printer are candidates, and none is removed unless the user
// says so: queues are the user's configuration, and those of other printers still work.
void PrinterDialogs::deleteExistingPrinterQueues(const std::function<void()>& done) {
  Q_ASSERT(printer_.isPrinterCommandQueue());
  const auto settled = [done] {
    if (done) done();
  };
  const QString name = printer_.printerName();
  // Every way this step ends is told: the user has to know whether a queue still points nowhere.
  const auto settledWith = [settled](const QString& words) {
    tellActionEnded(words);
    settled();
  };
  QString why;
  const std::optional<QByteArray> listing = pm::listPrintQueues(&why);
  if (!listing) return settledWith(tr("The print queues of %1 could not be checked: %2.").arg(name, why));
  const QStringList names = pm::printQueuesOfPrinter(
      *listing, printer_.model(), {printer_.serialNumberUSB(), printer_.printerSerialNumber()});
  if (names.isEmpty())
    return settledWith(tr("No print queue reaches %1 by its USB serial number.").arg(name));
  if (!pm::printSystemChangesAllowed()) {
    pm::systemLog(
        QStringLiteral("demo mode: the print queues %1 are left alone (they would be offered for removal)")
            .arg(names.join(QStringLiteral(", "))));
    return settledWith(tr("Demo mode: the print queues of %1 were left alone: %2.")
                           .arg(name, names.join(QStringLiteral(", "))));
  }
  auto printer = printer_.self();
  showCustomAlert(
      tr("Remove the print queues of this printer?"),
      tr("These print queues reach the printer through its USB serial number, which has changed; they will "
         "not "
         "find the printer any more:\n\n%1\n\nRemove them now? Add the printer again afterwards to print to "
         "it.")
          .arg(names.join(QLatin1Char('\n'))),
      {tr("&Remove"), tr("&Keep")}, false, pm::AlertStyle::Warning,
      [](pm::AlertRequest& alert) {
        alert.escapeButton = 1;
        alert.acceptButton = 0;
        alert.acceptRemovesSettings = true;
      },
      [printer, name, names, settled, settledWith](const pm::AlertAnswer& answer) {
        if (answer.returnCode != pm::kAlertFirstButtonReturn) {
          pm::systemLog(QStringLiteral("print queues kept: %1").arg(names.join(QStringLiteral(", "))));
          return settledWith(
              tr("The print queues of %1 were kept: %2.").arg(name, names.join(QStringLiteral(", "))));
        }
        // lpadmin may take its time: never on the main thread.
        printer->performInlineOnCommandQueue([printer, name, names, settled] {
          const pm::PrintQueueRemoval removal = pm::removePrintQueues(names);
          QString report;
          if (!removal.removed.isEmpty())
            report += tr("Removed: %1").arg(removal.removed.join(QStringLiteral(", ")));
          if (!removal.failed.isEmpty()) {
            if (!report.isEmpty()) report += QLatin1Char('\n');
            report += tr("Not removed: %1").arg(removal.failed.join(QStringLiteral("; ")));
          }
          if (!removal.removed.isEmpty())
            tellActionEnded(tr("%1 print queue(s) of %2 removed: %3.")
                                .arg(removal.removed.size())
                                .arg(name, removal.removed.join(QStringLiteral(", "))));
          printer->dialogs().showAlert(removal.failed.isEmpty()
                                           ? tr("The print queues of %1 were removed.").arg(name)
                                           : tr("Some print queues of %1 could not be removed.").arg(name),
                                       report, {}, nullptr);
          settled();
        });
      });
}
