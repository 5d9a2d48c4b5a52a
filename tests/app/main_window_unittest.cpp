// The main window over the real controller on the virtual bus: the rows and their refresh,
// selection in both directions, the actions on the selected printer, the launch steps (title,
// localisation), and a whole demo session with the Qt alerts from start-up to termination.

#include <QAction>
#include <QCheckBox>
#include <QMessageBox>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTableView>
#include <QTranslator>
#include <QtTest>

#include "app/DemoMode.h"
#include "app/MainWindow.h"
#include "app/PrinterTableModel.h"
#include "app/QtAlertPresenter.h"
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

  void selectionRunsBothWaysAndActionsReachTheSelectedPrinter() {
    AppHarness harness;
    harness.attachPrinter(QStringLiteral("SIM0001"));
    const auto second = harness.attachPrinter(QStringLiteral("SIM0002"));
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

    controller.selectRow(1);
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

  // Demo mode as main() runs it, with the Qt alerts: the printers are listed before the window
  // shows, an unplug removes one row, the update warning's "Quit" ends the application, and
  // termination empties the list at once.
  void demoSessionFromStartToQuit() {
    TBUSBPrinter::clearDeviceInfoRegistry();
    pm::NotificationPort::setFactory([] { return pm::DemoMode::makeRegistry(QStringLiteral("PZA,PZA")); });
    auto controller = std::make_unique<TBPrinters>();
    MainWindow window(controller.get(), QStringLiteral("PZA,PZA"));
    QtAlertPresenter alerts(&window);
    pm::setAlertPresenter(&alerts);
    pm::setApplicationControl(&alerts);
    std::vector<std::weak_ptr<TBUSBPrinterOLM>> listed;
    connect(controller.get(), &TBPrinters::printerInserted, this,
            [&](int row) { listed.push_back(controller->printerAt(row)); });
    controller->awakeFromNib();
    QCoreApplication::sendPostedEvents();
    PrinterTableModel& model = *window.model();
    QCOMPARE(model.rowCount(), 2);
    window.applicationDidFinishLaunching();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(cell(model, 1, PrinterTableModel::UsbSerial), QStringLiteral("Enabled"));

    const QString staying = cell(model, 1, PrinterTableModel::SerialNumber);
    QVERIFY(cell(model, 0, PrinterTableModel::SerialNumber) != staying);
    dynamic_cast<usb::virt::VirtualUsbBus*>(usb::platformRegistry())->devices().front()->detach();
    QTRY_COMPARE(model.rowCount(), 1);
    QCOMPARE(cell(model, 0, PrinterTableModel::SerialNumber), staying);
    QCOMPARE(controller->selectedRow(), 0);

    window.updateFirmwareAction()->trigger();
    QTRY_VERIFY(alerts.currentAlert() != nullptr);
    QMessageBox* warning = alerts.currentAlert();
    QCOMPARE(warning->windowModality(), Qt::WindowModal);
    QVERIFY(warning->checkBox() != nullptr);
    QEventLoop running;
    bool quit = true;
    QTimer::singleShot(0, warning, [warning] {
      for (QAbstractButton* button : warning->buttons())
        if (button->text() == QStringLiteral("Quit")) button->click();
    });
    QTimer::singleShot(5000, &running, [&] {
      quit = false;
      running.quit();
    });
    running.exec();
    QVERIFY(quit);

    controller->applicationShouldTerminate();
    QVERIFY(!pm::NotificationPort::exists());
    QCoreApplication::sendPostedEvents();
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(window.showsNoPrinterPage());
    QVERIFY(!window.updateFirmwareAction()->isEnabled());
    QVERIFY(!window.refreshAction()->isEnabled());

    controller.reset();
    QVERIFY(QTest::qWaitFor([&listed] {
      for (const auto& weak : listed)
        if (!weak.expired()) return false;
      return true;
    }, 10000));
    pm::setAlertPresenter(nullptr);
    pm::setApplicationControl(nullptr);
    pm::NotificationPort::reclaim();
    pm::NotificationPort::setFactory(nullptr);
  }

 private:
  QTemporaryDir settingsDir_;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_unittest.moc"
