// The virtual printer driven the way a host drives a real one: raw command frames written to the
// bulk-out pipe of a virtual USB bus, replies read from the bulk-in pipe.

#include <QtTest>

#include "olm/update/FirmwareArchive.h"
#include "sim/DemoPrinters.h"
#include "sim/VirtualPrinter.h"
#include "support/BlockingCalls.h"
#include "tests/common/TestFiles.h"
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

// The host side: an open interface on the printer's current service.
class Host {
 public:
  Host(VirtualUsbBus& bus, const std::shared_ptr<VirtualPrinter>& printer) {
    interface_ = bus.createInterface(printer->device()->service(), nullptr);
    if (interface_) interface_->openSeize();
  }
  IOReturn write(const QByteArray& bytes) {
    return interface_->writePipe(1, bytes.constData(), uint32_t(bytes.size()), kTimeoutMs, kTimeoutMs);
  }
  QByteArray read(uint32_t size) {
    QByteArray buffer(qsizetype(size), '\0');
    if (interface_->readPipe(2, buffer.data(), &size, kTimeoutMs, kTimeoutMs) != kIOReturnSuccess)
      return "<none>";
    buffer.resize(size);
    return buffer;
  }
  // One exchange: the reply's text before its CR, or "<none>".
  QString ask(const QByteArray& command) {
    if (write(command) != kIOReturnSuccess) return QStringLiteral("<none>");
    const QByteArray header = read(8);
    if (header == "<none>") return QStringLiteral("<none>");
    const QByteArray body = read(header.toUInt());
    return body.endsWith('\r') ? QString::fromLatin1(body.chopped(1)) : QStringLiteral("<bad body>");
  }

 private:
  std::shared_ptr<usb::UsbInterface> interface_;
};

const QByteArray kStatus = frame("STATUS");
const QByteArray kFver = frame("INFO  FVER");

}  // namespace

class VirtualPrinterTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<VirtualUsbBus> bus_;

 private slots:
  // The backend alone, driven from the test thread: no application whose window could freeze.
  void initTestCase() { pm::allowBlockingCallsOnMainThread(); }

  void init() {
    bus_ = std::make_unique<VirtualUsbBus>();
    bus_->setTimeScale(0.001);  // a 5000 ms time-out takes 5 ms
  }
  void cleanup() { bus_.reset(); }

  // Colour tables (CRC-16/CCITT of "123456789" is 29B1), then the firmware loader.
  void colorTablesAndTheLoader() {
    const auto printer = VirtualPrinter::attach(*bus_, {.model = Model::PZA});
    Host host(*bus_, printer);  // a failed open would make every answer "<none>"
    host.write(frame("TBL_CL"));
    QCOMPARE(host.ask(frame("TBL_RDCWD300_Checksum", "0001")), QStringLiteral("0000"));
    host.write(frame("TBL_WTVersion", QByteArray("PZA_SD_300_0100.CWD\0", 20)));
    host.write(frame("TBL_WTCTRLD_UPDATE_CW", "123456789"));
    QCOMPARE(host.ask(frame("TBL_RDCWD300_Checksum", "0001")), QStringLiteral("29B1"));
    // A name without its padding is refused, and so is the data that follows it.
    host.write(frame("TBL_WTVersion", "PZA_PD_300_0100.CWD"));
    host.write(frame("TBL_WTCTRLD_UPDATE_CW", "data"));
    QCOMPARE(host.ask(frame("TBL_RDCWD300_Version", "0002")), QStringLiteral("0000"));
    QVERIFY(!printer->lastTableProblem().isEmpty());

    // The combined family reports its 300 table's version and one checksum over the set.
    Host kta(*bus_, VirtualPrinter::attach(*bus_, {.model = Model::KTA}));
    for (const QByteArray& command :
         {frame("TBL_CL"), frame("TBL_WTVersion", "KTA_300_0161.CWD"),
          frame("TBL_WTCTRLD_UPDATE_CW", "12345"), frame("TBL_WTVersion", "KTA_600_0160.CWD"),
          frame("TBL_WTCTRLD_UPDATE_CW", "6789")})
      QCOMPARE(kta.write(command), kIOReturnSuccess);
    QCOMPARE(kta.ask(frame("TBL_RDVersion")), QStringLiteral("0161"));
    QCOMPARE(kta.ask(frame("MNT_RDCTRLD_CHKSUM")), QStringLiteral("29B1"));

    // The loader refuses every image that is not whole, sound and for this model, and stays (that
    // it takes a sound one and restarts, and what the printer says after it: the update test's; that
    // it refuses a record with a bad checksum: the S-record fuzzer's seeds).
    const usb::ServiceHandle before = printer->device()->service();
    QCOMPARE(host.write(frame("FW_UPDFLASH_REWRITE")), kIOReturnSuccess);
    // Back as another service.
    QVERIFY(QTest::qWaitFor(
        [&] { return printer->device()->isAttached() && !(printer->device()->service() == before); }));
    Host loader(*bus_, printer);

    // The shipped images: the PZA's, whole and padded (it ends in its S7 record), and another model's.
    const auto shipped = [](const char* name) {
      return readFile(pm::FirmwareArchive::resourcePathForArchiveFile(QLatin1String(name)));
    };
    const QByteArray good = shipped("PZA 01.10.fw");
    QVERIFY(good.size() % 4 == 0 && good.lastIndexOf("S7") > 0);  // so that each case below has one fault
    QByteArray shortLength = frame("FW_UPDFLASH_PROGRAM", good);
    shortLength.replace(24, 8, digits8(good.size() - 8));  // cuts into the last record
    const QByteArray bad[] = {
        frame("FW_UPDFLASH_PROGRAM", good.chopped(1)),
        frame("FW_UPDFLASH_PROGRAM", pm::FirmwareArchive::paddedData(good.left(good.lastIndexOf("S7")))),
        frame("FW_UPDFLASH_PROGRAM", shipped("KTD 01.21.fw")), shortLength};
    for (const QByteArray& image : bad) {
      QCOMPARE(loader.write(image), kIOReturnSuccess);
      QVERIFY2(printer->inUpdateMode(), qPrintable(printer->lastImageProblem()));
      QVERIFY(!printer->lastImageProblem().isEmpty());
      QCOMPARE(loader.ask(kStatus), QStringLiteral("FU00001"));
    }
  }

  void demoPrinters() {
    const auto printers =
        attachDemoPrinters(
            *bus_,
            "PZA, PZA:busy,KTC:fw=04.20,KTD:serial=123:latency=2,XYZ,KTA:bogus:status=01000,PZA:late=FVER")
            .printers;
    // (A busy one refuses the update, and two of a model get their own serial numbers: the
    // command-line update's "busy" and "only the named one" rows.)
    QCOMPARE(printers.size(), size_t{6});
    QCOMPARE(Host(*bus_, printers[4]).ask(kStatus), QStringLiteral("01000"));

    // A late reply comes after its read gave up and waits in the pipe, as on hardware: what the
    // host leaves unread answers its next read, whatever it sent meanwhile.
    Host late(*bus_, printers[5]);
    QCOMPARE(late.ask(kFver), QStringLiteral("<none>"));
    QCOMPARE(late.ask(kStatus), printers[5]->firmwareVersion());
    QCOMPARE(late.ask(kStatus), QStringLiteral("00000"));
  }
};

QTEST_GUILESS_MAIN(VirtualPrinterTest)
#include "virtual_printer_unittest.moc"
