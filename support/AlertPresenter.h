#pragma once
// How printer code asks the user something: an alert (title, message, buttons, optional "I Agree"
// check box, style) answered with 1000 + the button's index, and application termination. The
// application supplies Qt implementations (app/); tests supply scripted ones that answer buttons
// and record what was shown.
//
// Threading: every call may come from any thread; implementations present on the main thread and
// call completions there.

#include <functional>
#include <memory>

#include <QImage>
#include <QString>
#include <QStringList>

namespace pm {

enum class AlertStyle { Warning = 0, Critical = 2 };

// An alert's answer names the button pressed: the first button's code plus its index. Unscoped,
// so that answers compare and add as the numbers they are.
enum AlertReturn : int { kAlertFirstButtonReturn = 1000, kAlertSecondButtonReturn = 1001 };

struct AlertRequest {
  QString title{};             // the main text
  QString message{};           // the informative text
  QStringList buttons{};       // in order; first answers kAlertFirstButtonReturn
  QImage icon{};               // the printer's picture
  bool agreeCheckBox = false;  // an unticked "I Agree" box; the second button is enabled only
                               // while it is ticked
  AlertStyle style = AlertStyle::Warning;
  bool applicationModal = false;  // a free-standing dialog instead of a sheet on the main window
  bool suppressionCheckBox = false;
  QString printerName{};     // the printer the alert is about ("PZA (serial number X)"); may be empty
  QString serialNumber{};    // that printer's serial number; may be empty
  int escapeButton = -1;     // the button (index) that Escape and the window's close button
                             // answer, the one that cancels; -1 when none does
  bool dismissable = false;  // without such a button, Escape and the close button still end
                             // the alert, answered as dismissed
  int acceptButton = -1;     // the button (index) that goes ahead with what the user asked for:
                             // what a terminal's "y" and the command line's --yes press;
                             // -1 for an alert that only informs
  bool acceptRemovesSettings = false;  // going ahead removes the user's own configuration (print
                                       // queues): --yes alone does not press it
  QString key{};  // names a question whose premise may change while it is open (revise, withdraw)
};

struct AlertAnswer {
  int returnCode = kAlertFirstButtonReturn;  // + button index
  bool agreed = false;                       // the "I Agree" box was ticked when the button was pressed
  bool suppressed = false;                   // the suppression box was ticked
  bool dismissed = false;                    // ended by Escape or the close button, no button chosen
};

// How `request` is answered by one who does not go ahead: its cancelling (Escape) button, else
// dismissed when it may be, else the first button that is not the accepting one. Also the answer
// of an alert nobody can be shown (no presenter), so that its completion still runs. [any]
AlertAnswer decliningAnswer(const AlertRequest& request);

class AlertPresenter {
 public:
  virtual ~AlertPresenter() = default;
  // Presents asynchronously on the main thread; `completion` (may be null) runs there.
  virtual void present(const AlertRequest& request, std::function<void(const AlertAnswer&)> completion) = 0;
  // The open or waiting alert with this key says `message` now: what it asks about changed.
  virtual void revise(const QString& key, const QString& message) {
    Q_UNUSED(key);
    Q_UNUSED(message);
  }
  // The open or waiting alert with this key is no longer a question: it closes, and its
  // completion runs with its declining answer.
  virtual void withdraw(const QString& key) { Q_UNUSED(key); }
};

class ApplicationControl {
 public:
  virtual ~ApplicationControl() = default;
  virtual void terminate() = 0;  // quits the application at once
  // A line for the user's status display (the window's status bar) that says how an action the
  // user started ended when no alert says it. [any]
  virtual void showStatus(const QString& text) { Q_UNUSED(text); }
};

// The process's presenter and application; set by the application (or a test) at start-up.
AlertPresenter* alertPresenter();
void setAlertPresenter(AlertPresenter* presenter);
ApplicationControl* applicationControl();
void setApplicationControl(ApplicationControl* control);

}  // namespace pm
