// The whole application in demo mode, offscreen: the controller, window and Qt alerts on the
// virtual bus with two demo printers, from start-up through an unplug and the update warning to
// termination.

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/DemoMode.h"
#include "app/MainWindow.h"
#include "app/NotificationPort.h"
#include "app/PrinterTableModel.h"
#include "app/QtAlertPresenter.h"
#include "app/TBPrinters.h"
#include "tests/common/LogCapture.h"
#include "usb/virtual/VirtualUsbBus.h"
#include "vendor/AlertPresenter.h"
#include "vendor/TBUSBPrinterOLM.h"

class AppDemoTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir_.path());
    QCoreApplication::setOrganizationName(QStringLiteral("printer-maintenance-tests"));
    TBUSBPrinter::clearDeviceInfoRegistry();
  }

  void demoSessionFromStartToQuit() {
    pm::NotificationPort::setFactory([] { return pm::DemoMode::makeRegistry(QStringLiteral("PZA,PZA")); });
    auto controller = std::make_unique<TBPrinters>();
    MainWindow window(controller.get(), QStringLiteral("PZA,PZA"));
    QtAlertPresenter alerts(&window);
    pm::setAlertPresenter(&alerts);
    pm::setApplicationControl(&alerts);
    std::vector<std::weak_ptr<TBUSBPrinterOLM>> listed;
    connect(controller.get(), &TBPrinters::printerInserted, this,
            [&](int row) { listed.push_back(controller->printerAt(row)); });

    // Start-up as main() runs it: the attached printers are listed before the window shows.
    controller->awakeFromNib();
    QCoreApplication::sendPostedEvents();
    PrinterTableModel& model = *window.model();
    QCOMPARE(model.rowCount(), 2);
    window.applicationDidFinishLaunching();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.showsNoPrinterPage());

    auto text = [&model](int row, int column) {
      return model.data(model.index(row, column)).toString();
    };
    QTRY_COMPARE(text(0, PrinterTableModel::UsbSerial), QStringLiteral("Enabled"));
    QTRY_COMPARE(text(1, PrinterTableModel::UsbSerial), QStringLiteral("Enabled"));
    for (int row = 0; row < 2; ++row) {
      QVERIFY(text(row, PrinterTableModel::Model).contains(QStringLiteral("PZA")));
      QVERIFY(!text(row, PrinterTableModel::FirmwareVersion).isEmpty());
      QVERIFY(!text(row, PrinterTableModel::ColorTables).isEmpty());
      QCOMPARE(text(row, PrinterTableModel::LifetimeCounter), QStringLiteral("1234"));
    }
    QVERIFY(text(0, PrinterTableModel::SerialNumber) != text(1, PrinterTableModel::SerialNumber));

    // One printer is unplugged: its row goes, the other stays selected.
    auto* bus = dynamic_cast<usb::virt::VirtualUsbBus*>(usb::platformRegistry());
    QVERIFY(bus != nullptr);
    const QString staying = text(1, PrinterTableModel::SerialNumber);
    bus->devices().front()->detach();
    QTRY_COMPARE(model.rowCount(), 1);
    QCOMPARE(text(0, PrinterTableModel::SerialNumber), staying);
    QCOMPARE(controller->selectedRow(), 0);

    // "Update Firmware…" opens the warning sheet; its "Quit" ends the application.
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

    // Termination: at once, list emptied, port destroyed, the window back to its advice.
    LogCapture log;
    controller->applicationShouldTerminate();
    QVERIFY(!pm::NotificationPort::exists());
    QCoreApplication::sendPostedEvents();
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(window.showsNoPrinterPage());
    QVERIFY(log.contains(QStringLiteral("inside -[TBPrinters prepareForTermination]")));

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

QTEST_MAIN(AppDemoTest)
#include "app_demo_unittest.moc"
