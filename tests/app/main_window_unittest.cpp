// The main window over the real controller on the virtual bus: the no-printer page, the rows and
// their refresh, selection in both directions, the actions on the selected printer, and the
// launch steps (title, localisation).

#include <QAction>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTableView>
#include <QTranslator>
#include <QtTest>

#include "app/MainWindow.h"
#include "app/PrinterTableModel.h"
#include "tests/app/app_test_harness.h"

namespace {

class GermanRefresh final : public QTranslator {
 public:
  QString translate(const char* context, const char* source, const char*, int) const override {
    if (QByteArray(context) == "PrinterMaintenance" && QByteArray(source) == "Refresh")
      return QStringLiteral("Aktualisieren");
    return {};
  }
  bool isEmpty() const override { return false; }
};

QString cell(const PrinterTableModel& model, int row, int column, int role = Qt::DisplayRole) {
  return model.data(model.index(row, column), role).toString();
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { useTemporarySettings(settingsDir_); }

  void emptyListShowsWhatToCheck() {
    AppHarness harness;
    TBPrinters& controller = harness.start();
    MainWindow window(&controller, QString());
    QVERIFY(window.showsNoPrinterPage());
    QVERIFY(!window.updateFirmwareAction()->isEnabled());
    QVERIFY(!window.refreshAction()->isEnabled());
    QVERIFY(!window.usbSerialAction(true)->isEnabled());
  }

  void rowsShowThePrinterAndFollowItsChanges() {
    AppHarness harness;
    const auto device = harness.attachPrinter(QStringLiteral("SIM0001"));
    TBPrinters& controller = harness.start();
    MainWindow window(&controller, QStringLiteral("PZA"));
    PrinterTableModel& model = *window.model();
    QTRY_COMPARE(model.rowCount(), 1);
    QVERIFY(!window.showsNoPrinterPage());
    harness.settle();
    QTRY_VERIFY(!cell(model, 0, PrinterTableModel::ColorTables).isEmpty());

    const auto printer = controller.printerAt(0);
    QCOMPARE(cell(model, 0, PrinterTableModel::Model), printer->model());
    QCOMPARE(cell(model, 0, PrinterTableModel::SerialNumber), QStringLiteral("SIM0001"));
    QCOMPARE(cell(model, 0, PrinterTableModel::FirmwareVersion), device->firmwareVersion());
    QCOMPARE(cell(model, 0, PrinterTableModel::LifetimeCounter), QStringLiteral("1234"));
    QCOMPARE(cell(model, 0, PrinterTableModel::UsbSerial), QStringLiteral("Enabled"));
    QCOMPARE(cell(model, 0, PrinterTableModel::PrinterStatus), printer->printerStatus());
    QVERIFY(!cell(model, 0, PrinterTableModel::UsbStatus).isEmpty());
    QVERIFY(cell(model, 0, PrinterTableModel::ColorTables, Qt::ToolTipRole).contains("checksum"));
    QVERIFY(!model.data(model.index(0, PrinterTableModel::Picture), Qt::DecorationRole)
                 .value<QPixmap>()
                 .isNull());

    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    device->setCounters({4321, 0, 0, 0});
    window.refreshAction()->trigger();
    QTRY_COMPARE(cell(model, 0, PrinterTableModel::LifetimeCounter), QStringLiteral("4321"));
    QVERIFY(!changes.isEmpty());
    QCOMPARE(changes.last().first().toModelIndex().row(), 0);

    device->device()->detach();
    QTRY_VERIFY(window.showsNoPrinterPage());
    QCOMPARE(model.rowCount(), 0);
  }

  void selectionRunsBothWays() {
    AppHarness harness;
    harness.attachPrinter(QStringLiteral("SIM0001"));
    harness.attachPrinter(QStringLiteral("SIM0002"));
    TBPrinters& controller = harness.start();
    MainWindow window(&controller, QString());
    QTRY_COMPARE(window.model()->rowCount(), 2);
    harness.settle();

    QItemSelectionModel* selection = window.tableView()->selectionModel();
    window.tableView()->selectRow(1);  // as a click does
    QCOMPARE(controller.selectedRow(), 1);
    controller.selectRow(0);
    QCOMPARE(selection->selectedRows().size(), 1);
    QCOMPARE(selection->selectedRows().first().row(), 0);
    selection->clearSelection();  // nothing selected: back to the first row
    QCOMPARE(controller.selectedRow(), 0);
    QCOMPARE(selection->selectedRows().first().row(), 0);
  }

  void actionsReachTheSelectedPrinter() {
    AppHarness harness;
    harness.attachPrinter(QStringLiteral("SIM0001"));
    const auto second = harness.attachPrinter(QStringLiteral("SIM0002"));
    TBPrinters& controller = harness.start();
    MainWindow window(&controller, QString());
    QTRY_COMPARE(window.model()->rowCount(), 2);
    harness.settle();
    controller.selectRow(1);
    QVERIFY(window.usbSerialAction(false)->isEnabled());
    QVERIFY(window.usbSerialAction(true)->isChecked());

    window.usbSerialAction(false)->trigger();
    QTRY_VERIFY(!second->iSerialEnabled());

    window.updateFirmwareAction()->trigger();
    QTRY_VERIFY(harness.alerts().count() > 0);  // the update starts with a dialog
  }

  void launchStepsLocaliseAndNameTheWindow() {
    AppHarness harness;
    TBPrinters& controller = harness.start();
    MainWindow window(&controller, QString());
    GermanRefresh german;
    QCoreApplication::installTranslator(&german);
    window.applicationDidFinishLaunching();
    QCoreApplication::removeTranslator(&german);
    QCOMPARE(window.refreshAction()->text(), QStringLiteral("Aktualisieren"));
    QCOMPARE(window.updateFirmwareAction()->text(), QStringLiteral("Update Firmware…"));
    QCOMPARE(window.windowTitle(),
             QFileInfo(QCoreApplication::applicationFilePath()).fileName());
  }

 private:
  QTemporaryDir settingsDir_;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_unittest.moc"
