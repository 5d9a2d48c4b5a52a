// The vendor command language: frames, reply parsing, status texts and text readings without a
// printer; then a vendor printer on the virtual bus: the attach-time gathering as the printer
// sees it (which commands, in which order, per model and firmware) and what lands in the device
// information; property reads, counters and the USB iSerial setting, and what the printer's
// faults leave behind.
#include <QRandomGenerator>
#include <QtTest>

#include "tests/common/LogCapture.h"
#include "tests/common/PrinterTestRig.h"
#include "vendor/Framing.h"

using namespace pm::framing;

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

QByteArray header(const char* name, const char* length = "        ") {
  QByteArray h("\x1BP");
  h += QByteArray(name).leftJustified(22, ' ');
  h += QByteArray(length);
  return h;
}

QByteArray replyFor(const QByteArray& headerBytes, const QByteArray& body) {
  const std::optional<uint32_t> count = parseReplyLength(headerBytes);
  if (!count) return QByteArray();
  return replyBuffer(body, *count);
}

}  // namespace

class VendorPrinterTest : public QObject {
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

  // What lands under "colorTable<key>", per model and firmware ("#": a 4-digit checksum, "": no
  // value); no key ever holds the failed-read "NULL". A KTC below 4.21 reads without media, which
  // means PD; a KTD's SD table 300 is the plain key and its PP tables the HD ones.
  void colorTableValues() {
    const struct { sim::Model model; const char* firmware; const char* expected; } rows[] = {
        {sim::Model::KTC, "04.20", "Version610PD=0110 Checksum300PD=# Version610SD="},
        {sim::Model::KTC, "04.21", "Version610SD=0110 Checksum300SD=# Version300PD=0110"},
        {sim::Model::KTD, "", "Version=0100 Checksum620HD=# Version300SD="},
        {sim::Model::PZA, "", "Version310PD=0090 Checksum310SD=# Version600SD="},
        {sim::Model::KTA, "", "Version=0150 Checksum300=# Version600="}};
    std::shared_ptr<TBUSBPrinterOLM> ktd;
    for (const auto& row : rows) {
      sim::VirtualPrinterConfig config;
      config.model = row.model;
      config.firmwareVersion = QLatin1String(row.firmware);
      config.serialNumber = QStringLiteral("SIM%1").arg(int(row.model));
      const auto printer = rig_->attachAndWait(config);
      QVERIFY(PrinterTestRig::settle(printer, 8));
      for (const QString& key : TBUSBPrinterOLM::colorTableKeys())
        QVERIFY2(printer->colorTableValue(key) != QLatin1String("NULL"), qPrintable(key));
      for (const QString& pair : QString::fromLatin1(row.expected).split(QLatin1Char(' '))) {
        const QString key = pair.section(QLatin1Char('='), 0, 0), wanted = pair.section(QLatin1Char('='), 1);
        const QString value = printer->colorTableValue(QStringLiteral("colorTable") + key);
        const bool matches = wanted == QLatin1String("#") ? value.size() == 4 : wanted.isEmpty() ? value.isNull() : value == wanted;
        QVERIFY2(matches, qPrintable(QStringLiteral("%1 %2: %3").arg(QLatin1String(row.firmware), key, value)));
      }
      if (row.model == sim::Model::KTD) ktd = printer;
    }

    // The version read's completion gets the model's texts in read order (on the main thread).
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

  void framesWithoutPayloadField() {
    QCOMPARE(buildFrame(0, {}).bytes, header("STATUS"));
    QCOMPARE(buildFrame(1, {}).bytes, header("INFO  FVER"));
    // A payload passed where the command takes none is ignored.
    for (int code : {1, 34, 36, 58}) {
      const Frame frame = buildFrame(code, "0001");
      QCOMPARE(frame.bytes.size(), 32);
      QCOMPARE(frame.bytes.mid(24, 8), QByteArray(8, ' '));
    }
    // Caller-sized commands with no payload have a blank length field.
    QCOMPARE(buildFrame(33, QByteArrayView()).bytes, header("TBL_WTCTRLD_UPDATE_CW"));
    QCOMPARE(buildFrame(56, QByteArray()).bytes, header("FW_UPDFLASH_PROGRAM"));
  }

  void framesWithPayload() {
    QCOMPARE(buildFrame(37, "0001").bytes, header("TBL_RDCWD300_Version", "00000004") + "0001");
    const QByteArray clear("CA\r\0", 4);
    QCOMPARE(buildFrame(50, clear).bytes, header("MNT_WTCOUNTER_CLR", "00000004") + clear);
    const QByteArray big(123456, 'x');
    const Frame program = buildFrame(56, big);
    QCOMPARE(program.bytes.size(), 32 + 123456);
    QCOMPARE(program.bytes.mid(24, 8), QByteArray("00123456"));
    QCOMPARE(program.bytes.mid(32), big);
    // The longest name fills the 22-byte field exactly.
    QCOMPARE(buildFrame(46, "0003").bytes.mid(2, 22), QByteArray("TBL_RDCWD620_Checksum "));
  }

  void fixedSizePayloadsAreExact() {
    QCOMPARE(buildFrame(28, "12345678").bytes.size(), 40);
    QCOMPARE(buildFrame(57, QByteArray("01\r\0", 4)).bytes.size(), 36);
    // Wrong sizes, a missing payload included, send nothing rather than unset or cut bytes.
    for (int code : {23, 24, 28, 52}) {
      for (const QByteArray& payload : {QByteArray(), QByteArray("1234567"), QByteArray("123456789")}) {
        const Frame frame = buildFrame(code, payload);
        QVERIFY(frame.rejected());
        QCOMPARE(frame.problem, FrameProblem::WrongPayloadSize);
      }
    }
    for (int code : {50, 57}) {
      QVERIFY(buildFrame(code, "CA\r").rejected());
      QVERIFY(buildFrame(code, "CA\r\0\0").rejected());
    }
  }

  void unnamedCodesKeepABlankName() {
    for (int64_t code : {int64_t(-1), int64_t(3), int64_t(29), int64_t(59), int64_t(1) << 40}) {
      const Frame frame = buildFrame(code, "ignored");
      QCOMPARE(frame.problem, FrameProblem::UnnamedCode);
      QCOMPARE(frame.bytes, header(""));
    }
  }

  void replies() {
    // Body cut at its carriage return.
    QCOMPARE(replyFor("00000010", QByteArray("12345678\r\0", 10)), QByteArray("12345678\0", 9));
    // No carriage return: the whole body, NUL-padded to 256.
    const QByteArray noCr = replyFor("00000005", "01500");
    QCOMPARE(noCr.size(), 256);
    QCOMPARE(*replyText(noCr), QStringLiteral("01500"));
    // Blank or garbage headers count as 0: an empty text in 256 zero bytes.
    for (const QByteArray& h : {QByteArray(8, ' '), QByteArray("abcdefgh"), QByteArray()}) {
      const QByteArray reply = replyFor(h, {});
      QCOMPARE(reply, QByteArray(256, '\0'));
      QCOMPARE(*replyText(reply), QString(""));
    }
    // The 4096 border, and counts that wrap when read unsigned.
    QVERIFY(!parseReplyLength("00004097"));
    QVERIFY(!parseReplyLength("-0000001"));
    QCOMPARE(*parseReplyLength(" +000042"), 42u);
    QCOMPARE(*parseReplyLength("12x45678"), 12u);
    QCOMPARE(replyFor("00004096", QByteArray(4096, 'a')).size(), 4097);
    // A body shorter than announced ends where the printer stopped.
    QCOMPARE(*replyText(replyFor("00000300", "4.21")), QStringLiteral("4.21"));
    // Bytes beyond the announced count are not taken.
    QCOMPARE(*replyText(replyBuffer("abcdef", 3)), QStringLiteral("abc"));
    // A body that begins with a carriage return is an empty text, not a missing one.
    QCOMPARE(replyFor("00000002", "\r\n"), QByteArray(1, '\0'));
    // Bytes that are not UTF-8 give no text.
    QVERIFY(!replyText(replyFor("00000004", "\xff\xfe\x80\x81")));
  }

  // Random headers and bodies never make the parser read or write out of bounds (run under
  // AddressSanitizer), and every accepted reply keeps its invariants.
  void randomReplies() {
    QRandomGenerator random(4242);
    for (int round = 0; round < 20000; ++round) {
      QByteArray h(int(random.bounded(10)), '\0');
      for (char& c : h) c = char(random.bounded(256));
      if (round % 3 == 0) h = QByteArray::number(random.bounded(5000)).rightJustified(8, '0');
      QByteArray body(int(random.bounded(5000)), '\0');
      for (char& c : body) c = char(random.bounded(round % 2 ? 256 : 128));
      const std::optional<uint32_t> count = parseReplyLength(h);
      if (!count) continue;
      QVERIFY(*count <= kReplyBodyLimit);
      const QByteArray reply = replyBuffer(body, *count);
      QVERIFY(!reply.isEmpty());
      QVERIFY(reply.size() <= qMax<qsizetype>(256, *count + 1));
      QVERIFY(reply.contains('\0'));
      QVERIFY(!reply.left(reply.indexOf('\0')).contains('\r'));
      replyText(reply);
    }
  }

  // Status codes read as their leading number: texts without one are 0 ("Idle").
  void statusAndTextReadings() {
    const std::pair<const char*, const char*> statuses[] = {
        {"00000", "Idle"}, {"1000", "Cover Open"}, {"03000", "System Fail Error"},
        {"FU00001", "Firmware Update Mode"}, {"FU00002", "Idle"}, {"", "Idle"}, {"00700", "Unknown Status"},
        {"-1", "Unknown Status"}, {"03001", "Unknown Status"}, {"99999999999", "Unknown Status"}};
    for (const auto& [code, text] : statuses)
      QCOMPARE(TBUSBPrinterOLM::stringForKTStatusString(QString::fromLatin1(code)), QString::fromLatin1(text));
    QCOMPARE(TBUSBPrinterOLM::stringForKTStatusString(TBUSBPrinterOLM::StatusCode()), QStringLiteral("<NULL>"));
    QCOMPARE(intValue(u"  -12abc"), -12);
    QCOMPARE(intValue(u"99999999999"), INT32_MAX);
    QCOMPARE(intValue(u"-99999999999"), INT32_MIN);
    QCOMPARE(doubleValue(u"1.40PRN"), 1.4);
    QCOMPARE(doubleValue(u"."), 0.0);
    QCOMPARE(TBUSBPrinterOLM::mungeLifetimeCounter("CL"), QStringLiteral("0"));
    QCOMPARE(TBUSBPrinterOLM::mungeLifetimeCounter("00001234"), QStringLiteral("00001234"));
  }
};

QTEST_MAIN(VendorPrinterTest)
#include "vendor_printer_unittest.moc"
