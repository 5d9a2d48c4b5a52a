// The attach-time gathering as the virtual printer sees it: which commands, in which order, per
// model and firmware, and what lands in the device information.
#include <QtTest>

#include "tests/common/PrinterTestRig.h"

namespace {

// "command" for a frame without payload, "command[payload]" with one.
QStringList commandsOf(const sim::VirtualPrinter& printer) {
  QStringList commands;
  for (const sim::ReceivedFrame& frame : printer.frames()) {
    QString text = frame.command;
    if (!frame.payload.isEmpty()) text += QLatin1Char('[') + QString::fromLatin1(frame.payload) + QLatin1Char(']');
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

// A device outside the model table that answers every command with an idle status.
class PlainDevice final : public usb::virt::VirtualDeviceHandler {
 public:
  usb::virt::TransferResult bulkOut(usb::virt::VirtualUsbDevice&, uint8_t, const QByteArray& data) override {
    const std::lock_guard guard(lock_);
    names << QString::fromLatin1(data.mid(2, 22)).trimmed();
    return usb::virt::TransferResult::ok();
  }
  usb::virt::TransferResult bulkIn(usb::virt::VirtualUsbDevice&, uint8_t, uint32_t maxLength) override {
    const std::lock_guard guard(lock_);
    headerNext_ = !headerNext_;
    return usb::virt::TransferResult::ok(QByteArray(headerNext_ ? "00000006" : "00000\r").left(maxLength));
  }
  QStringList received() const {
    const std::lock_guard guard(lock_);
    return names;
  }

 private:
  mutable std::mutex lock_;
  QStringList names;
  bool headerNext_ = false;
};

}  // namespace

class OlmAttachTest : public QObject {
  Q_OBJECT

 private slots:
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
    PrinterTestRig rig;
    sim::VirtualPrinterConfig config;
    config.model = sim::Model(model);
    config.firmwareVersion = firmware;
    std::shared_ptr<sim::VirtualPrinter> device;
    auto printer = rig.attachAndWait(config, &device);
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

  void colorTableValues() {
    PrinterTestRig rig;
    sim::VirtualPrinterConfig config;
    config.model = sim::Model::KTC;
    config.firmwareVersion = QStringLiteral("04.20");
    auto old = rig.attachAndWait(config);
    config.firmwareVersion = QStringLiteral("04.21");
    config.serialNumber = QStringLiteral("SIM0002");
    auto current = rig.attachAndWait(config);
    config.model = sim::Model::KTD;
    auto ktd = rig.attachAndWait(config);
    config.model = sim::Model::KTA;
    auto kta = rig.attachAndWait(config);
    for (const auto& printer : {old, current, ktd, kta}) QVERIFY(PrinterTestRig::settle(printer, 8));

    // KTC below 4.21: the tables read without media are the PD ones.
    QVERIFY(!old->colorTableVersion610PD().isEmpty());
    QVERIFY(!old->colorTableChecksum300PD().isEmpty());
    QVERIFY(old->colorTableVersion610SD().isNull());
    QVERIFY(!current->colorTableVersion610SD().isEmpty());
    QVERIFY(!current->colorTableChecksum300SD().isEmpty());
    QVERIFY(!current->colorTableVersion300PD().isEmpty());
    // KTD's SD table 300 is the plain key; PP is the HD one.
    QVERIFY(!ktd->colorTableVersion().isEmpty());
    QVERIFY(!ktd->colorTableChecksum620HD().isEmpty());
    QVERIFY(ktd->colorTableVersion300SD().isNull());
    QVERIFY(!kta->colorTableVersion().isEmpty());
    QVERIFY(!kta->colorTableChecksum300().isEmpty());
    QVERIFY(kta->colorTableVersion600().isNull());
    for (const auto& printer : {old, current, ktd, kta}) {
      for (const QString& key : TBUSBPrinterOLM::colorTableKeys())
        QVERIFY2(printer->colorTableValue(key) != QLatin1String("NULL"), qPrintable(key));
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
    PrinterTestRig rig;
    rig.alerts().setHoldAnswers(true);
    sim::VirtualPrinterConfig config;
    config.statusSequence = {QStringLiteral("FU00001")};
    std::shared_ptr<sim::VirtualPrinter> device;
    auto printer = rig.attachAndWait(config, &device);
    QVERIFY(PrinterTestRig::settle(printer, 6));
    device->clearFrames();
    printer->probe();
    QVERIFY(PrinterTestRig::settle(printer, 6));
    QCOMPARE(commandsOf(*device), QStringList{kStatus});
    QCOMPARE(printer->printerStatus(), QStringLiteral("Firmware Update Mode"));
  }

  void unknownProductGetsNoTableReads() {
    PrinterTestRig rig;
    auto handler = std::make_shared<PlainDevice>();
    usb::virt::VirtualDeviceDescription description;
    description.vendorId = 0x2B3C;
    description.productId = 0x0099;
    description.deviceId1284 = "MFG:Varnholt Printing;MDL:RM-X;SERN:X1;";
    rig.bus().attach(description, handler);
    QVERIFY(PrinterTestRig::waitFor([&] { return !rig.printers().empty(); }));
    auto printer = rig.printers().front();
    QVERIFY(PrinterTestRig::settle(printer, 8));
    QVERIFY(!handler->received().isEmpty());
    for (const QString& name : handler->received()) QVERIFY2(!name.startsWith("TBL_") && !name.contains("CHKSUM"), qPrintable(name));
    QVERIFY(!handler->received().contains(kISerial));
    QVERIFY(printer->image().isNull());
    QCOMPARE(printer->usbISerialString(), QStringLiteral("Unavailable"));
    for (const QString& key : TBUSBPrinterOLM::colorTableKeys()) QVERIFY(printer->colorTableValue(key).isNull());
  }

  void pictures() {
    PrinterTestRig rig;
    sim::VirtualPrinterConfig config;
    config.model = sim::Model::KTA;
    auto kta = rig.attachAndWait(config);
    config.model = sim::Model::KTB;
    auto ktb = rig.attachAndWait(config);
    config.model = sim::Model::PZA;
    auto pza = rig.attachAndWait(config);
    QVERIFY(!kta->image().isNull());
    QCOMPARE(kta->image(), ktb->image());
    QVERIFY(kta->image() != pza->image());
  }
};

QTEST_MAIN(OlmAttachTest)
#include "olm_attach_unittest.moc"
