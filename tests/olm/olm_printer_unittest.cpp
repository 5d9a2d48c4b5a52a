// The vendor command language: status texts and text readings without a printer; then a vendor
// printer on the virtual bus: the attach-time gathering as the printer sees it (which commands, in
// which order, per model and firmware) and what lands in the device information; property reads,
// counters and the USB iSerial setting, and what an empty status reply leaves behind. (What a
// broken reply leaves in the device information: the fault matrix's and the libusb test's.
// Products outside the model table never get a printer object: the printer list's test.)
#include <QtTest>

#include "olm/protocol/Framing.h"
#include "tests/common/LogCapture.h"
#include "tests/common/PrinterTestRig.h"
#include "tests/common/TestFiles.h"

using namespace pm::framing;

namespace {

// "command", or "command[payload]" for a frame with one.
QStringList commandsOf(const sim::VirtualPrinter& printer) {
  QStringList commands;
  for (const sim::ReceivedFrame& f : printer.frames())
    commands << f.command + (f.payload.isEmpty() ? QString() : u'[' + QString::fromLatin1(f.payload) + u']');
  return commands;
}

// The colour-table reads: versions, then checksums, each for every media and table in turn.
QStringList tableReads(const QStringList& tables, const QStringList& media) {
  QStringList reads;
  for (const char* kind : {"Version", "Checksum"})
    for (const QString& m : media)
      for (const QString& table : tables)
        reads << QStringLiteral("TBL_RDCWD%1_%2%3").arg(table, QLatin1String(kind), m);
  return reads;
}

const QString kStatus = QStringLiteral("STATUS");
const QString kFver = QStringLiteral("INFO  FVER");
const QString kLife = QStringLiteral("MNT_RDCOUNTER_LIFE");
const QString kSerial = QStringLiteral("INFO  SERIAL_NUMBER");
const QString kISerial = QStringLiteral("MNT_RDUSB_ISERI_SET");

}  // namespace

class VendorPrinterTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<PrinterTestRig> rig_;
  std::shared_ptr<sim::VirtualPrinter> device_;
  std::shared_ptr<TBUSBPrinterOLM> printer_;

  void attach(sim::Model model, const QString& firmware = QString()) {
    printer_ = rig_->attachAndWait({.model = model, .firmwareVersion = firmware}, &device_);
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

  // A reset is done only once the printer reads the counter back as zero (that one nobody waits for
  // still happens and gives the printer back once unused is the libusb test's); a printer that does
  // not answer, or another counter letter (which opens the printer and sends nothing), says why not.
  void counterResets() {
    attach(sim::Model::PZA);
    // Resets the counter and waits for its outcome: whether it was reset, and why not.
    const auto reset = [this](char letter) {
      auto outcome = std::make_shared<std::optional<std::pair<bool, QString>>>();
      printer_->properties().resetCounter(
          letter, [outcome](bool done, const QString& why) { outcome->emplace(done, why); });
      PrinterTestRig::waitFor([&] { return outcome->has_value(); });
      return *outcome;
    };
    QCOMPARE(reset('B'), std::make_pair(true, QString()));
    QCOMPARE((std::array{device_->counters().a, device_->counters().b}),
             (std::array{12u, 0u}));  // only the named counter
    printer_->deviceInfoDict()->remove(QStringLiteral("ZOVRAN_OLM_USB_ISerialisSet"));
    QVERIFY(printer_->properties().usbISerialString().isEmpty());  // unknown until read, never "Disabled"

    device_->injectReplyFault(sim::ReplyFault::NoReply, 1);
    QCOMPARE(reset('A'),
             std::make_pair(false, QStringLiteral("The printer did not report the counter afterwards.")));
    QVERIFY(PrinterTestRig::settle(printer_));
    device_->clearFrames();
    const int opens = device_->device()->openCount();
    QCOMPARE(reset('P'), std::make_pair(false, QStringLiteral("The printer has no counter P.")));
    QVERIFY(device_->device()->openCount() > opens || device_->device()->isOpen());
    QVERIFY(device_->frames().empty());

    // An empty status reply leaves the text and calls the completion once, with nothing read.
    device_->injectReplyFault(sim::ReplyFault::NoReply, 1);
    int calls = 0;
    TBUSBPrinterOLM::StatusCode reported = QStringLiteral("unset");
    printer_->getPrinterStatus([&](const TBUSBPrinterOLM::StatusCode& code) {
      ++calls;
      reported = code;
    });
    QVERIFY(PrinterTestRig::settle(printer_));
    QVERIFY(calls == 1 && !reported && printer_->printerStatus() == QLatin1String("Idle"));
    // A header without digits is no empty reply ("Idle"): the status is unknown, and the log says why.
    LogCapture log;
    device_->injectReplyFault(sim::ReplyFault::GarbageHeader, 1);
    printer_->getPrinterStatus([&](const TBUSBPrinterOLM::StatusCode& code) { reported = code; });
    QVERIFY(PrinterTestRig::settle(printer_));
    QCOMPARE(reported, std::optional(QStringLiteral("unknown")));
    QCOMPARE(printer_->printerStatus(), QStringLiteral("Unknown Status"));
    QVERIFY(log.contains(QStringLiteral("malformed printer status reply")));

    // An alert that says nothing, or that nobody can be shown, still answers: as one who declines.
    std::vector<int> answers;
    const auto answer = [&](int returnCode) { answers.push_back(returnCode); };
    printer_->dialogs().showCustomAlert({}, {}, {}, false, pm::AlertStyle::Warning, nullptr,
                                        [&](const pm::AlertAnswer& a) { answer(a.returnCode); });
    pm::setAlertPresenter(nullptr);
    printer_->dialogs().showConfirmation(QStringLiteral("Go?"), {},
                                         {QStringLiteral("Cancel"), QStringLiteral("Go")}, answer);
    QTRY_COMPARE(answers, (std::vector<int>{pm::kAlertFirstButtonReturn, pm::kAlertFirstButtonReturn}));
    QCOMPARE(rig_->alerts().count(), 0);
    pm::setAlertPresenter(&rig_->alerts());
  }

  // A change of the USB serial-number setting breaks the print queues that name this printer by
  // its serial string: only those (this model and this serial number) are offered for removal,
  // once the printer reports the new setting and the user agrees, one `lpadmin -x NAME` each
  // without a shell; other printers' queues stay (a USB one without a serial number, network
  // ones whatever they name: the lpstat fuzzer's seeds); "Keep" keeps them; demo mode touches
  // nothing.
  void iSerialChangeAndPrintQueues() {
    QTemporaryDir tools;
    const QString injected = QStringLiteral("pza;touch${IFS}PWNED");
    QVERIFY(writeFile(tools.filePath(QStringLiteral("listing")),
                      "device for mine: usb://Varnholt%20Printing/RM-PZA?serial=SIM0001\n"
                      "device for mine_plain: usb://Varnholt%20Printing/RM-PZA\n"
                      "device for " +
                          injected.toUtf8() +
                          ": usb://Varnholt%20Printing/rm%2Dpza?serial=SIM0001&interface=1\r\n"
                          "device for other_pza: usb://Varnholt%20Printing/RM-PZA?serial=SIM0002\n"
                          "device for pza_longer: usb://Varnholt%20Printing/RM-PZA2\n"
                          "device for ktc: usb://Varnholt%20Printing/RM-KTC?serial=SIM0001\n"
                          "lpstat: garbage usb://Varnholt/RM-PZA\n"));
    QVERIFY(writeFile(tools.filePath(QStringLiteral("lpstat")),
                      "#!/bin/sh\n[ \"$*\" = -v ] && cat \"$(dirname \"$0\")/listing\"\n", true));
    QVERIFY(writeFile(
        tools.filePath(QStringLiteral("lpadmin")),
        "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"$(dirname \"$0\")/calls\"\n"
        "[ \"$2\" = mine ] && { echo 'lpadmin: Forbidden' >&2; exit 1; }; exit 0\n",
        true));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", tools.path().toLocal8Bit() + ':' + path);
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(tools.path());
    const auto restore = qScopeGuard([&] {
      QDir::setCurrent(previousDir);
      qputenv("PATH", path);
      qunsetenv("PRINTER_MAINTENANCE_SIMULATE");
    });
    const auto calls = [&] {
      return QString::fromUtf8(readFile(tools.filePath(QStringLiteral("calls"))))
          .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    };
    const QString question = QStringLiteral("Remove the print queues of this printer?");

    attach(sim::Model::PZA);
    QVERIFY(printer_->properties().usbISerial());
    // The value already held: nothing is sent and nothing is asked.
    printer_->properties().setUsbISerial(true);
    QVERIFY(PrinterTestRig::settle(printer_));
    QVERIFY(device_->frames().empty() && rig_->alerts().count() == 0);
    printer_->properties().setUsbISerial(false);
    QVERIFY(PrinterTestRig::waitFor([&] { return rig_->alerts().count() >= 3; }));
    QVERIFY(!device_->iSerialEnabled() && !printer_->properties().usbISerial());
    QVERIFY(!device_->device()->isOpen());
    // Power-cycle (the device shows its serial string until then), the question, the outcome.
    const std::vector<pm::AlertRequest> shown = rig_->alerts().requests();
    QCOMPARE(
        rig_->alerts().titles().mid(1),
        (QStringList{question, QStringLiteral("Some print queues of PZA SIM0001 could not be removed.")}));
    QCOMPARE(rig_->alerts().titles().first(),
             QStringLiteral("Please switch PZA SIM0001 off and on now to complete the change."));
    for (const QString& name : {QStringLiteral("mine"), injected})
      QVERIFY2(shown[1].message.contains(name + u'\n'), qPrintable(shown[1].message));
    QVERIFY(!shown[1].message.contains(QLatin1String("mine_plain")));
    QCOMPARE(shown[1].buttons, (QStringList{QStringLiteral("&Remove"), QStringLiteral("&Keep")}));
    QCOMPARE(calls(), (QStringList{"-x", "mine", "-x", injected}));
    QCOMPARE(shown[2].message,
             QStringLiteral("Removed: %1\nNot removed: mine: lpadmin: Forbidden").arg(injected));
    QCOMPARE(QDir(tools.path()).entryList({QStringLiteral("PWNED*")}, QDir::Files), QStringList());

    // "Keep": asked, nothing removed.
    rig_->alerts().clear();
    rig_->alerts().queueAnswer(1001);
    LogCapture log;
    printer_->properties().setUsbISerial(true);
    QVERIFY(PrinterTestRig::waitFor([&] { return log.contains(QStringLiteral("print queues kept")); }));
    QCOMPARE(rig_->alerts().titles(), QStringList{question});
    QCOMPARE(calls().size(), 4);

    // A setting the printer does not confirm leaves every queue: nothing asked, nothing removed.
    rig_->alerts().clear();
    log.clear();
    device_->injectReplyFault(sim::ReplyFault::NoReply, 1);
    std::optional<QString> why;
    printer_->properties().setEnabledUSBSerial(false, [&](bool, const QString& text) { why = text; });
    QVERIFY(PrinterTestRig::waitFor([&] { return why.has_value(); }));
    QCOMPARE(*why, QStringLiteral("The printer does not report the new setting."));
    QVERIFY(!rig_->alerts().titles().contains(question));
    QVERIFY(!log.contains(QStringLiteral("print queue")));
    QCOMPARE(calls().size(), 4);

    // Demo mode: no question, no change, only what it would have done.
    rig_->alerts().clear();
    qputenv("PRINTER_MAINTENANCE_SIMULATE", "PZA");
    printer_->properties().setUsbISerial(false);
    QVERIFY(PrinterTestRig::waitFor(
        [&] { return log.contains(QStringLiteral("demo mode: the print queues mine, %1").arg(injected)); }));
    QVERIFY(!rig_->alerts().titles().contains(question));
    QCOMPARE(calls().size(), 4);
    qunsetenv("PRINTER_MAINTENANCE_SIMULATE");

    // Every outcome of the queue step is told, naming the printer: none found, or why the queues
    // could not be checked (no lpstat; CUPS not running).
    const QString empty = tools.filePath(QStringLiteral("empty"));
    QVERIFY(QDir().mkpath(empty));
    const QByteArray cupsDown = "#!/bin/sh\necho 'lpstat: Scheduler is not running.' >&2; exit 1\n";
    for (const auto& [listing, lpstatOnPath, told] :
         {std::tuple{QByteArray(""), true,
                     QStringLiteral("No print queue reaches PZA SIM0001 by its USB serial number.")},
          {cupsDown, true,
           QStringLiteral("The print queues of PZA SIM0001 could not be checked: the print system (CUPS) is "
                          "not running.")},
          {QByteArray(), false,
           QStringLiteral(
               "The print queues of PZA SIM0001 could not be checked: lpstat is not installed.")}}) {
      if (listing.startsWith("#!"))
        QVERIFY(writeFile(tools.filePath(QStringLiteral("lpstat")), listing, true));
      else QVERIFY(writeFile(tools.filePath(QStringLiteral("listing")), listing));
      qputenv("PATH", lpstatOnPath ? tools.path().toLocal8Bit() + ':' + path : empty.toLocal8Bit());
      const qsizetype before = rig_->application().statuses().size();
      printer_->properties().setUsbISerial(!printer_->properties().usbISerial());
      QVERIFY2(PrinterTestRig::waitFor([&] { return rig_->application().statuses().size() > before; }),
               qPrintable(told));
      QCOMPARE(rig_->application().statuses().last(), told);
    }
    qputenv("PATH", path);
  }

  void attachSequence_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("tables");
    const QStringList head{kStatus, kFver, kLife}, plain{"TBL_RDVersion", "MNT_RDCTRLD_CHKSUM", kSerial},
        tail{kSerial, kISerial};
    QTest::newRow("KTA") << int(sim::Model::KTA) << QString() << head + plain
                         << "Version=0150 Checksum300=# Version600=";
    QTest::newRow("VLA 2.03") << int(sim::Model::VLA) << "02.03" << head + plain << QString();
    QTest::newRow("VLA 2.04") << int(sim::Model::VLA) << "02.04" << head + plain + QStringList{kISerial}
                              << QString();
    QTest::newRow("KTC 4.20") << int(sim::Model::KTC) << "04.20"
                              << head + tableReads({"610", "600", "300"}, {""}) + tail
                              << "Version610PD=0110 Checksum300PD=# Version610SD=";
    QTest::newRow("KTC 4.21") << int(sim::Model::KTC) << "04.21"
                              << head + tableReads({"610", "600", "300"}, {"[0001]", "[0002]"}) + tail
                              << "Version610SD=0110 Checksum300SD=# Version300PD=0110";
    QTest::newRow("KTD") << int(sim::Model::KTD) << QString()
                         << head + tableReads({"620", "610", "600", "300"}, {"[0001]", "[0003]"}) + tail
                         << "Version=0100 Checksum620HD=# Version300SD=";
    QTest::newRow("PZA") << int(sim::Model::PZA) << QString()
                         << head + tableReads({"300", "310"}, {"[0001]", "[0002]"}) + tail
                         << "Version310PD=0090 Checksum310SD=# Version600SD=";
    QTest::newRow("in update mode") << int(sim::Model::PZA) << QString() << QStringList{kStatus} << QString();
  }

  // The firmware version read first decides the KTC's and VLA's later reads in the same sequence:
  // the first gathering after attach already shows it. A printer waiting in update mode (the row
  // that expects the status read alone) gets nothing but the status read.
  // Then what lands under "colorTable<key>" ("#": a 4-digit checksum, "": no value); no key ever
  // holds the failed-read "NULL". A KTC below 4.21 reads without media, which means PD; a KTD's SD
  // table 300 is the plain key and its PP tables the HD ones.
  void attachSequence() {
    QFETCH(int, model);
    QFETCH(QString, firmware);
    QFETCH(QStringList, expected);
    QFETCH(QString, tables);
    sim::VirtualPrinterConfig config{.model = sim::Model(model), .firmwareVersion = firmware};
    if (expected == QStringList{kStatus}) config.statusSequence = {QStringLiteral("FU00001")};
    rig_->alerts().setHoldAnswers(true);  // its update prompt stays open
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
    device->clearFrames();
    printer->deviceInfoDict()->remove(QStringLiteral("firmwareVersion"));
    printer->probe();
    QVERIFY(PrinterTestRig::settle(printer, 6));
    QCOMPARE(commandsOf(*device), expected);

    for (const QString& key : pm::ColorTableReader::colorTableKeys())
      QVERIFY2(printer->colorTables().colorTableValue(key) != QLatin1String("NULL"), qPrintable(key));
    for (const QString& pair : tables.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
      const QString key = pair.section(QLatin1Char('='), 0, 0), wanted = pair.section(QLatin1Char('='), 1);
      const QString value = printer->colorTables().colorTableValue(QStringLiteral("colorTable") + key);
      const bool matches = wanted == QLatin1String("#") ? value.size() == 4
                           : wanted.isEmpty()           ? value.isNull()
                                                        : value == wanted;
      QVERIFY2(matches, qPrintable(key + QLatin1String(": ") + value));
    }
    if (model != int(sim::Model::KTD)) return;

    // The KTD alone: the version read's completion gets the model's texts in read order (on the main thread),
    // the ones that did not come as absent.
    QList<std::optional<QString>> values;
    bool called = false;
    printer->openInterface([printer, &values, &called](IOReturn) {
      printer->colorTables().getPrinterColorTableVersion([&](const QList<std::optional<QString>>& result) {
        QVERIFY(QThread::currentThread() == QCoreApplication::instance()->thread());
        values = result;
        called = true;
      });
    });
    QVERIFY(PrinterTestRig::waitFor([&] { return called; }));
    QVERIFY(values.size() == 8 && values.at(3) == printer->colorTables().colorTableVersion());

    // The inline firmware read stores nothing. (A command of the wrong payload size is never framed:
    // the frame-builder fuzzer.)
    std::optional<QString> first, second = QStringLiteral("unset");
    printer->openInterface([&](IOReturn) {  // on the printer's queue
      first = printer->properties().inlineGetFirmwareString();
      device->injectReplyFault(sim::ReplyFault::NoReply, 1);
      second = printer->properties().inlineGetFirmwareString();
    });
    QVERIFY(PrinterTestRig::settle(printer, 3));
    QVERIFY(first == device->firmwareVersion() && !second);
    QCOMPARE(printer->firmwareVersion(), device->firmwareVersion());
  }

  // Status codes read as their leading number: texts without one are 0 ("Idle"); a reply that is
  // not UTF-8 is no text. (The frame-builder fuzzer holds the frames against the printer's parser,
  // the reply fuzzer the reply buffers and the numbers read, signs and overflow among them; the
  // update test the frames as sent.)
  void statusAndTextReadings() {
    QVERIFY(!replyText("\xff\xfe\x80\x81"));
    const std::pair<const char*, const char*> statuses[] = {{"03000", "System Fail Error"},
                                                            {"FU00001", "Firmware Update Mode"},
                                                            {"FU00002", "Idle"},
                                                            {"03001", "Unknown Status"}};
    for (const auto& [code, text] : statuses)
      QCOMPARE(TBUSBPrinterOLM::stringForKTStatusString(QString::fromLatin1(code)),
               QString::fromLatin1(text));
    QCOMPARE(TBUSBPrinterOLM::stringForKTStatusString(TBUSBPrinterOLM::StatusCode()),
             QStringLiteral("<NULL>"));
    QCOMPARE(pm::PrinterProperties::mungeLifetimeCounter("CL"), QStringLiteral("0"));
    // A counter is its digits after a known prefix, or not read: a reset is never confirmed by a
    // text that merely starts without digits.
    const std::pair<const char*, std::optional<uint32_t>> counters[] = {
        {"00000012", 12u},       {"CA00001234", 1234u},        {"CL0", 0u},
        {" 00000000\r", 0u},     {"XA00000000", std::nullopt}, {"CA", std::nullopt},
        {"12 34", std::nullopt}, {"-1", std::nullopt}};
    for (const auto& [reply, value] : counters)
      QCOMPARE(pm::PrinterProperties::counterValue(QString::fromLatin1(reply)), value);
  }
};

QTEST_MAIN(VendorPrinterTest)
#include "olm_printer_unittest.moc"
