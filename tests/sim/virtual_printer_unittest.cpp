// The virtual printer driven the way a host drives a real one: raw command frames written to the
// bulk-out pipe of a virtual USB bus, replies read from the bulk-in pipe.

#include <QtTest>

#include "sim/DemoPrinters.h"
#include "sim/VirtualPrinter.h"
#include "usb/virtual/VirtualUsbBus.h"

using namespace sim;
using usb::virt::VirtualUsbBus;

namespace {

constexpr uint32_t kTimeoutMs = 5000;

QByteArray digits8(qsizetype n) { return QByteArray::number(n).rightJustified(8, '0'); }

// One command frame: ESC 'P', the name padded to 22 bytes, the length field, the payload.
QByteArray frame(const QByteArray& name, const QByteArray& payload = {}) {
  QByteArray bytes(32, ' ');
  bytes[0] = '\x1b';
  bytes[1] = 'P';
  bytes.replace(2, name.size(), name);
  if (!payload.isEmpty()) bytes.replace(24, 8, digits8(payload.size()));
  return bytes + payload;
}

QByteArray sRecord(int type, const QByteArray& address, const QByteArray& data) {
  const QByteArray body = address + data;
  unsigned sum = static_cast<unsigned>(body.size() + 1);
  for (char c : body) sum += static_cast<unsigned char>(c);
  QByteArray bytes = QByteArray(1, static_cast<char>(body.size() + 1)) + body;
  bytes.append(static_cast<char>(~sum & 0xFF));
  return "S" + QByteArray::number(type) + bytes.toHex().toUpper();
}

// A firmware image as the update sends it: S0 header, data, termination, zero-padded to 4.
QByteArray firmwareImage(const QByteArray& header, bool terminated = true) {
  QByteArray text = sRecord(0, QByteArray(2, '\0'), header) + "\r\n" +
                    sRecord(1, QByteArray::fromHex("1000"), "firmware bytes") + "\r\n";
  if (terminated) text += sRecord(9, QByteArray::fromHex("1000"), {}) + "\r\n";
  while (text.size() % 4 != 0) text.append('\0');
  return text;
}

// The host side: an open interface on the printer's current service.
class Host {
 public:
  Host(VirtualUsbBus& bus, std::shared_ptr<VirtualPrinter> printer)
      : bus_(bus), printer_(std::move(printer)) {}

  IOReturn open() {
    IOReturn rc = kIOReturnSuccess;
    interface_ = bus_.createInterface(printer_->device()->service(), &rc);
    return interface_ ? interface_->openSeize() : rc;
  }
  IOReturn write(const QByteArray& bytes) {
    return interface_->writePipe(1, bytes.constData(), static_cast<uint32_t>(bytes.size()),
                                 kTimeoutMs, kTimeoutMs);
  }
  std::pair<IOReturn, QByteArray> read(uint32_t size) {
    QByteArray buffer(static_cast<qsizetype>(size), '\0');
    const IOReturn rc = interface_->readPipe(2, buffer.data(), &size, kTimeoutMs, kTimeoutMs);
    buffer.resize(size);
    return {rc, buffer};
  }
  // One exchange: the reply's text before its CR, or "<none>".
  QString ask(const QByteArray& command) {
    if (write(command) != kIOReturnSuccess) return QStringLiteral("<none>");
    const auto [rc, header] = read(8);
    if (rc != kIOReturnSuccess) return QStringLiteral("<none>");
    const auto [bodyRc, body] = read(header.toUInt());
    if (bodyRc != kIOReturnSuccess || !body.endsWith('\r')) return QStringLiteral("<bad body>");
    return QString::fromLatin1(body.chopped(1));
  }
  std::shared_ptr<usb::UsbDevice> device() { return interface_->device(); }
  usb::UsbInterface& interface() { return *interface_; }

 private:
  VirtualUsbBus& bus_;
  std::shared_ptr<VirtualPrinter> printer_;
  std::shared_ptr<usb::UsbInterface> interface_;
};

const QByteArray kStatus = frame("STATUS");
const QByteArray kFver = frame("INFO  FVER");

QByteArray paddedName(QByteArray name) {
  while (name.size() % 4 != 0) name.append('\0');
  return name;
}

}  // namespace

class VirtualPrinterTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<VirtualUsbBus> bus_;

  std::shared_ptr<VirtualPrinter> attach(Model model, const QString& firmware = {}) {
    VirtualPrinterConfig config;
    config.model = model;
    config.firmwareVersion = firmware;
    return VirtualPrinter::attach(*bus_, config);
  }
  // Waits until the printer has come back as a service other than `before`.
  static bool returned(const VirtualPrinter& printer, const usb::ServiceHandle& before) {
    return QTest::qWaitFor(
        [&] { return printer.device()->isAttached() && !(printer.device()->service() == before); });
  }

 private slots:
  void init() {
    bus_ = std::make_unique<VirtualUsbBus>();
    bus_->setTimeScale(0.001);  // a 5000 ms time-out takes 5 ms
  }
  void cleanup() { bus_.reset(); }

  void identityOfEveryModel() {
    const struct { Model model; uint16_t vendor, product; const char* firmware; } rows[] = {
        {Model::KTA, 0x1A2B, 0x11, "KTA 01.50"},   {Model::KTB, 0x1A2B, 0x12, "KTB 01.20"},
        {Model::VLA, 0x1A2B, 0x13, "VLA 02.10"},   {Model::KTBT, 0x1A2B, 0x14, "KTBT 1.30PRN"},
        {Model::KTC, 0x2B3C, 0x15, "KTC 04.21"},   {Model::KTD, 0x2B3C, 0x16, "KTD 01.10"},
        {Model::PZA, 0x2B3C, 0x17, "PZA 01.00"}};
    for (const auto& row : rows) {
      const auto printer = attach(row.model);
      Host host(*bus_, printer);
      QCOMPARE(host.open(), kIOReturnSuccess);
      uint16_t vendor = 0, product = 0;
      host.interface().deviceVendor(&vendor);
      host.interface().deviceProduct(&product);
      QCOMPARE(vendor, row.vendor);
      QCOMPARE(product, row.product);

      QByteArray deviceId(256, '\0');
      usb::ControlRequest request{0xA1, 0, 0, 0, 256, deviceId.data(), kTimeoutMs, kTimeoutMs, 0};
      QCOMPARE(host.interface().controlRequest(0, request), kIOReturnSuccess);
      const QString name = modelName(row.model);
      QCOMPARE(deviceId.mid(2, request.lengthDone - 2),
               QStringLiteral("MFG:Varnholt Printing;MDL:RM-%1;SERN:SIM0001;DES:Varnholt Printing RM-%1;")
                   .arg(name).toLatin1());
      QCOMPARE(printer->device()->description().product, QStringLiteral("RM-") + name);
      QCOMPARE(host.ask(kFver), QString::fromLatin1(row.firmware));
    }
  }

  void statusSequenceAndProperties() {
    const auto printer = attach(Model::PZA);
    Host host(*bus_, printer);
    QCOMPARE(host.open(), kIOReturnSuccess);
    // The reply is framed: 8-digit length counting the body with its CR.
    QCOMPARE(host.write(kStatus), kIOReturnSuccess);
    QCOMPARE(host.read(64).second, QByteArray("00000006" "00000\r"));

    printer->setStatusSequence({"01000", "01500"});
    QCOMPARE(host.ask(kStatus), QStringLiteral("01000"));
    QCOMPARE(host.ask(kStatus), QStringLiteral("01500"));
    QCOMPARE(host.ask(kStatus), QStringLiteral("01500"));
    QCOMPARE(host.ask(frame("INFO  SERIAL_NUMBER")), QStringLiteral("SIM0001"));
    QCOMPARE(host.ask(frame("MNT_RDCOUNTER_LIFE")), QStringLiteral("CL00001234"));
    // Unknown commands and writes get no reply.
    QCOMPARE(host.ask(frame("INFO  NONSENSE")), QStringLiteral("<none>"));
  }

  void counterResetClearsOnlyTheNamedCounter() {
    const auto printer = attach(Model::KTD);
    Host host(*bus_, printer);
    QCOMPARE(host.open(), kIOReturnSuccess);
    QCOMPARE(host.ask(frame("MNT_RDCOUNTER_A")), QStringLiteral("00000012"));
    QCOMPARE(host.ask(frame("MNT_WTCOUNTER_CLR", QByteArray("CA\r\0", 4))), QStringLiteral("<none>"));
    QCOMPARE(host.ask(frame("MNT_WTCOUNTER_CLR", QByteArray("CP\r\0", 4))), QStringLiteral("<none>"));
    QCOMPARE(host.ask(frame("MNT_RDCOUNTER_A")), QStringLiteral("00000000"));
    QCOMPARE(host.ask(frame("MNT_RDCOUNTER_B")), QStringLiteral("00000034"));
    QCOMPARE(printer->counters().lifetime, 1234u);
  }

  void iSerialShowsOnlyAfterPowerCycle() {
    const auto printer = attach(Model::PZA);
    Host host(*bus_, printer);
    QCOMPARE(host.open(), kIOReturnSuccess);
    QCOMPARE(host.ask(frame("MNT_RDUSB_ISERI_SET")), QStringLiteral("01"));
    host.write(frame("MNT_WTUSB_ISERI_SET", QByteArray("00\r\0", 4)));
    QCOMPARE(host.ask(frame("MNT_RDUSB_ISERI_SET")), QStringLiteral("00"));
    uint8_t index = 0;
    QCOMPARE(host.device()->serialNumberStringIndex(&index), kIOReturnSuccess);
    QVERIFY(index != 0);  // still the string of this enumeration

    const usb::ServiceHandle before = printer->device()->service();
    printer->powerCycle();
    QVERIFY(returned(*printer, before));
    Host after(*bus_, printer);
    QCOMPARE(after.open(), kIOReturnSuccess);
    QCOMPARE(after.device()->serialNumberStringIndex(&index), kIOReturnSuccess);
    QCOMPARE(index, uint8_t{0});

    // A model without the option ignores it; a VLA has it from firmware 2.04.
    Host kta(*bus_, attach(Model::KTA));
    QCOMPARE(kta.open(), kIOReturnSuccess);
    QCOMPARE(kta.ask(frame("MNT_RDUSB_ISERI_SET")), QStringLiteral("<none>"));
    Host vla(*bus_, attach(Model::VLA, "02.04"));
    QCOMPARE(vla.open(), kIOReturnSuccess);
    QCOMPARE(vla.ask(frame("MNT_RDUSB_ISERI_SET")), QStringLiteral("01"));
  }

  void colorTableReadsPerModel() {
    const QByteArray sd("0001"), pd("0002"), pp("0003");
    Host oldKtc(*bus_, attach(Model::KTC, "04.20"));
    QCOMPARE(oldKtc.open(), kIOReturnSuccess);
    QCOMPARE(oldKtc.ask(frame("TBL_RDCWD610_Version")), QStringLiteral("0110"));
    QCOMPARE(oldKtc.ask(frame("TBL_RDCWD610_Version", sd)), QStringLiteral("<none>"));

    const auto ktc = attach(Model::KTC, "04.21");
    ktc->setColorTable({300, Media::SD}, "0111", "123456789");
    Host newKtc(*bus_, ktc);
    QCOMPARE(newKtc.open(), kIOReturnSuccess);
    QCOMPARE(newKtc.ask(frame("TBL_RDCWD300_Version", sd)), QStringLiteral("0111"));
    // CRC-16/CCITT of "123456789" is 29B1.
    QCOMPARE(newKtc.ask(frame("TBL_RDCWD300_Checksum", sd)), QStringLiteral("29B1"));
    QCOMPARE(newKtc.ask(frame("TBL_RDCWD300_Version", pd)), QStringLiteral("0110"));

    Host ktd(*bus_, attach(Model::KTD));
    QCOMPARE(ktd.open(), kIOReturnSuccess);
    int answered = 0;
    for (const char* table : {"300", "310", "600", "610", "620"})
      for (const QByteArray& media : {sd, pd, pp})
        answered += ktd.ask(frame(QByteArray("TBL_RDCWD") + table + "_Version", media)) == "0100";
    QCOMPARE(answered, 8);
    QCOMPARE(ktd.ask(frame("TBL_RDCWD300_Version")), QStringLiteral("<none>"));

    Host pza(*bus_, attach(Model::PZA));
    QCOMPARE(pza.open(), kIOReturnSuccess);
    QCOMPARE(pza.ask(frame("TBL_RDCWD310_Version", pd)), QStringLiteral("0090"));
    QCOMPARE(pza.ask(frame("TBL_RDCWD600_Version", sd)), QStringLiteral("<none>"));
    QCOMPARE(pza.ask(frame("TBL_RDCWD300_Version", pp)), QStringLiteral("<none>"));
    QCOMPARE(pza.ask(frame("TBL_RDCWD300_Checksum", sd)).size(), 4);

    Host kta(*bus_, attach(Model::KTA));
    QCOMPARE(kta.open(), kIOReturnSuccess);
    QCOMPARE(kta.ask(frame("TBL_RDVersion")), QStringLiteral("0150"));
    QCOMPARE(kta.ask(frame("MNT_RDCTRLD_CHKSUM")).size(), 4);
    QCOMPARE(kta.ask(frame("TBL_RDCWD300_Version", sd)), QStringLiteral("<none>"));
  }

  void colorTableWrites() {
    const auto printer = attach(Model::PZA);
    Host host(*bus_, printer);
    QCOMPARE(host.open(), kIOReturnSuccess);
    host.write(frame("TBL_CL"));
    QCOMPARE(host.ask(frame("TBL_RDCWD300_Version", "0001")), QStringLiteral("0000"));
    QCOMPARE(host.ask(frame("TBL_RDCWD300_Checksum", "0001")), QStringLiteral("0000"));

    host.write(frame("TBL_WTVersion", paddedName("PZA_SD_300_0100.CWD")));
    host.write(frame("TBL_WTCTRLD_UPDATE_CW", "123456789"));
    QCOMPARE(host.ask(frame("TBL_RDCWD300_Version", "0001")), QStringLiteral("0100"));
    QCOMPARE(host.ask(frame("TBL_RDCWD300_Checksum", "0001")), QStringLiteral("29B1"));
    QCOMPARE(host.ask(frame("TBL_RDCWD300_Version", "0002")), QStringLiteral("0000"));

    // A name without its padding is refused, and so is the data that follows it.
    host.write(frame("TBL_WTVersion", "PZA_PD_300_0100.CWD"));
    host.write(frame("TBL_WTCTRLD_UPDATE_CW", "data"));
    QCOMPARE(host.ask(frame("TBL_RDCWD300_Version", "0002")), QStringLiteral("0000"));
    QVERIFY(!printer->lastTableProblem().isEmpty());

    // The combined family reports its 300 table's version and one checksum over the set.
    Host kta(*bus_, attach(Model::KTA));
    QCOMPARE(kta.open(), kIOReturnSuccess);
    kta.write(frame("TBL_CL"));
    kta.write(frame("TBL_WTVersion", "KTA_300_0161.CWD"));
    kta.write(frame("TBL_WTCTRLD_UPDATE_CW", "12345"));
    kta.write(frame("TBL_WTVersion", "KTA_600_0160.CWD"));
    kta.write(frame("TBL_WTCTRLD_UPDATE_CW", "6789"));
    QCOMPARE(kta.ask(frame("TBL_RDVersion")), QStringLiteral("0161"));
    QCOMPARE(kta.ask(frame("MNT_RDCTRLD_CHKSUM")), QStringLiteral("29B1"));
  }

  void updateCycle() {
    const auto printer = attach(Model::PZA);
    const uint32_t location = printer->device()->locationId();
    Host host(*bus_, printer);
    QCOMPARE(host.open(), kIOReturnSuccess);
    usb::ServiceHandle before = printer->device()->service();
    QCOMPARE(host.write(frame("FW_UPDFLASH_REWRITE")), kIOReturnSuccess);
    QVERIFY(returned(*printer, before));
    QCOMPARE(printer->device()->locationId(), location);

    Host loader(*bus_, printer);
    QCOMPARE(loader.open(), kIOReturnSuccess);
    QCOMPARE(loader.ask(kStatus), QStringLiteral("FU00001"));
    QCOMPARE(loader.ask(kFver), QStringLiteral("PZA 01.00"));

    const QByteArray good = firmwareImage("PZA 01.10");
    QByteArray badChecksum = good;
    badChecksum[badChecksum.indexOf("\r\nS1") + 6] = 'F';
    QByteArray shortLength = frame("FW_UPDFLASH_PROGRAM", good);
    shortLength.replace(24, 8, digits8(good.size() - 8));  // cuts into the last record
    QVERIFY(good.indexOf('\0') > 0);  // so that the first case below is really unpadded
    const QByteArray bad[] = {frame("FW_UPDFLASH_PROGRAM", good.left(good.indexOf('\0'))),
                              frame("FW_UPDFLASH_PROGRAM", badChecksum),
                              frame("FW_UPDFLASH_PROGRAM", firmwareImage("PZA 01.10", false)),
                              frame("FW_UPDFLASH_PROGRAM", firmwareImage("KTD 01.21")),
                              shortLength};
    for (const QByteArray& image : bad) {
      QCOMPARE(loader.write(image), kIOReturnSuccess);
      QVERIFY2(printer->inUpdateMode(), qPrintable(printer->lastImageProblem()));
      QVERIFY(!printer->lastImageProblem().isEmpty());
      QCOMPARE(loader.ask(kStatus), QStringLiteral("FU00001"));
    }

    before = printer->device()->service();
    QCOMPARE(loader.write(frame("FW_UPDFLASH_PROGRAM", good)), kIOReturnSuccess);
    QVERIFY(returned(*printer, before));
    Host updated(*bus_, printer);
    QCOMPARE(updated.open(), kIOReturnSuccess);
    QCOMPARE(updated.ask(kStatus), QStringLiteral("00000"));
    QCOMPARE(updated.ask(kFver), QStringLiteral("PZA 01.10"));
  }

  void updateFaults() {
    const auto never = attach(Model::KTD);
    never->setUpdateFault(UpdateFault::NeverReturnAfterRestart);
    Host host(*bus_, never);
    QCOMPARE(host.open(), kIOReturnSuccess);
    QCOMPARE(host.write(frame("FW_UPDFLASH_REWRITE")), kIOReturnSuccess);
    QTest::qWait(20);
    QVERIFY(!never->device()->isAttached());
    never->powerCycle();
    QTRY_VERIFY(never->device()->isAttached());
    QVERIFY(never->inUpdateMode());

    const auto normal = attach(Model::KTC);
    normal->setUpdateFault(UpdateFault::ReturnWithoutUpdateMode);
    Host ktc(*bus_, normal);
    QCOMPARE(ktc.open(), kIOReturnSuccess);
    const usb::ServiceHandle before = normal->device()->service();
    ktc.write(frame("FW_UPDFLASH_REWRITE"));
    QVERIFY(returned(*normal, before));
    Host back(*bus_, normal);
    QCOMPARE(back.open(), kIOReturnSuccess);
    QCOMPARE(back.ask(kStatus), QStringLiteral("00000"));

    const auto lost = attach(Model::PZA);
    Host pza(*bus_, lost);
    QCOMPARE(pza.open(), kIOReturnSuccess);
    pza.write(frame("FW_UPDFLASH_REWRITE"));
    QTRY_VERIFY(lost->device()->isAttached());
    lost->setUpdateFault(UpdateFault::PowerLossDuringUpload);
    Host loader(*bus_, lost);
    QCOMPARE(loader.open(), kIOReturnSuccess);
    QCOMPARE(loader.write(frame("FW_UPDFLASH_PROGRAM", firmwareImage("PZA 01.10"))), kIOReturnNoDevice);
    QVERIFY(!lost->device()->isAttached());
    lost->powerCycle();
    QTRY_VERIFY(lost->device()->isAttached());
    QVERIFY(lost->inUpdateMode());
    QCOMPARE(lost->firmwareVersion(), QStringLiteral("PZA 01.00"));
  }

  void replyFaults() {
    const auto printer = attach(Model::PZA);
    Host host(*bus_, printer);
    QCOMPARE(host.open(), kIOReturnSuccess);

    printer->injectReplyFault(ReplyFault::NoReply, 2);
    QCOMPARE(host.ask(kStatus), QStringLiteral("00000"));
    QCOMPARE(host.ask(kStatus), QStringLiteral("<none>"));
    QCOMPARE(host.ask(kStatus), QStringLiteral("00000"));

    const struct { ReplyFault fault; IOReturn rc; QByteArray header; } rows[] = {
        {ReplyFault::BlankHeader, kIOReturnSuccess, "        "},
        {ReplyFault::GarbageHeader, kIOReturnSuccess, QByteArray("\x7f#?Zq!~\xff", 8)},
        {ReplyFault::OversizeHeader, kIOReturnSuccess, "00004097"},
        {ReplyFault::Stall, kIOUSBPipeStalled, {}},
        {ReplyFault::SlowReply, kIOReturnTimeout, {}},
    };
    for (const auto& row : rows) {
      printer->injectReplyFault(row.fault, 1);
      host.write(kFver);
      const auto [rc, header] = host.read(8);
      QCOMPARE(rc, row.rc);
      QCOMPARE(header, row.header);
      if (row.fault == ReplyFault::OversizeHeader) QCOMPARE(host.read(5000).second.size(), 4097);
      QCOMPARE(host.ask(kFver), QStringLiteral("PZA 01.00"));  // the next exchange is sound
    }

    printer->clearFrames();
    printer->unplugAtCommand(3);
    QCOMPARE(host.ask(kStatus), QStringLiteral("00000"));
    QCOMPARE(host.ask(kStatus), QStringLiteral("00000"));
    QCOMPARE(host.write(kStatus), kIOReturnNoDevice);
    QCOMPARE(printer->frames().size(), size_t{2});
    QVERIFY(!printer->device()->isAttached());

    const auto held = attach(Model::PZA);
    held->setHeldByOtherProgram(true);
    QCOMPARE(Host(*bus_, held).open(), kIOReturnExclusiveAccess);
  }

  void framesAsAByteStream() {
    const auto printer = attach(Model::PZA);
    Host host(*bus_, printer);
    QCOMPARE(host.open(), kIOReturnSuccess);
    const QByteArray table = frame("TBL_RDCWD300_Version", "0001");
    QCOMPARE(host.write(table.left(10)), kIOReturnSuccess);
    QCOMPARE(host.write(table.mid(10)), kIOReturnSuccess);
    host.write("junk" + frame("TBL_CL") + kFver);
    QCOMPARE(host.read(64).second, QByteArray("00000010PZA 01.00\r"));

    const std::vector<ReceivedFrame> frames = printer->frames();
    QCOMPARE(frames.size(), size_t{3});
    QCOMPARE(frames[0].command, QStringLiteral("TBL_RDCWD300_Version"));
    QCOMPARE(frames[0].lengthField, QByteArray("00000004"));
    QCOMPARE(frames[0].payload, QByteArray("0001"));
    QCOMPARE(frames[2].command, QStringLiteral("INFO  FVER"));
    QCOMPARE(printer->skippedBytes(), qsizetype{4});
  }

  void demoPrinters() {
    const auto printers = attachDemoPrinters(
        *bus_, "PZA, PZA:busy,KTC:fw=04.20,KTD:serial=123:latency=2,XYZ,KTA:bogus:status=01000");
    QCOMPARE(printers.size(), size_t{5});
    QCOMPARE(Host(*bus_, printers[1]).open(), kIOReturnExclusiveAccess);
    QCOMPARE(printers[2]->firmwareVersion(), QStringLiteral("KTC 04.20"));
    QCOMPARE(printers[3]->serialNumber(), QStringLiteral("123"));
    QVERIFY(printers[0]->serialNumber() != printers[1]->serialNumber());
    Host kta(*bus_, printers[4]);
    QCOMPARE(kta.open(), kIOReturnSuccess);
    QCOMPARE(kta.ask(kStatus), QStringLiteral("01000"));
  }
};

QTEST_GUILESS_MAIN(VirtualPrinterTest)
#include "virtual_printer_unittest.moc"
