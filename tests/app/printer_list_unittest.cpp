// TBPrinters on the virtual bus: start-up, discovery, removal, selection, interest messages and
// termination.

#include <atomic>
#include <thread>

#include <QSignalSpy>
#include <QtTest>

#include "app/NotificationPort.h"
#include "support/Resources.h"
#include "tests/app/app_test_harness.h"
#include "tests/common/LogCapture.h"
#include "vendor/PrinterModels.h"

using namespace std::chrono_literals;

class PrinterListTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { useTemporarySettings(settingsDir_); }

  void startUpListsAttachedPrintersInRegistryOrder() {
    AppHarness harness;
    harness.attachPrinter(QStringLiteral("SIM0001"));
    harness.attachPrinter(QStringLiteral("SIM0002"));
    LogCapture log;

    TBPrinters& controller = harness.start();
    const QString display = pm::shortVersionString() + QStringLiteral(" (build ") +
                            pm::buildNumberString() + QStringLiteral(")");
    QCOMPARE(QSettings().value(QStringLiteral("prefDisplayVersionString")).toString(), display);
    QVERIFY(log.contains(QStringLiteral("display string is ") + display));
    QVERIFY(log.contains(QStringLiteral("-[TBPrinters awakeFromNib]")));

    // Both were found during registration; they join through the main queue, in registry order.
    QCOMPARE(controller.count(), 0);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(controller.count(), 2);
    QVERIFY(controller.printerAt(0)->descriptionUTF8().contains("SIM0001"));
    QVERIFY(controller.printerAt(1)->descriptionUTF8().contains("SIM0002"));
    QCOMPARE(controller.selectedRow(), 0);

    controller.applicationDidFinishLaunching();
    QCOMPARE(QSettings().value(QStringLiteral("CFBundleShortVersionString")).toString(),
             pm::shortVersionString());
    QVERIFY(!controller.updateInProgress());
  }

  void unsupportedInterfacesGetNoPrinter() {
    AppHarness harness;
    harness.attachDevice(0x1234, pm::kProductIdPZA);                  // unlisted vendor
    harness.attachDevice(pm::kVendorIdSecondary, pm::kProductIdKTA);  // unlisted product
    harness.attachDevice(pm::kVendorIdSecondary, pm::kProductIdPZA, 2);
    LogCapture log;
    TBPrinters& controller = harness.start();
    QTest::qWait(50);
    QCOMPARE(controller.count(), 0);
    QCOMPARE(log.count(QStringLiteral("Found a device that is a printer by class")), 1);
    QVERIFY(log.contains(QStringLiteral("but not by subclass; subClass=2")));
  }

  void vendorAndProductSetsAreIndependent() {
    // A listed product under the other listed vendor is admitted too.
    AppHarness harness;
    const auto printer = harness.attachPrinter(QStringLiteral("SIM0001"));
    usb::virt::VirtualDeviceDescription description = printer->device()->description();
    const uint16_t other = description.vendorId == pm::kVendorIdPrimary ? pm::kVendorIdSecondary
                                                                         : pm::kVendorIdPrimary;
    description.vendorId = other;
    printer->device()->setDescription(description);
    printer->device()->reEnumerate();
    QTRY_VERIFY(printer->device()->isAttached());
    TBPrinters& controller = harness.start();
    QTRY_COMPARE(controller.count(), 1);
    QCOMPARE(controller.printerAt(0)->vendorID(), other);
  }

  void unplugRunsQueuedCommandsBeforeTheRowGoes() {
    AppHarness harness;
    const auto device = harness.attachPrinter(QStringLiteral("SIM0001"));
    TBPrinters& controller = harness.start();
    QTRY_COMPARE(controller.count(), 1);
    harness.settle();
    const auto printer = controller.printerAt(0);

    auto commandDone = std::make_shared<std::atomic<bool>>(false);
    printer->printerCommandQueue()->async([commandDone] {
      std::this_thread::sleep_for(300ms);
      commandDone->store(true);
    });
    bool doneWhenRemoved = false;
    connect(&controller, &TBPrinters::printerAboutToBeRemoved, this,
            [&](int) { doneWhenRemoved = commandDone->load(); });
    LogCapture log;
    device->device()->detach();
    QTRY_VERIFY(log.contains(QStringLiteral("removing ")));
    QVERIFY(log.contains(QStringLiteral("a printer object was removed ... checking for matching device")));
    QCOMPARE(controller.count(), 1);  // still listed while its command runs
    QTRY_COMPARE(controller.count(), 0);
    QVERIFY(doneWhenRemoved);
    QCOMPARE(controller.selectedRow(), -1);
  }

  void removalOfUnknownServiceIsLogged() {
    AppHarness harness;
    const auto stranger = harness.attachDevice(0x1234, 0x0001);
    TBPrinters& controller = harness.start();
    const uint32_t id = stranger->service().id();
    LogCapture log;
    stranger->detach();
    QTRY_VERIFY(log.contains(QStringLiteral("failed to match a printer object for device %1")
                                 .arg(id, 0, 16)));
    QCOMPARE(controller.count(), 0);
  }

  void printerWithoutCommandQueueStillLeaves() {
    // No IEEE 1284 device ID: the printer has neither service object nor command queue.
    AppHarness harness;
    usb::virt::VirtualDeviceDescription description;
    description.vendorId = pm::kVendorIdSecondary;
    description.productId = pm::kProductIdPZA;
    const auto device = harness.bus().attach(description, std::make_shared<DeviceWithoutDeviceId>());
    TBPrinters& controller = harness.start();
    QTRY_COMPARE(controller.count(), 1);
    QCOMPARE(controller.printerAt(0)->printerCommandQueue(), nullptr);
    device->detach();
    QTRY_COMPARE(controller.count(), 0);
  }

  void selectionRule() {
    AppHarness harness;
    harness.attachPrinter(QStringLiteral("SIM0001"));
    harness.attachPrinter(QStringLiteral("SIM0002"));
    TBPrinters& controller = harness.start();
    QTRY_COMPARE(controller.count(), 2);
    harness.settle();
    controller.selectRow(0);
    QSignalSpy selections(&controller, &TBPrinters::selectionChanged);
    LogCapture log;

    controller.selectRow(1);  // the user picks the second printer: it stays picked
    QCOMPARE(controller.selectedRow(), 1);
    QCOMPARE(controller.selectedPrinter(), controller.printerAt(1));
    QVERIFY(log.contains(QStringLiteral("rows = 2; selected row = 1")));

    controller.selectRow(-1);  // an empty selection returns to the first row
    QCOMPARE(controller.selectedRow(), 0);
    QVERIFY(log.contains(QStringLiteral("selecting row 0")));
    QCOMPARE(selections.last().first().toInt(), 0);

    controller.setPrinters({});
    QVERIFY(log.contains(QStringLiteral("inside -[TBPrinters setPrinters:]")));
    QCOMPARE(controller.count(), 2);
  }

  void firmwareVersionChangeSelectsThatPrinter() {
    AppHarness harness;
    harness.attachPrinter(QStringLiteral("SIM0001"));
    const auto second = harness.attachPrinter(QStringLiteral("SIM0002"));
    TBPrinters& controller = harness.start();
    QTRY_COMPARE(controller.count(), 2);
    harness.settle();
    QCOMPARE(controller.selectedRow(), 0);  // first readings are no changes

    LogCapture log;
    second->setFirmwareVersion(QStringLiteral("01.10"));
    controller.printerAt(1)->updateInfo();
    QTRY_COMPARE(controller.selectedRow(), 1);
    QVERIFY(controller.printerAt(1)->firmwareVersion().endsWith(QStringLiteral("01.10")));
    QVERIFY(log.contains(QStringLiteral(
        "-[TBPrinters observeValueForKeyPath:ofObject:change:context:] firmwareVersion")));
  }

  void interestMessagesSetConnectionText() {
    AppHarness harness;
    const auto device = harness.attachPrinter(QStringLiteral("SIM0001"))->device();
    TBPrinters& controller = harness.start();
    QTRY_COMPARE(controller.count(), 1);
    harness.settle();
    const auto printer = controller.printerAt(0);
    QTRY_VERIFY(!printer->isInterfaceOpen());
    QVERIFY(!printer->deviceInfoDict()->isEmpty());

    // Another program wants the printer while this one does not hold it.
    if (printer->state() == TBUSBPrinterStateProbed) {
      device->sendInterestMessage(kIOMessageServiceIsAttemptingOpen);
      QTRY_COMPARE(printer->state(), int64_t(TBUSBPrinterStateClosed));
    }
    device->sendInterestMessage(kIOMessageServiceIsAttemptingOpen);
    QTRY_COMPARE(printer->status(), QStringLiteral("USB Busy"));

    device->sendInterestMessage(kIOMessageServiceWasClosed);
    QTRY_COMPARE(printer->status(), QStringLiteral("USB Available"));

    device->sendInterestMessage(kIOMessageServiceBusyStateChange);
    device->sendInterestMessage(kIOMessageServiceIsSuspended);
    QTRY_COMPARE(printer->status(), QStringLiteral("OK"));

    // Termination keeps what was learned about the printer for its return.
    device->sendInterestMessage(kIOMessageServiceIsTerminated);
    QTRY_COMPARE(TBUSBPrinter::deviceInfoForKey(printer->keyUSBdevice()).get(),
                 printer->deviceInfoDict().get());
  }

  void terminationEmptiesListWithoutWaiting() {
    AppHarness harness;
    harness.attachPrinter(QStringLiteral("SIM0001"));
    harness.attachPrinter(QStringLiteral("SIM0002"));
    TBPrinters& controller = harness.start();
    QTRY_COMPARE(controller.count(), 2);
    // A printer busy with a long command must not hold termination up.
    controller.printerAt(0)->printerCommandQueue()->async([] { std::this_thread::sleep_for(1s); });
    QSignalSpy resets(&controller, &TBPrinters::printersReset);
    LogCapture log;

    QElapsedTimer timer;
    timer.start();
    controller.applicationShouldTerminate();
    QVERIFY(timer.elapsed() < 200);
    QVERIFY(log.contains(QStringLiteral("inside -[TBPrinters applicationShouldTerminate:]")));
    QVERIFY(log.contains(QStringLiteral("inside -[TBPrinters prepareForTermination]")));
    QVERIFY(!pm::NotificationPort::exists());
    QCOMPARE(usb::platformRegistry(), nullptr);

    QCoreApplication::sendPostedEvents();
    QCOMPARE(controller.count(), 0);
    QVERIFY(controller.printers().isEmpty());
    QCOMPARE(resets.count(), 1);
    QCOMPARE(controller.selectedRow(), -1);
  }

  void queueTests() {
    QVERIFY(TBPrinters::isMainQueue());
    QCOMPARE(TBPrinters::mainQueueSpecificKey(), TBPrinters::mainQueueSpecificKey());
    std::atomic<bool> offMain{true};
    std::thread([&offMain] { offMain = TBPrinters::isMainQueue(); }).join();
    QVERIFY(!offMain);
  }

  void changeDiagnosticLogsAnnouncements() {
    TBPrinters::swapImpsforPrivateAPI();
    AppHarness harness;
    harness.attachPrinter(QStringLiteral("SIM0001"));
    LogCapture log;
    TBPrinters& controller = harness.start();
    QTRY_COMPARE(controller.count(), 1);
    controller.printerAt(0)->updateInfo();
    QTRY_VERIFY(log.contains(
        QStringLiteral("newPrivateAPI_Imp @#@#@#@#@#@#@#@#@#@#@#@# firmwareVersion")));
    QCOMPARE(log.count(QStringLiteral("setting printerStatus off Main QUEUE!")), 0);
  }

 private:
  QTemporaryDir settingsDir_;
};

QTEST_GUILESS_MAIN(PrinterListTest)
#include "printer_list_unittest.moc"
