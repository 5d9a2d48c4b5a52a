// A vendor printer on the virtual bus: the attach-time gathering as the printer sees it (which
// commands, in which order, per model and firmware) and what lands in the device information;
// property reads, counters and the USB iSerial setting, and what the printer's faults leave behind.
#include <QtTest>

#include "tests/common/LogCapture.h"
#include "tests/common/PrinterTestRig.h"

namespace {


// "command", or with `payloads` "command[payload]" for a frame with one.
QStringList commandsOf(const sim::VirtualPrinter& printer, bool payloads = true) {
  QStringList commands;
  for (const sim::ReceivedFrame& frame : printer.frames()) {
    QString text = frame.command;
    if (payloads && !frame.payload.isEmpty()) text += QLatin1Char('[') + QString::fromLatin1(frame.payload) + QLatin1Char(']');
    commands << text;
  }
  return commands;
}

QStringList tableReads(const char* kind, const QStringList& tables, const char* media) {
  QStringList reads;
  for (const QString& table : tables)
    reads << QStringLiteral("TBL_RDCWD%1_%2%3").arg(table, QLatin1String(kind), QLatin1String(media));
  return reads;
}

const QString kStatus = QStringLiteral("STATUS");
const QString kFver = QStringLiteral("INFO  FVER");
const QString kLife = QStringLiteral("MNT_RDCOUNTER_LIFE");
const QString kSerial = QStringLiteral("INFO  SERIAL_NUMBER");
const QString kISerial = QStringLiteral("MNT_RDUSB_ISERI_SET");

// Runs `work` on the printer's queue with the interface open and waits until the queue and the
// main queue have passed it.
bool onOpenQueue(const std::shared_ptr<TBUSBPrinterOLM>& printer, std::function<void()> work) {
  printer->openInterface([work = std::move(work)](IOReturn result) {
    if (result == kIOReturnSuccess) work();
  });
  return PrinterTestRig::settle(printer, 3);
}

}  // namespace

class OlmPrinterTest : public QObject {
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
    QCOMPARE(commandsOf(*device_, false), QStringList{QStringLiteral("MNT_WTCOUNTER_CLR")});
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
    QCOMPARE(commandsOf(*device_, false), (QStringList{"MNT_WTUSB_ISERI_SET", "MNT_RDUSB_ISERI_SET"}));
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

  void attachSequence_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QStringList>("expected");
    const QStringList head{kStatus, kFver, kLife};
    QTest::newRow("KTA") << int(sim::Model::KTA) << QString()
                         << head + QStringList{"TBL_RDVersion", "MNT_RDCTRLD_CHKSUM", kSerial};
    QTest::newRow("VLA 2.03") << int(sim::Model::VLA) << "02.03"
                              << head + QStringList{"TBL_RDVersion", "MNT_RDCTRLD_CHKSUM", kSerial};
    QTest::newRow("VLA 2.04") << int(sim::Model::VLA) << "02.04"
                              << head + QStringList{"TBL_RDVersion", "MNT_RDCTRLD_CHKSUM", kSerial, kISerial};
    const QStringList ktc{"610", "600", "300"};
    QTest::newRow("KTC 4.20") << int(sim::Model::KTC) << "04.20"
                              << head + tableReads("Version", ktc, "") + tableReads("Checksum", ktc, "") +
                                     QStringList{kSerial, kISerial};
    QTest::newRow("KTC 4.21") << int(sim::Model::KTC) << "04.21"
                              << head + tableReads("Version", ktc, "[0001]") + tableReads("Version", ktc, "[0002]") +
                                     tableReads("Checksum", ktc, "[0001]") + tableReads("Checksum", ktc, "[0002]") +
                                     QStringList{kSerial, kISerial};
    const QStringList ktd{"620", "610", "600", "300"};
    QTest::newRow("KTD") << int(sim::Model::KTD) << QString()
                         << head + tableReads("Version", ktd, "[0001]") + tableReads("Version", ktd, "[0003]") +
                                tableReads("Checksum", ktd, "[0001]") + tableReads("Checksum", ktd, "[0003]") +
                                QStringList{kSerial, kISerial};
    QTest::newRow("PZA") << int(sim::Model::PZA) << QString()
                         << head + QStringList{"TBL_RDCWD300_Version[0001]", "TBL_RDCWD310_Version[0001]",
                                               "TBL_RDCWD300_Version[0002]", "TBL_RDCWD310_Version[0002]",
                                               "TBL_RDCWD300_Checksum[0001]", "TBL_RDCWD310_Checksum[0001]",
                                               "TBL_RDCWD300_Checksum[0002]", "TBL_RDCWD310_Checksum[0002]"} +
                                QStringList{kSerial, kISerial};
  }

  // The firmware version read first decides the KTC's and VLA's later reads in the same sequence:
  // the first gathering after attach already shows it.
  void attachSequence() {
    QFETCH(int, model);
    QFETCH(QString, firmware);
    QFETCH(QStringList, expected);
    sim::VirtualPrinterConfig config;
    config.model = sim::Model(model);
    config.firmwareVersion = firmware;
    std::shared_ptr<sim::VirtualPrinter> device;
    auto printer = rig_->attachAndWait(config, &device);
    QVERIFY(printer);
    QVERIFY(PrinterTestRig::settle(printer, 8));

    // Two gatherings ran at attach (probe and the creation's own), each whole and each deciding
    // on the version that its own "FVER" brought.
    QStringList atAttach = commandsOf(*device);
    atAttach.removeAll(kStatus);
    const QStringList reads = expected.mid(1);
    QCOMPARE(atAttach, reads + reads);
    // Frames without payload are exactly the 32-byte header with a blank length field.
    for (const sim::ReceivedFrame& frame : device->frames()) {
      QVERIFY(frame.lengthFieldValid);
      if (frame.payload.isEmpty()) QCOMPARE(frame.lengthField, QByteArray(8, ' '));
    }

    device->clearFrames();
    printer->deviceInfoDict()->remove(QStringLiteral("firmwareVersion"));
    printer->probe();
    QVERIFY(PrinterTestRig::settle(printer, 6));
    QCOMPARE(commandsOf(*device), expected);
    QCOMPARE(printer->firmwareVersion(), device->firmwareVersion());
    QCOMPARE(printer->printerSerialNumber(), QStringLiteral("SIM0001"));
    QCOMPARE(printer->lifetimeCounter(), QStringLiteral("1234"));  // "CL00001234" read as a number
    QCOMPARE(printer->printerStatus(), QStringLiteral("Idle"));
  }

  // What lands under each colour-table key, per model and firmware ("#": a 4-digit checksum,
  // "": no value); no key ever holds the failed-read "NULL".
  void colorTableValues() {
    const struct { sim::Model model; const char* firmware; const char* key; const char* value; } rows[] = {
        {sim::Model::KTC, "04.20", "colorTableVersion610PD", "0110"},  // read without media: PD
        {sim::Model::KTC, "04.20", "colorTableChecksum300PD", "#"},
        {sim::Model::KTC, "04.20", "colorTableVersion610SD", ""},
        {sim::Model::KTC, "04.21", "colorTableVersion610SD", "0110"},
        {sim::Model::KTC, "04.21", "colorTableChecksum300SD", "#"},
        {sim::Model::KTC, "04.21", "colorTableVersion300PD", "0110"},
        {sim::Model::KTD, "", "colorTableVersion", "0100"},  // SD table 300 is the plain key
        {sim::Model::KTD, "", "colorTableChecksum620HD", "#"},  // PP is the HD one
        {sim::Model::KTD, "", "colorTableVersion300SD", ""},
        {sim::Model::PZA, "", "colorTableVersion310PD", "0090"},
        {sim::Model::PZA, "", "colorTableChecksum310SD", "#"},
        {sim::Model::PZA, "", "colorTableVersion600SD", ""},
        {sim::Model::KTA, "", "colorTableVersion", "0150"},
        {sim::Model::KTA, "", "colorTableChecksum300", "#"},
        {sim::Model::KTA, "", "colorTableVersion600", ""},
    };
    QMap<QString, std::shared_ptr<TBUSBPrinterOLM>> printers;
    for (const auto& row : rows) {
      const QString name = QStringLiteral("%1 %2").arg(int(row.model)).arg(QLatin1String(row.firmware));
      if (!printers.contains(name)) {
        sim::VirtualPrinterConfig config;
        config.model = row.model;
        config.firmwareVersion = QLatin1String(row.firmware);
        config.serialNumber = QStringLiteral("SIM%1").arg(printers.size());
        printers[name] = rig_->attachAndWait(config);
        QVERIFY(PrinterTestRig::settle(printers[name], 8));
        for (const QString& key : TBUSBPrinterOLM::colorTableKeys())
          QVERIFY2(printers[name]->colorTableValue(key) != QLatin1String("NULL"), qPrintable(key));
      }
      const QString value = printers[name]->colorTableValue(QLatin1String(row.key));
      const QByteArray where = (name + QLatin1Char(' ') + QLatin1String(row.key) + QStringLiteral(": ") + value).toUtf8();
      if (QByteArray(row.value) == "#") QVERIFY2(value.size() == 4, where.constData());
      else if (QByteArray(row.value).isEmpty()) QVERIFY2(value.isNull(), where.constData());
      else QVERIFY2(value == QLatin1String(row.value), where.constData());
    }

    // The version read's completion gets the model's texts in read order (on the main thread).
    const auto ktd = printers.value(QStringLiteral("%1 ").arg(int(sim::Model::KTD)));
    QStringList values;
    bool called = false;
    ktd->openInterface([ktd, &values, &called](IOReturn) {
      ktd->getPrinterColorTableVersion([&](const QStringList& result) {
        QVERIFY(QThread::currentThread() == QCoreApplication::instance()->thread());
        values = result;
        called = true;
      });
    });
    QVERIFY(PrinterTestRig::waitFor([&] { return called; }));
    QCOMPARE(values.size(), 8);
    QCOMPARE(values.at(3), ktd->colorTableVersion());
  }

  // A printer waiting in update mode gets nothing but the status read from the gathering.
  void updateModeStopsTheGathering() {
    rig_->alerts().setHoldAnswers(true);
    sim::VirtualPrinterConfig config;
    config.statusSequence = {QStringLiteral("FU00001")};
    std::shared_ptr<sim::VirtualPrinter> device;
    auto printer = rig_->attachAndWait(config, &device);
    QVERIFY(PrinterTestRig::settle(printer, 6));
    device->clearFrames();
    printer->probe();
    QVERIFY(PrinterTestRig::settle(printer, 6));
    QCOMPARE(commandsOf(*device), QStringList{kStatus});
    QCOMPARE(printer->printerStatus(), QStringLiteral("Firmware Update Mode"));
  }

  // A product outside the model table gets no table or iSerial reads and no colour-table values.
  void unknownProductGetsNoTableReads() {
    std::shared_ptr<sim::VirtualPrinter> device;
    auto printer = rig_->attachAndWait(sim::VirtualPrinterConfig{}, &device);
    QVERIFY(printer);
    usb::virt::VirtualDeviceDescription description = device->device()->description();
    description.productId = 0x0099;
    device->device()->setDescription(description);
    device->clearFrames();
    device->device()->reEnumerate();
    QVERIFY(PrinterTestRig::waitFor([&] { auto p = rig_->printerFor(*device); return p && p != printer; }));
    printer = rig_->printerFor(*device);
    QVERIFY(PrinterTestRig::settle(printer, 8));
    QVERIFY(commandsOf(*device).contains(kFver));
    for (const QString& name : commandsOf(*device))
      QVERIFY2(!name.startsWith("TBL_") && !name.contains("CHKSUM") && name != kISerial, qPrintable(name));
    for (const QString& key : TBUSBPrinterOLM::colorTableKeys()) QVERIFY(printer->colorTableValue(key).isNull());
  }
};

QTEST_MAIN(OlmPrinterTest)
#include "olm_printer_unittest.moc"
