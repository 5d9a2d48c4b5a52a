#include "app/QtAlertPresenter.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QWidget>

#include "support/MainQueue.h"

namespace {
constexpr int kIconSize = 64;
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
          window->statusBar()->showMessage(text, kStatusMs);
      },
      Qt::QueuedConnection);
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
  // The main text stands out above the informative text, as the platform's alerts show it.
  box->setTextFormat(Qt::RichText);
  box->setText(QStringLiteral("<b>%1</b>")
                   .arg(request.title.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"))));
  // The printer the alert is about heads the informative text and titles the window.
  const QString message = request.printerName.isEmpty() ? request.message
                                                        : tr("Printer: %1").arg(request.printerName) +
                                                              QStringLiteral("\n\n") + request.message;
  box->setInformativeText(message);
  if (!request.printerName.isEmpty()) box->setWindowTitle(request.printerName);
  // A screen reader reads the words, not the markup that makes the title bold.
  box->setAccessibleName(request.title);
  box->setAccessibleDescription(message);
  // Without it the box wraps the warnings into a narrow column.
  box->setStyleSheet(
      QStringLiteral("QLabel#qt_msgbox_label, QLabel#qt_msgbox_informativelabel { min-width: 380px; }"));
  if (!request.icon.isNull()) {
    box->setIconPixmap(QPixmap::fromImage(
        request.icon.scaled(kIconSize, kIconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  } else {
    box->setIcon(request.style == pm::AlertStyle::Critical ? QMessageBox::Critical : QMessageBox::Warning);
  }

  QStringList titles = request.buttons;
  if (titles.isEmpty()) titles.append(QStringLiteral("OK"));
  currentButtons_.clear();
  currentHasAgreeBox_ = request.agreeCheckBox;
  for (int i = 0; i < titles.size(); ++i) {
    const bool cancels = i == request.escapeButton;
    QPushButton* button =
        box->addButton(titles[i], cancels ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
    if (cancels) box->setEscapeButton(button);
    currentButtons_.append(button);
  }
  currentDismissButton_ = nullptr;
  if (request.escapeButton < 0 && request.dismissable) {
    // Escape and the close button click the escape button; an unseen one stands for "no choice".
    currentDismissButton_ = box->addButton(QMessageBox::Cancel);
    currentDismissButton_->hide();
    box->setEscapeButton(currentDismissButton_);
  }
  box->setDefaultButton(qobject_cast<QPushButton*>(currentButtons_.first()));

  if (request.agreeCheckBox) {
    auto* agree = new QCheckBox(tr("I Agree"), box);
    box->setCheckBox(agree);
    if (currentButtons_.size() >= 2) {
      QAbstractButton* guarded = currentButtons_[1];
      guarded->setEnabled(false);
      connect(agree, &QCheckBox::toggled, guarded, &QAbstractButton::setEnabled);
    }
  } else if (request.suppressionCheckBox) {
    box->setCheckBox(new QCheckBox(tr("Do not show this message again"), box));
  }
  return box;
}

void QtAlertPresenter::finish(QMessageBox* box) {
  Q_ASSERT(pm::isMainQueue());
  if (box != current_) return;
  int index = static_cast<int>(currentButtons_.indexOf(box->clickedButton()));
  if (index < 0) index = static_cast<int>(currentButtons_.indexOf(box->escapeButton()));
  pm::AlertAnswer answer;
  answer.dismissed = index < 0 && currentDismissButton_ != nullptr;
  if (index < 0) index = 0;

  answer.returnCode = pm::kAlertFirstButtonReturn + index;
  const bool ticked = box->checkBox() != nullptr && box->checkBox()->isChecked();
  answer.agreed = ticked && currentHasAgreeBox_;
  answer.suppressed = ticked && !currentHasAgreeBox_;

  auto completion = std::move(currentCompletion_);
  currentCompletion_ = nullptr;
  currentButtons_.clear();
  currentDismissButton_ = nullptr;
  current_ = nullptr;
  box->deleteLater();
  if (completion) completion(answer);
  showNext();
}
