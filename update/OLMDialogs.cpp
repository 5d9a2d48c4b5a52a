// TBUSBPrinterOLM: the update's alerts: the presentation routine, the "I Agree" state, the
// warning texts and the two plain alerts after a USB serial-number change.

#include <QSettings>

#include "support/MainQueue.h"
#include "support/Resources.h"
#include "support/SystemLog.h"
#include "vendor/TBUSBPrinterOLM.h"

namespace {

void present(const pm::AlertRequest& request, std::function<void(const pm::AlertAnswer&)> completion) {
  pm::AlertPresenter* presenter = pm::alertPresenter();
  if (presenter == nullptr) {
    pm::systemLog(QStringLiteral("no alert presenter for \"%1\"").arg(request.title));
    return;
  }
  presenter->present(request, std::move(completion));
}

}  // namespace

void TBUSBPrinterOLM::showCustomAlert(const QString& title, const QString& message,
                                      const QStringList& buttonTitles, bool agreeCheckBox,
                                      pm::AlertStyle style,
                                      std::function<void(pm::AlertRequest& alert)> customLayout,
                                      AlertAnswerCompletion completion) {
  pm::systemLog(QStringLiteral("-[TBUSBPrinterOLM showCustomAlertWithTitle:message:buttonTitles:accessoryView:"
                               "alertStyle:customLayout:completion:]"));
  if (title.isEmpty() && message.isEmpty()) return;
  auto printer = self();
  pm::performAsyncOnMainQueue([printer, title, message, buttonTitles, agreeCheckBox, style,
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
    if (customLayout) customLayout(request);
    // The completion holds the printer until the user has answered.
    present(request, [printer, completion](const pm::AlertAnswer& answer) {
      if (completion) completion(answer);
    });
  });
}

void TBUSBPrinterOLM::showAlert(const QString& title, const QString& message,
                                const QStringList& buttonTitles, AlertCompletion completion) {
  showCustomAlert(title.isEmpty() ? tr("Alert") : title, message, buttonTitles, false,
                  pm::AlertStyle::Warning, nullptr,
                  [completion = std::move(completion)](const pm::AlertAnswer& answer) {
                    if (completion) completion(answer.returnCode);
                  });
}

void TBUSBPrinterOLM::setToggleAgreed(bool on) {
  Q_ASSERT(pm::isMainQueue());
  customerDidAgree_ = on;
  announceChange(QStringLiteral("customerDidAgree"));
}

QString TBUSBPrinterOLM::genericUpdateWarningText() {
  return tr("This update tool will upgrade the printer firmware to version %1. This process cannot be undone")
      .arg(newFirmwareVersion());
}

QString TBUSBPrinterOLM::VLAUpdateWarningText() {
  const QString useUpMedia = installedFirmwareVersion() < 2.04
                                 ? tr(" Please use up all VLA media before using this update tool.")
                                 : QString();
  return tr("This update tool is for the OLM VLA printer. It will upgrade the printer to %1.\n\nOnce updated, "
            "the VLA printer will REQUIRE the use of VLAQ media packs.%2 This process cannot be undone.")
      .arg(pm::shortVersionString(), useUpMedia);
}

// ---- After a USB serial-number change ------------------------------------------------------------

void TBUSBPrinterOLM::showPowerCycleAlert() {
  // Needed only while the setting and what the device shows disagree.
  const bool deviceShowsSerial = !serialNumberUSB().isEmpty();
  if (usbISerial() == deviceShowsSerial) return;
  pm::AlertRequest request;
  request.icon = image();
  request.title = tr("Please power-cycle the selected printer now to complete the process!");
  request.buttons = {tr("OK")};
  request.applicationModal = true;
  pm::performAsyncOnMainQueue([request] {
    present(request, [](const pm::AlertAnswer& answer) {
      if (answer.suppressed) QSettings().setValue(QStringLiteral("ZOVRAN_OLM_USB_SuppressPowerCycleAlert"), true);
    });
  });
}

void TBUSBPrinterOLM::showPrinterBusyAlert() {
  pm::AlertRequest request;
  request.icon = image();
  request.title = tr("The Selected Printer is Unavailable. (Busy)");
  request.buttons = {tr("OK")};
  request.applicationModal = true;
  pm::performAsyncOnMainQueue([request] { present(request, nullptr); });
}
