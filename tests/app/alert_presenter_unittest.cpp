// QtAlertPresenter: sheets on the main window, the "I Agree" box, the answer codes, the queue of
// alerts and application-modal alerts (termination is part of the window's demo session test).

#include <QCheckBox>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include "app/QtAlertPresenter.h"

namespace {

pm::AlertRequest updateWarning() {
  pm::AlertRequest request;
  request.title = QStringLiteral("Attention:");
  request.message = QStringLiteral("This update tool will upgrade the printer firmware.");
  request.buttons = {QStringLiteral("Quit"), QStringLiteral("Continue")};
  request.agreeCheckBox = true;
  request.style = pm::AlertStyle::Critical;
  QImage icon(16, 16, QImage::Format_ARGB32);
  icon.fill(Qt::red);
  request.icon = icon;
  return request;
}

QAbstractButton* buttonTitled(QMessageBox* box, const QString& title) {
  for (QAbstractButton* button : box->buttons())
    if (button->text() == title) return button;
  return nullptr;
}

}  // namespace

class AlertPresenterTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    window_ = std::make_unique<QMainWindow>();
    window_->resize(400, 300);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    presenter_ = std::make_unique<QtAlertPresenter>(window_.get());
  }
  void cleanup() {
    presenter_.reset();
    window_.reset();
  }

  // The "I Agree" box guards the second button; a second alert waits its turn and starts unticked.
  void agreeBoxGuardsTheSecondButtonAndAlertsWaitTheirTurn() {
    QList<pm::AlertAnswer> answers;
    for (int i = 0; i < 2; ++i)
      presenter_->present(updateWarning(), [&](const pm::AlertAnswer& a) { answers << a; });
    QVERIFY(presenter_->currentAlert() == nullptr);  // never inside the caller's step
    QTRY_VERIFY(presenter_->currentAlert() != nullptr);
    QMessageBox* first = presenter_->currentAlert();
    QCOMPARE(presenter_->pendingCount(), 1);
    QCOMPARE(first->parentWidget(), window_.get());
    QCOMPARE(first->windowModality(), Qt::WindowModal);
    QVERIFY(!first->iconPixmap().isNull());
    QAbstractButton* proceed = buttonTitled(first, QStringLiteral("Continue"));
    for (const bool agreed : {false, true, false, true}) {
      first->checkBox()->setChecked(agreed);
      QCOMPARE(proceed->isEnabled(), agreed);
    }
    proceed->click();

    QTRY_VERIFY(presenter_->currentAlert() != nullptr && presenter_->currentAlert() != first);
    QCOMPARE(answers.size(), 1);
    QCOMPARE(answers[0].returnCode, 1001);
    QVERIFY(answers[0].agreed);
    QMessageBox* second = presenter_->currentAlert();
    QVERIFY(!second->checkBox()->isChecked());
    QVERIFY(!buttonTitled(second, QStringLiteral("Continue"))->isEnabled());
    buttonTitled(second, QStringLiteral("Quit"))->click();
    QTRY_COMPARE(answers.size(), 2);
    QCOMPARE(answers[1].returnCode, 1000);
    QVERIFY(presenter_->currentAlert() == nullptr);
  }

  // Without titles one "OK"; the suppression box is answered; application-modal when asked.
  void plainApplicationModalAlert() {
    pm::AlertRequest request;
    request.title = QStringLiteral("Please power-cycle the selected printer now to complete the process!");
    request.applicationModal = true;
    request.suppressionCheckBox = true;
    std::optional<pm::AlertAnswer> answer;
    presenter_->present(request, [&](const pm::AlertAnswer& a) { answer = a; });
    QTRY_VERIFY(presenter_->currentAlert() != nullptr);
    QMessageBox* box = presenter_->currentAlert();
    QCOMPARE(box->windowModality(), Qt::ApplicationModal);
    QCOMPARE(box->parentWidget(), nullptr);
    QCOMPARE(box->buttons().size(), 1);
    box->checkBox()->setChecked(true);
    buttonTitled(box, QStringLiteral("OK"))->click();
    QTRY_VERIFY(answer.has_value());
    QCOMPARE(answer->returnCode, 1000);
    QVERIFY(answer->suppressed);
  }

  void escapeAnswersOnlyACancelButton() {
    pm::AlertRequest request;
    request.buttons = {QStringLiteral("Proceed"), QStringLiteral("Cancel")};
    std::optional<pm::AlertAnswer> answer;
    presenter_->present(request, [&](const pm::AlertAnswer& a) { answer = a; });
    QTRY_VERIFY(presenter_->currentAlert() != nullptr);
    QTest::keyClick(presenter_->currentAlert(), Qt::Key_Escape);
    QTRY_VERIFY(answer.has_value());
    QCOMPARE(answer->returnCode, 1001);
  }

 private:
  std::unique_ptr<QMainWindow> window_;
  std::unique_ptr<QtAlertPresenter> presenter_;
};

QTEST_MAIN(AlertPresenterTest)
#include "alert_presenter_unittest.moc"
