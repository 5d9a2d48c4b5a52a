// Property reads, counters and the USB iSerial setting against the virtual printer, and what the
// printer's faults leave behind.
#include <QtTest>

#include "tests/common/LogCapture.h"
#include "tests/common/PrinterTestRig.h"

namespace {

QStringList commandsOf(const sim::VirtualPrinter& printer) {
  QStringList commands;
  for (const sim::ReceivedFrame& frame : printer.frames()) commands << frame.command;
  return commands;
}

// Runs `work` on the printer's queue with the interface open and waits until the queue and the
// main queue have passed it.
bool onOpenQueue(const std::shared_ptr<TBUSBPrinterOLM>& printer, std::function<void()> work) {
  printer->openInterface([work = std::move(work)](IOReturn result) {
    if (result == kIOReturnSuccess) work();
  });
  return PrinterTestRig::settle(printer, 3);
}

}  // namespace

class OlmPropertiesTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<PrinterTestRig> rig_;
  std::shared_ptr<sim::VirtualPrinter> device_;
  std::shared_ptr<TBUSBPrinterOLM> printer_;

  void attach(sim::Model model, const QString& firmware = QString()) {
    sim::VirtualPrinterConfig config;
    config.model = model;
    config.firmwareVersion = firmware;
    printer_ = rig_->attachAndWait(config, &device_);
    QVERIFY(printer_);
    QVERIFY(PrinterTestRig::settle(printer_, 8));
    device_->clearFrames();
    rig_->alerts().clear();
  }

 private slots:
  void init() { rig_ = std::make_unique<PrinterTestRig>(); }
  void cleanup() {
    printer_.reset();
    device_.reset();
    rig_.reset();
  }

  // Only the named counter is cleared; another letter opens the printer and sends nothing.
  void counterResets() {
    attach(sim::Model::PZA);
    printer_->resetCounterB();
    QVERIFY(PrinterTestRig::settle(printer_));
    QCOMPARE(device_->counters().b, 0u);
    QCOMPARE(device_->counters().a, 12u);
    QCOMPARE(commandsOf(*device_), QStringList{QStringLiteral("MNT_WTCOUNTER_CLR")});
    QCOMPARE(device_->frames().front().payload, QByteArray("CB\r\0", 4));
    device_->clearFrames();
    printer_->closeInterface(nullptr);
    QVERIFY(PrinterTestRig::settle(printer_));
    printer_->resetCounter('P');
    QVERIFY(PrinterTestRig::waitFor([&] { return device_->device()->isOpen(); }));
    QVERIFY(PrinterTestRig::settle(printer_));
    QVERIFY(device_->frames().empty());
  }

  void iSerialChange() {
    attach(sim::Model::PZA);
    QVERIFY(printer_->usbISerial());
    // The value already held: nothing is sent and nothing is asked.
    printer_->setUsbISerial(true);
    QVERIFY(PrinterTestRig::settle(printer_));
    QVERIFY(device_->frames().empty());
    QCOMPARE(rig_->alerts().count(), 0);

    printer_->setUsbISerial(false);
    QVERIFY(PrinterTestRig::waitFor([&] { return rig_->alerts().count() > 0; }));
    QCOMPARE(commandsOf(*device_), (QStringList{"MNT_WTUSB_ISERI_SET", "MNT_RDUSB_ISERI_SET"}));
    QCOMPARE(device_->frames().front().payload, QByteArray("00\r\0", 4));
    QVERIFY(!device_->iSerialEnabled());
    QCOMPARE(printer_->usbISerialString(), QStringLiteral("Disabled"));
    // The device still shows its serial string until it is power-cycled.
    QCOMPARE(rig_->alerts().titles(), QStringList{QStringLiteral("Please power-cycle the selected printer now to complete the process!")});
    QVERIFY(!device_->device()->isOpen());
  }

  // Replies that never come, stall, or announce too much leave the placeholders; the printer's
  // queue goes on with the next read.
  void faultsLeavePlaceholders_data() {
    QTest::addColumn<int>("fault");
    QTest::newRow("no reply") << int(sim::ReplyFault::NoReply);
    QTest::newRow("slow reply") << int(sim::ReplyFault::SlowReply);
    QTest::newRow("stall") << int(sim::ReplyFault::Stall);
    QTest::newRow("oversize") << int(sim::ReplyFault::OversizeHeader);
  }

  void faultsLeavePlaceholders() {
    QFETCH(int, fault);
    attach(sim::Model::PZA);
    device_->injectReplyFault(sim::ReplyFault(fault), 1);
    printer_->getPrinterFirmwareVersion();
    printer_->updatePrinterSerialNumber();
    QVERIFY(PrinterTestRig::settle(printer_));
    QCOMPARE(printer_->firmwareVersion(), QStringLiteral("<NULL>"));
    QCOMPARE(printer_->installedFirmwareVersion(), 0.0);
    QCOMPARE(printer_->printerSerialNumber(), QStringLiteral("SIM0001"));

    device_->injectReplyFault(sim::ReplyFault(fault), 2);
    QVERIFY(onOpenQueue(printer_, [this] { printer_->getPrinterColorTableVersion(); }));
    QCOMPARE(printer_->colorTableVersion310SD(), QStringLiteral("NULL"));
    QVERIFY(printer_->colorTableVersion300SD() != QLatin1String("NULL"));
    QVERIFY(printer_->colorTableVersion310PD() != QLatin1String("NULL"));

    // An empty status reply leaves the text and never calls the completion.
    device_->injectReplyFault(sim::ReplyFault(fault), 1);
    bool called = false;
    printer_->getPrinterStatus([&called](const TBUSBPrinterOLM::StatusCode&) { called = true; });
    QVERIFY(PrinterTestRig::settle(printer_));
    QVERIFY(!called);
    QCOMPARE(printer_->printerStatus(), QStringLiteral("Idle"));
  }

  void inlineFirmwareRead() {
    attach(sim::Model::KTD);
    std::optional<QString> first;
    std::optional<QString> second = QStringLiteral("unset");
    QVERIFY(onOpenQueue(printer_, [&] {
      first = printer_->inlineGetFirmwareString();
      device_->injectReplyFault(sim::ReplyFault::NoReply, 1);
      second = printer_->inlineGetFirmwareString();
    }));
    QCOMPARE(first, std::optional<QString>(device_->firmwareVersion()));
    QVERIFY(!second);
    QCOMPARE(printer_->firmwareVersion(), device_->firmwareVersion());  // nothing stored
  }

  void wrongPayloadSizeWritesNothing() {
    attach(sim::Model::PZA);
    LogCapture log;
    QVERIFY(onOpenQueue(printer_, [this] {
      printer_->sendPrinterCommand(57, QByteArray("01"));
      printer_->sendPrinterCommand(50, QByteArray("CA\r\0\0", 5));
    }));
    QVERIFY(device_->frames().empty());
    QCOMPARE(log.count("not sending printer command"), 2);
  }

  // A printer that leaves in the middle of the gathering: the write failure is logged, the
  // printer object goes away, and nothing hangs.
  void unplugDuringGathering() {
    attach(sim::Model::KTD);
    LogCapture log;
    std::weak_ptr<TBUSBPrinterOLM> weak = printer_;
    device_->unplugAtCommand(5);
    printer_->probe();
    printer_.reset();
    QVERIFY(PrinterTestRig::waitFor([&] { return weak.expired(); }, 10000));
    QVERIFY(rig_->printers().empty());
    QVERIFY(log.contains("bad read (kIOReturnNoDevice)") || log.contains("ERROR: writeToInterfaceWithData"));
  }
};

QTEST_MAIN(OlmPropertiesTest)
#include "olm_properties_unittest.moc"
