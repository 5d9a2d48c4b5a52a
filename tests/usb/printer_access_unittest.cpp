// Device and interface access of TBUSBPrinter on the virtual bus: the first open-close cycle,
// busy and unplugged printers, pipes, resets, re-enumeration, ownership and the interest handler.

#include <sys/resource.h>

#include <QElapsedTimer>
#include <QtTest>

#include "tests/common/LogCapture.h"
#include "tests/usb/printer_testbench.h"

using namespace bench;

namespace {

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

class PrinterAccessTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanupTestCase() { pm::SerialQueue::shutdownAll(2000); }

  void firstOpenCloseCycle() {
    LogCapture log;
    Bench bench;
    auto device = bench.attach(pza());
    auto printer = bench.settledPrinterFor(device);
    QCOMPARE(printer->state(), int64_t{TBUSBPrinterStateClosed});
    QCOMPARE(printer->interfaceStatus(), int32_t{TBUSBInterfaceStatusClosed});
    QVERIFY(printer->deviceObject().isEqualTo(device->service()));
    QCOMPARE(device->openCount(), 1);
    QVERIFY(!device->isOpen());
    QVERIFY(log.contains("setting new IOUSBInterface class IOService object"));
    QVERIFY(printer->status().isEmpty());  // a free printer is never shown as held by another

    // The same service again changes nothing.
    printer->setDeviceObject(device->service());
    QTRY_VERIFY(log.contains("oddly it was somehow already set"));
    QVERIFY(onQueue(*printer, [] {}));
    QCOMPARE(device->openCount(), 1);
  }

  void busyPrinterBecomesFree() {
    Bench bench;
    auto device = bench.attach(pza());
    device->setHeldByOtherProgram(true);
    auto printer = bench.printerFor(device);
    QTRY_COMPARE(printer->printerStatus(), QStringLiteral("In use by other application"));
    QCOMPARE(printer->status(), QStringLiteral("In use by other application"));
    QCOMPARE(printer->state(), int64_t{TBUSBPrinterStateNone});

    // Each attempt shows the status again; a few a second is waiting, more is spinning.
    int attempts = 0;
    connect(printer.get(), &TBUSBPrinter::propertyChanged, this, [&](const QString& key) {
      if (key == QLatin1String("printerStatus")) ++attempts;
    });
    const double cpuBefore = cpuSeconds();
    QTest::qWait(600);
    QVERIFY2(attempts <= 4, qPrintable(QStringLiteral("%1 attempts in 600 ms").arg(attempts)));
    QVERIFY2(cpuSeconds() - cpuBefore < 0.3, "openInterface spins while the printer is busy");

    device->setHeldByOtherProgram(false);
    QTRY_COMPARE(printer->state(), int64_t{TBUSBPrinterStateClosed});
    QCOMPARE(device->openCount(), 1);
  }

  void unpluggedWhileRetryingGivesUp() {
    Bench bench;
    auto device = bench.attach(pza());
    device->setHeldByOtherProgram(true);
    auto printer = bench.printerFor(device);
    std::atomic<IOReturn> result{kIOReturnSuccess};
    std::atomic<bool> done{false};
    printer->openInterface([&](IOReturn r) { result = r; done = true; });
    QTRY_COMPARE(printer->status(), QStringLiteral("In use by other application"));

    QElapsedTimer clock;
    clock.start();
    device->detach();
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 1000);
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(result.load(), kIOReturnNoDevice);
    QVERIFY(printer->hasGone());
    QVERIFY(printer->state() != int64_t{TBUSBPrinterStateProbed});

    printer->prepareForRelease();
    QVERIFY(releaseAndWait(printer));
  }

  void releasingABusyPrinterEndsItsOpen() {
    Bench bench;
    auto device = bench.attach(pza());
    device->setHeldByOtherProgram(true);
    auto printer = bench.printerFor(device);
    QTRY_COMPARE(printer->status(), QStringLiteral("In use by other application"));
    // The device stays on the bus; letting go of the printer alone must end the retries.
    printer->prepareForRelease();
    QVERIFY(releaseAndWait(printer));
    QCOMPARE(device->openCount(), 0);
  }

  void pipesTakeTheHighestBulkPipe() {
    Bench bench;
    auto description = pza();
    description.endpoints = {
        {kUSBOut, 1, kUSBBulk, 512, 0},      {kUSBIn, 2, kUSBBulk, 512, 0},
        {kUSBIn, 3, kUSBInterrupt, 8, 10},   {kUSBIn, 4, kUSBBulk, 512, 0},
        {kUSBOut, 5, kUSBInterrupt, 8, 10},
    };
    auto printer = bench.settledPrinterFor(bench.attach(description));
    uint8_t in = 0, out = 0;
    QVERIFY(onQueue(*printer, [&] { in = printer->bulkIN(); out = printer->bulkOUT(); }));
    QCOMPARE(in, uint8_t{4});
    QCOMPARE(out, uint8_t{1});
  }

  void softResetSetupFields() {
    Bench bench;
    auto handler = std::make_shared<ScriptedHandler>();
    auto description = pza();
    description.interfaceNumber = 3;
    auto printer = bench.settledPrinterFor(bench.attach(description, handler));
    IOReturn other = -1, own = -1;
    QVERIFY(onQueue(*printer, [&] {
      other = printer->resetUSBPrinter(true);
      own = printer->resetUSBPrinter();
    }));
    QCOMPARE(other, kIOReturnSuccess);
    QCOMPARE(own, kIOReturnSuccess);
    const auto setups = handler->setups();
    QVERIFY(setups.size() >= 2);
    const SetupPacket a = setups[setups.size() - 2], b = setups.back();
    QCOMPARE((std::array{a.bmRequestType, b.bmRequestType}), (std::array<uint8_t, 2>{0x23, 0x21}));
    for (const SetupPacket& s : {a, b}) {
      QCOMPARE((std::array<int, 4>{s.bRequest, s.wValue, s.wIndex, s.wLength}),
               (std::array<int, 4>{2, 0, 3, 0}));
    }
  }

  void reEnumerationSavesDeviceInformation() {
    TBUSBPrinter::clearDeviceInfoRegistry();
    Bench bench;
    auto device = bench.attach(pza());
    auto printer = bench.settledPrinterFor(device);
    const usb::ServiceHandle first = device->service();
    printer->storeDeviceInfo(QStringLiteral("firmwareVersion"), QStringLiteral("1.02"));
    QCOMPARE(printer->resetUSBDevice(), kIOReturnSuccess);

    QCOMPARE(printer->reEnumerateUSBDevice(), kIOReturnSuccess);
    QTRY_VERIFY(printer->hasGone());
    QTRY_VERIFY(device->isAttached() && !device->service().isEqualTo(first));
    // The registry holds the very dictionary of the printer that went.
    QCOMPARE(TBUSBPrinter::deviceInfoForKey(printer->keyUSBdevice()), printer->deviceInfoDict());
    printer->prepareForRelease();
    QVERIFY(releaseAndWait(printer));
  }

  void ownershipAndClose() {
    Bench bench;
    auto device = bench.attach(pza());
    auto printer = bench.settledPrinterFor(device);
    std::atomic<int> closeResult{-1};
    printer->closeInterface([&](IOReturn r) { closeResult = r; });
    QTRY_COMPARE(closeResult.load(), 0);

    printer->setIsOwned(1);
    // The device opens on the queue before the open state reaches the main thread.
    QTRY_VERIFY(device->isOpen());
    QTRY_VERIFY(printer->isInterfaceOpen());
    QCOMPARE(printer->isOwned(), int8_t{0});
    printer->setIsOwned(0);
    QTRY_VERIFY(!device->isOpen());
    QCOMPARE(printer->state(), int64_t{TBUSBPrinterStateClosed});
  }

  void interestMessages() {
    LogCapture log;
    Bench bench;
    auto device = bench.attach(pza());
    auto printer = bench.settledPrinterFor(device);
    const auto deliver = [&](uint32_t type) {
      log.clear();
      device->sendInterestMessage(type);
      QTRY_VERIFY(log.contains(QStringLiteral("(%1); arg = ").arg(type, 0, 16)));
    };

    const QVariantMap info = printer->deviceInfoDict()->snapshot();
    for (const QString& key : info.keys()) printer->deviceInfoDict()->remove(key);
    deliver(kIOMessageServiceWasClosed);  // no device information: nothing
    QVERIFY(printer->status().isEmpty());
    printer->deviceInfoDict()->merge(info);
    deliver(kIOMessageServiceWasClosed);
    QCOMPARE(printer->status(), QStringLiteral("USB Available"));
    deliver(kIOMessageServiceIsAttemptingOpen);  // closed, not probed: someone else has it
    QCOMPARE(printer->status(), QStringLiteral("USB Busy"));
    deliver(kIOMessageServicePropertyChange);
    QCOMPARE(printer->status(), QStringLiteral("OK"));
    deliver(kIOMessageServiceBusyStateChange);
    QCOMPARE(printer->status(), QStringLiteral("OK"));
    printer->setInFirmwareUpdate(true);
    deliver(kIOMessageServiceWasClosed);
    QCOMPARE(printer->status(), QStringLiteral("OK"));
    printer->setInFirmwareUpdate(false);

    printer->setState(TBUSBPrinterStateProbed);
    deliver(kIOMessageServiceIsAttemptingOpen);
    QCOMPARE(printer->state(), int64_t{TBUSBPrinterStateClosed});

    std::atomic<bool> opened{false};
    printer->openInterface([&](IOReturn) { opened = true; });
    QTRY_VERIFY(opened.load());
    deliver(kIOMessageServiceIsAttemptingOpen);
    QCOMPARE(printer->status(), QStringLiteral("USB Open"));
    printer->closeInterface(nullptr);
  }
};

QTEST_GUILESS_MAIN(PrinterAccessTest)
#include "printer_access_unittest.moc"
