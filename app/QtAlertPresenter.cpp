#include "app/QtAlertPresenter.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QWidget>

#include "app/ElidedLabel.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

namespace {
constexpr int kIconSize = 64;
constexpr int kLabelWidth = 380;
constexpr int kStatusMs = 15000;  // long enough to be read after the alert that led to it
}  // namespace

QtAlertPresenter::QtAlertPresenter(QWidget* window, QObject* parent) : QObject(parent), window_(window) {
  Q_ASSERT(pm::isMainQueue());
}

QtAlertPresenter::~QtAlertPresenter() {
  // A sheet belongs to its window; a free-standing alert is ours.
  if (current_ && current_->parent() == nullptr) delete current_.data();
}

// ---- Requests --------------------------------------------------------------------------------

void QtAlertPresenter::present(const pm::AlertRequest& request,
                               std::function<void(const pm::AlertAnswer&)> completion) {
  // Always through the event loop, also on the main thread: the caller's current step finishes
  // before any alert (or its completion) can run.
  QMetaObject::invokeMethod(
      this, [this, alert = Pending{request, std::move(completion)}]() mutable { enqueue(std::move(alert)); },
      Qt::QueuedConnection);
}

void QtAlertPresenter::terminate() {
  if (pm::isMainQueue()) {
    QCoreApplication::exit(0);
    return;
  }
  if (QCoreApplication* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(
        app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void QtAlertPresenter::showStatus(const QString& text) {
  QMetaObject::invokeMethod(
      this,
      [this, text] {
        if (auto* window = qobject_cast<QMainWindow*>(window_.data()))
          ElidedLabel::showStatusLine(window->statusBar(), text, kStatusMs);
      },
      Qt::QueuedConnection);
}

void QtAlertPresenter::revise(const QString& key, const QString& message) {
  Q_ASSERT(pm::isMainQueue());
  if (key.isEmpty()) return;
  for (Pending& waiting : pending_)
    if (waiting.request.key == key) waiting.request.message = message;
  if (!current_ || currentRequest_.key != key) return;
  currentRequest_.message = message;
  setTexts(current_, currentRequest_.title, informativeText(currentRequest_));
  pm::systemLog(QStringLiteral("alert \"%1\" revised").arg(currentRequest_.title));
}

void QtAlertPresenter::withdraw(const QString& key) {
  Q_ASSERT(pm::isMainQueue());
  if (key.isEmpty()) return;
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (it->request.key != key) {
      ++it;
      continue;
    }
    auto completion = std::move(it->completion);
    const pm::AlertAnswer answer = pm::decliningAnswer(it->request);
    it = pending_.erase(it);
    if (completion) completion(answer);
  }
  if (!current_ || currentRequest_.key != key) return;
  pm::systemLog(
      QStringLiteral("alert \"%1\" withdrawn: its question no longer stands").arg(currentRequest_.title));
  currentWithdrawn_ = true;
  current_->done(QDialog::Rejected);  // finish() answers it
}

void QtAlertPresenter::enqueue(Pending alert) {
  Q_ASSERT(pm::isMainQueue());
  pending_.push_back(std::move(alert));
  if (!current_) showNext();
}

// ---- Showing ---------------------------------------------------------------------------------

void QtAlertPresenter::showNext() {
  Q_ASSERT(pm::isMainQueue());
  if (current_ || pending_.empty()) return;
  Pending next = std::move(pending_.front());
  pending_.pop_front();
  currentCompletion_ = std::move(next.completion);
  currentRequest_ = next.request;
  currentWithdrawn_ = false;
  QMessageBox* box = build(next.request);
  current_ = box;
  connect(box, &QDialog::finished, this, [this, box] { finish(box); });
  const bool asSheet = !next.request.applicationModal && window_ && window_->isVisible();
  if (asSheet) {
    box->open();  // window-modal on the main window
  } else {
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
  }
}

QMessageBox* QtAlertPresenter::build(const pm::AlertRequest& request) {
  const bool asSheet = !request.applicationModal && window_ && window_->isVisible();
  auto* box = new QMessageBox(asSheet ? window_.data() : nullptr);
  box->setWindowTitle(tr("Printer Maintenance"));
  if (!request.printerName.isEmpty()) box->setWindowTitle(request.printerName);
  setTexts(box, request.title, informativeText(request));
  if (!request.icon.isNull()) {
    box->setIconPixmap(QPixmap::fromImage(
        request.icon.scaled(kIconSize, kIconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  } else {
    box->setIcon(request.style == pm::AlertStyle::Critical ? QMessageBox::Critical : QMessageBox::Warning);
  }

  QStringList titles = request.buttons;
  if (titles.isEmpty()) titles.append(tr("OK"));
  currentButtons_.clear();
  currentHasAgreeBox_ = request.agreeCheckBox;
  for (int i = 0; i < titles.size(); ++i) {
    const bool cancels = i == request.escapeButton;
    QPushButton* button =
        box->addButton(titles[i], cancels ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
    // Return presses only the default button, never whichever one happens to have the focus.
    button->setAutoDefault(false);
    if (cancels) box->setEscapeButton(button);
    currentButtons_.append(button);
  }
  currentDismissButton_ = nullptr;
  if (request.escapeButton < 0 && request.dismissable) {
    // Escape, Return and the close button go back without a choice; the other buttons act.
    currentDismissButton_ = box->addButton(tr("Back"), QMessageBox::RejectRole);
    qobject_cast<QPushButton*>(currentDismissButton_)->setAutoDefault(false);
    box->setEscapeButton(currentDismissButton_);
  }
  // The safe choice is what Return presses: the one that cancels or goes back, else the first
  // that does not go ahead.
  QAbstractButton* safe = currentDismissButton_;
  if (request.escapeButton >= 0 && request.escapeButton < currentButtons_.size())
    safe = currentButtons_[request.escapeButton];
  if (safe == nullptr) {
    int index = 0;
    while (index + 1 < currentButtons_.size() && index == request.acceptButton) ++index;
    safe = currentButtons_[index];
  }
  auto* safeButton = qobject_cast<QPushButton*>(safe);
  box->setDefaultButton(safeButton);

  if (request.agreeCheckBox) {
    auto* agree = new QCheckBox(tr("I Agree"), box);
    box->setCheckBox(agree);
    if (currentButtons_.size() >= 2) {
      auto* guarded = qobject_cast<QPushButton*>(currentButtons_[1]);
      guarded->setEnabled(false);
      // Going ahead becomes the default only once agreed to, and stops being it when unticked.
      connect(agree, &QCheckBox::toggled, box, [box, guarded, safeButton](bool agreed) {
        guarded->setEnabled(agreed);
        box->setDefaultButton(agreed ? guarded : safeButton);
      });
    }
  } else if (request.suppressionCheckBox) {
    box->setCheckBox(new QCheckBox(tr("Do not show this message again"), box));
  }
  return box;
}

void QtAlertPresenter::finish(QMessageBox* box) {
  Q_ASSERT(pm::isMainQueue());
  if (box != current_) return;
  pm::AlertAnswer answer;
  if (currentWithdrawn_) {
    answer = pm::decliningAnswer(currentRequest_);
  } else {
    int index = static_cast<int>(currentButtons_.indexOf(box->clickedButton()));
    if (index < 0) index = static_cast<int>(currentButtons_.indexOf(box->escapeButton()));
    answer.dismissed = index < 0 && currentDismissButton_ != nullptr;
    if (index < 0) index = 0;
    answer.returnCode = pm::kAlertFirstButtonReturn + index;
    const bool ticked = box->checkBox() != nullptr && box->checkBox()->isChecked();
    answer.agreed = ticked && currentHasAgreeBox_;
    answer.suppressed = ticked && !currentHasAgreeBox_;
  }

  auto completion = std::move(currentCompletion_);
  currentCompletion_ = nullptr;
  currentButtons_.clear();
  currentDismissButton_ = nullptr;
  currentWithdrawn_ = false;
  current_ = nullptr;
  box->deleteLater();
  if (completion) completion(answer);
  showNext();
}

// The printer the alert is about heads the informative text (and titles the window).
QString QtAlertPresenter::informativeText(const pm::AlertRequest& request) {
  return request.printerName.isEmpty()
             ? request.message
             : tr("Printer: %1").arg(request.printerName) + QStringLiteral("\n\n") + request.message;
}

void QtAlertPresenter::setTexts(QMessageBox* box, const QString& title, const QString& message) {
  const auto html = [](const QString& text) {
    return text.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"));
  };
  QString rich = QStringLiteral("<b>%1</b>").arg(html(title));
  if (!message.isEmpty()) rich += QStringLiteral("<br><br>") + html(message);
  box->setText(QString());
  box->setInformativeText(rich);
  // Without it the box wraps the warnings into a narrow column.
  box->setStyleSheet(
      QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: %1px; }").arg(kLabelWidth));
  // A screen reader reads the words, not the markup that makes the title bold.
  box->setAccessibleName(title);
  box->setAccessibleDescription(message);
}
