#pragma once
// The alerts of the printer code, shown with Qt: a QMessageBox as a window-modal sheet on the main
// window (opened with open(), so nothing waits in a nested event loop), or an application-modal
// dialog when the request asks for one. The "I Agree" box is the message box's check box and
// enables the second button only while ticked. The safe choice (the cancelling button, "Back" for
// an alert that may be dismissed, else the first button that does not go ahead) is what Return and
// Escape press; the button that goes ahead becomes the default only once "I Agree" is ticked. One
// alert is shown at a time; alerts that arrive meanwhile wait their turn in arrival order. Each
// answer is 1000 + the index of the button. An alert whose premise changed is revised or withdrawn
// by its key.
// It also ends the application on request and shows the printers' status lines on the window's
// status bar (ApplicationControl).
//
// Threads: present() and terminate() may be called from any thread [any]; the alerts are built
// and shown, and completions run, on the main thread [main].

#include <deque>
#include <functional>

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>

#include "support/AlertPresenter.h"

class QAbstractButton;

class QWidget;

class QtAlertPresenter final : public QObject, public pm::AlertPresenter, public pm::ApplicationControl {
  Q_OBJECT

 public:
  // `window` carries the sheets; without it (or while it is hidden) alerts are free-standing. [main]
  explicit QtAlertPresenter(QWidget* window, QObject* parent = nullptr);
  ~QtAlertPresenter() override;

  void present(const pm::AlertRequest& request,
               std::function<void(const pm::AlertAnswer&)> completion) override;  // [any]
  void revise(const QString& key, const QString& message) override;               // [main]
  void withdraw(const QString& key) override;                                     // [main]
  void terminate() override;                                                      // [any]
  // On the window's status bar, when the window is a main window. [any]
  void showStatus(const QString& text) override;

  // An alert's texts as this application shows them: the title in bold above the message, both in
  // the box's wrapped informative label (the box would size its main label to one line and cut a
  // long title there); a screen reader reads them as the box's name and description. For the
  // window's own questions too. [main]
  static void setTexts(QMessageBox* box, const QString& title, const QString& message);

  // The alert on screen, or null. [main]
  QMessageBox* currentAlert() const { return current_; }
  int pendingCount() const { return static_cast<int>(pending_.size()); }  // [main]

 private:
  struct Pending {
    pm::AlertRequest request;
    std::function<void(const pm::AlertAnswer&)> completion;
  };

  void enqueue(Pending alert);
  void showNext();
  QMessageBox* build(const pm::AlertRequest& request);
  void finish(QMessageBox* box);
  static QString informativeText(const pm::AlertRequest& request);

  QPointer<QWidget> window_;
  std::deque<Pending> pending_;
  QPointer<QMessageBox> current_;
  QList<QAbstractButton*> currentButtons_;           // in request order
  QAbstractButton* currentDismissButton_ = nullptr;  // the unseen one Escape clicks, or null
  bool currentHasAgreeBox_ = false;                  // its check box is "I Agree" (else suppression)
  pm::AlertRequest currentRequest_;
  bool currentWithdrawn_ = false;  // ended by withdraw(): answered as declined
  std::function<void(const pm::AlertAnswer&)> currentCompletion_;
};
