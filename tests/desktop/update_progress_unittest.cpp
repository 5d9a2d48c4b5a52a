// What the window shows while a firmware update runs: the phase read from the update's recorded
// stage, the bar beside the status text, and the status bar line that names the printer and its
// phase and stays while the printer restarts between phases.

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

  // The phase comes from the running update's recorded stage (a stage left from an earlier
  // update is no update); the bar is painted right of the status text, which keeps its place.
  void phaseFromTheStageAndTheBarBesideTheText() {
    AppHarness harness;
    harness.attachPrinter(QStringLiteral("SIM0001"));
    TBPrinters& controller = harness.start();
    MainWindow window(&controller, QString());
    QTRY_COMPARE(window.model()->rowCount(), 1);
    harness.settle();
    const TBPrinters::PrinterRef printer = controller.printerAt(0);
    const struct { bool running; int stage; const char* status; int phase; } rows[] = {
        {false, 0, nullptr, 0}, {false, 2, nullptr, 0}, {true, 0, nullptr, 1}, {true, 1, nullptr, 1},
        {true, 2, nullptr, 2}, {true, 2, "Updating color tables ...", 3}, {true, 3, nullptr, 3}, {true, 9, nullptr, 3}};
    for (const auto& row : rows) {
      printer->setInFirmwareUpdate(row.running);
      if (row.stage) printer->storeDeviceInfo(kStage, row.stage);
      else printer->deviceInfoDict()->remove(kStage);
      if (row.status) printer->setPrinterStatus(QLatin1String(row.status));
      QCOMPARE(pm::updatePhase(*printer), row.phase);
    }
    printer->setPrinterStatus(QStringLiteral("Idle"));

    QTableView& table = *window.tableView();
    const QModelIndex status = window.model()->index(0, PrinterTableModel::PrinterStatus);
    auto* delegate = qobject_cast<UpdateProgressDelegate*>(table.itemDelegateForColumn(PrinterTableModel::PrinterStatus));
    QVERIFY(delegate);
    QStyleOptionViewItem option;
    option.initFrom(&table);
    printer->setInFirmwareUpdate(false);
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
    bool namedPrinter = false;
    const auto sample = [&] {
      for (int row = 0; row < window.model()->rowCount(); ++row) {
        const int phase = pm::updatePhase(*window.model()->printerAt(row));
        if (phase != 0 && (phases.isEmpty() || phases.last() != phase)) phases << phase;
      }
      toldRestarting = toldRestarting || indicator->text().contains(QStringLiteral("restarting"));
      namedPrinter = namedPrinter || (indicator->text().contains(QStringLiteral("Phase 1 of 3")) &&
                                      indicator->text().contains(QStringLiteral("SIM0001")));
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
    QVERIFY(namedPrinter);
    QTRY_VERIFY_WITH_TIMEOUT(!indicator->updateRunning(), 10000);
    QVERIFY(indicator->isHidden());
  }

 private:
  QTemporaryDir settingsDir_;
};

QTEST_MAIN(UpdateProgressTest)
#include "update_progress_unittest.moc"
