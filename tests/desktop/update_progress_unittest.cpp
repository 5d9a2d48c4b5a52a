// What the window shows while a firmware update runs: the phase read from the update's recorded
// stage, the bar beside the status text, and the status bar line that stays while the printer
// restarts between phases.

#include <QPainter>
#include <QStatusBar>
#include <QTableView>
#include <QtTest>

#include "app/MainWindow.h"
#include "app/PrinterTableModel.h"
#include "app/UpdatePhase.h"
#include "app/UpdateProgressDelegate.h"
#include "app/UpdateStatusIndicator.h"
#include "tests/app/app_test_harness.h"
#include "update/UpdateReturnWatch.h"

namespace {

const QString kStage = QStringLiteral("deviceFirmwareStatus");

QImage renderStatusCell(const QTableView& table, const QModelIndex& index) {
  QStyleOptionViewItem option;
  option.initFrom(table.viewport());
  option.widget = &table;
  option.rect = QRect(0, 0, 400, 50);
  QImage image(option.rect.size(), QImage::Format_ARGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  table.itemDelegateForColumn(PrinterTableModel::PrinterStatus)->paint(&painter, option, index);
  return image;
}

}  // namespace

class UpdateProgressTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { useTemporarySettings(settingsDir_); }

  void phaseFollowsTheRecordedStage() {
    AppHarness harness;
    harness.attachPrinter(QStringLiteral("SIM0001"));
    TBPrinters& controller = harness.start();
    QTRY_COMPARE(controller.count(), 1);
    harness.settle();
    const TBPrinters::PrinterRef printer = controller.printerAt(0);

    QCOMPARE(pm::updatePhase(*printer), 0);
    printer->storeDeviceInfo(kStage, 2);
    QCOMPARE(pm::updatePhase(*printer), 0);  // a stage left from an earlier update is no update
    printer->deviceInfoDict()->remove(kStage);
    printer->setInFirmwareUpdate(true);
    QCOMPARE(pm::updatePhase(*printer), 1);  // starting, nothing recorded yet
    printer->storeDeviceInfo(kStage, 1);
    QCOMPARE(pm::updatePhase(*printer), 1);
    printer->storeDeviceInfo(kStage, 2);
    QCOMPARE(pm::updatePhase(*printer), 2);
    printer->setPrinterStatus(QStringLiteral("Updating color tables ..."));
    QCOMPARE(pm::updatePhase(*printer), 3);
    printer->storeDeviceInfo(kStage, 3);
    QCOMPARE(pm::updatePhase(*printer), 3);
    printer->storeDeviceInfo(kStage, 9);
    QCOMPARE(pm::updatePhase(*printer), 3);
    printer->setInFirmwareUpdate(false);
  }

  void barBesideTheStatusText() {
    AppHarness harness;
    harness.attachPrinter(QStringLiteral("SIM0001"));
    TBPrinters& controller = harness.start();
    MainWindow window(&controller, QString());
    QTRY_COMPARE(window.model()->rowCount(), 1);
    harness.settle();
    const TBPrinters::PrinterRef printer = controller.printerAt(0);
    QTableView& table = *window.tableView();
    const QModelIndex status = window.model()->index(0, PrinterTableModel::PrinterStatus);
    auto* delegate = qobject_cast<UpdateProgressDelegate*>(
        table.itemDelegateForColumn(PrinterTableModel::PrinterStatus));
    QVERIFY(delegate);

    QStyleOptionViewItem option;
    option.initFrom(&table);
    const int plainWidth = delegate->sizeHint(option, status).width();
    const QImage plain = renderStatusCell(table, status);

    printer->setInFirmwareUpdate(true);
    printer->storeDeviceInfo(kStage, 2);
    QCOMPARE(delegate->phaseAt(status), 2);
    QCOMPARE(delegate->sizeHint(option, status).width(),
             plainWidth + UpdateProgressDelegate::kBarWidth + UpdateProgressDelegate::kSpacing);
    const QImage updating = renderStatusCell(table, status);
    const QRect bar = UpdateProgressDelegate::barRect(QRect(0, 0, 400, 50));
    QVERIFY(plain.copy(bar) != updating.copy(bar));
    // The text keeps its place left of the bar.
    const QRect text(0, 0, bar.left() - UpdateProgressDelegate::kSpacing, 50);
    QCOMPARE(updating.copy(text), plain.copy(text));
    printer->setInFirmwareUpdate(false);
  }

  // A whole update on a virtual printer: the row and the status bar go through the three phases
  // in order, the status bar keeps its line while the printer restarts, and clears at the end.
  void wholeUpdateShowsEachPhase() {
    AppHarness harness;
    harness.attachPrinter(QStringLiteral("SIM0001"));
    TBPrinters& controller = harness.start();
    MainWindow window(&controller, QString());
    QTRY_COMPARE(window.model()->rowCount(), 1);
    harness.settle();
    auto* indicator = window.findChild<UpdateStatusIndicator*>();
    QVERIFY(indicator);
    QVERIFY(!indicator->updateRunning());

    QList<int> phases;
    bool toldRestarting = false;
    const auto sample = [&] {
      for (int row = 0; row < window.model()->rowCount(); ++row) {
        const int phase = pm::updatePhase(*window.model()->printerAt(row));
        if (phase != 0 && (phases.isEmpty() || phases.last() != phase)) phases << phase;
      }
      toldRestarting = toldRestarting || indicator->text().contains(QStringLiteral("restarting"));
    };
    connect(window.model(), &QAbstractItemModel::dataChanged, this, sample);
    connect(window.model(), &QAbstractItemModel::rowsRemoved, this, sample);

    harness.alerts().queueAnswer(1001, true);  // "I Agree", Continue
    harness.alerts().queueAnswer(1001);        // update firmware
    controller.printerAt(0)->updateFirmware();
    QTRY_VERIFY_WITH_TIMEOUT(
        harness.alerts().titles().contains(QStringLiteral("Firmware update was successful!")), 30000);

    QCOMPARE(phases, (QList<int>{1, 2, 3}));
    QVERIFY(toldRestarting);
    QTRY_VERIFY_WITH_TIMEOUT(!indicator->updateRunning(), 10000);
    QVERIFY(indicator->isHidden());
  }

  void statusBarLineWhileRestarting() {
    AppHarness harness;
    const auto device = harness.attachPrinter(QStringLiteral("SIM0001"));
    TBPrinters& controller = harness.start();
    MainWindow window(&controller, QString());
    QTRY_COMPARE(window.model()->rowCount(), 1);
    harness.settle();
    auto* indicator = window.findChild<UpdateStatusIndicator*>();
    const TBPrinters::PrinterRef printer = controller.printerAt(0);
    const QString key = printer->keyUSBdevice();

    printer->setInFirmwareUpdate(true);
    printer->storeDeviceInfo(kStage, 1);
    QVERIFY(!indicator->isHidden());
    QVERIFY(indicator->text().contains(QStringLiteral("Phase 1 of 3")));
    QVERIFY(indicator->text().contains(QStringLiteral("SIM0001")));
    QVERIFY(indicator->toolTip().contains(QStringLiteral("Do not unplug")));

    // The printer leaves while the update waits for it: the line stays and says why.
    pm::UpdateReturnWatch::expect(key, pm::UpdateReturnWatch::Step::RewriteRequest, {});
    device->device()->detach();
    QTRY_COMPARE(window.model()->rowCount(), 0);
    QVERIFY(indicator->text().contains(QStringLiteral("restarting")));
    QTest::qWait(1500);
    QVERIFY(indicator->updateRunning());

    // Once nothing waits for it any more, the line goes.
    pm::UpdateReturnWatch::arrived(key);
    QTRY_VERIFY_WITH_TIMEOUT(!indicator->updateRunning(), 10000);
    QVERIFY(indicator->isHidden());
  }

 private:
  QTemporaryDir settingsDir_;
};

QTEST_MAIN(UpdateProgressTest)
#include "update_progress_unittest.moc"
