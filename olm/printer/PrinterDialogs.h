#pragma once
// PrinterDialogs: what one of the maker's printers asks and tells the user, through
// pm::alertPresenter(): the presentation routine (the printer's picture and name on every
// alert), the update's warnings and their "I Agree" state, the busy and power-cycle alerts, and
// the question about print queues after a USB serial-number change. One per printer, owned by
// it; its texts share the printer class's translations.
//
// Threads: as marked; [main] the main thread, [queue] the printer's command queue, [any] any.
#include <atomic>
#include <functional>

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include "support/AlertPresenter.h"

class TBUSBPrinterOLM;

class PrinterDialogs {
  Q_DECLARE_TR_FUNCTIONS(TBUSBPrinterOLM)

 public:
  explicit PrinterDialogs(TBUSBPrinterOLM& printer) : printer_(printer) {}
  PrinterDialogs(const PrinterDialogs&) = delete;
  PrinterDialogs& operator=(const PrinterDialogs&) = delete;

  using AlertCompletion = std::function<void(int returnCode)>;  // kAlertFirstButtonReturn + index
  using AlertAnswerCompletion = std::function<void(const pm::AlertAnswer& answer)>;
  // Nothing is shown when title and message are both empty, or no presenter is set; the
  // completion then runs with pm::decliningAnswer. The layout hook may adjust the request before
  // it is presented. The completion runs once, on main. [any]
  void showCustomAlert(const QString& title, const QString& message, const QStringList& buttonTitles,
                       bool agreeCheckBox, pm::AlertStyle style,
                       std::function<void(pm::AlertRequest& alert)> customLayout,
                       AlertAnswerCompletion completion);
  // Title "Alert", empty message and "OK" when not given. [any]
  void showAlert(const QString& title, const QString& message, const QStringList& buttonTitles,
                 AlertCompletion completion);
  // An alert whose last button goes ahead (what a terminal's "y" presses). [any]
  void showConfirmation(const QString& title, const QString& message, const QStringList& buttonTitles,
                        AlertCompletion completion);
  void setToggleAgreed(bool on);                                      // announces "customerDidAgree" [main]
  bool customerDidAgree() const { return customerDidAgree_.load(); }  // [any]
  QString genericUpdateWarningText();                                 // [any]
  QString VLAUpdateWarningText();                                     // [any]
  void showPowerCycleAlert();                                         // [any]
  // Another program holds the printer. With `answered`, the user chooses "Retry" (true) or
  // "Cancel" (false; the application's status line then says `notDone`), else the alert only
  // informs. Names the printer. [any], `answered` on main.
  void showPrinterBusyAlert(const QString& notDone = {},
                            const std::function<void(bool retry)>& answered = nullptr);
  // How an action the user started ended without an alert: logged and shown on the application's
  // status line. [any]
  static void tellActionEnded(const QString& text);
  // The print queues that point at this printer name it by its USB serial string, which has just
  // changed: lists them, asks the user whether to remove them and says what was removed
  // (support/PrintQueues.h). Blocks the caller while the tools run. `done` runs once the queues
  // are settled (removed, kept, or none). [queue]
  void deleteExistingPrinterQueues(const std::function<void()>& done = nullptr);

 private:
  TBUSBPrinterOLM& printer_;  // the owner: this object lives and dies with it
  std::atomic<bool> customerDidAgree_{false};
};
