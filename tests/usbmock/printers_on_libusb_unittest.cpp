// The application's controller and printer objects on the real libusb backend, against virtual
// printers shown to libusb as emulated kernel devices: the attach of a PZA, printers that answer
// badly never holding the main thread, and a whole firmware update across both restarts by the
// command-line program, a process of its own. Single faults (stalls, busy interfaces, unplugs,
// re-enumeration) are covered at the seam in usb_seam_unittest.

#include <QtTest>

#include <chrono>
#include <future>

#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

#include "olm/model/ModelTraits.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/FirmwareArchive.h"
#include "olm/update/PrinterLock.h"
#include "support/ToolProcess.h"
#include "tests/common/AppHarness.h"
#include "tests/usbmock/EmulatedUsbBus.h"
#include "usb/libusb/LibusbRegistry.h"

using usbmock::BulkInFraming;

namespace {

// What a printer object shows of itself, for comparing two of them.
QVariantMap factsOf(const TBUSBPrinterOLM& printer) {
  QVariantMap facts = printer.deviceInfoDict()->snapshot();
  facts[QStringLiteral("~vendorUSB")] = printer.vendorUSB();
  facts[QStringLiteral("~productUSB")] = printer.productUSB();
  facts[QStringLiteral("~serialNumberUSB")] = printer.serialNumberUSB();
  facts[QStringLiteral("~raw1284DeviceID")] = printer.raw1284DeviceID();
  facts[QStringLiteral("~idVendor")] = printer.idVendor();
  facts[QStringLiteral("~idProduct")] = printer.idProduct();
  facts[QStringLiteral("~state")] = qlonglong(printer.state());
  facts[QStringLiteral("~status")] = printer.status();
  return facts;
}

}  // namespace

class PrintersOnLibusbTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir settingsDir_;
  std::unique_ptr<usbmock::EmulatedUsbBus> bus_;
  std::unique_ptr<AppHarness> harness_;  // goes first: libusb stops before the emulated devices
  TBPrinters* controller_ = nullptr;

  TBPrinters& startOnLibusb() {
    harness_ = std::make_unique<AppHarness>(
        [] { return std::shared_ptr<usb::UsbRegistry>(usb::makeLibusbRegistry()); });
    controller_ = &harness_->start();
    return *controller_;
  }

  // Runs the command-line program to its end (within `boundMs`) while this thread's event loop
  // runs. It is spawned as the product spawns its tools (runTool, from a helper thread): QProcess's
  // clone shares this process's memory until exec, which leaves ThreadSanitizer blind to the main
  // thread from then on, so that it took the responders' reads of what the main thread made for
  // races. LD_PRELOAD and UMOCKDEV_DIR come from this process's environment; `environment` goes
  // over it.
  static pm::ToolResult runCli(const QStringList& arguments, const QByteArrayList& environment, int boundMs) {
    auto run = std::async(std::launch::async, [&] {
      return pm::runTool(QStringLiteral(PM_BINARY_DIR "/printer-maintenance-cli"), arguments, boundMs,
                         environment);
    });
    // runTool ends the child at its bound, so get() waits no longer than that in any case.
    const bool ended = QTest::qWaitFor(
        [&] { return run.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, boundMs + 5000);
    Q_UNUSED(ended);
    return run.get();
  }

  // The first listed printer once its firmware version is known and its queued work has run
  // (each hop of it within `hopMs`).
  TBPrinters::PrinterRef readyPrinter(int hopMs = 10000) {
    TBPrinters::PrinterRef printer;
    const bool ready = QTest::qWaitFor(
        [&] {
          printer = controller_->printerAt(0);
          return printer &&
                 printer->deviceInfoDict()->contains(QStringLiteral("firmwareVersion"));  // or unread
        },
        10000);
    const auto wait = [hopMs](const std::function<bool()>& condition, int) {
      return PrinterTestRig::waitFor(condition, hopMs);
    };
    if (!ready || !PrinterTestRig::settle(printer, 8, wait)) return nullptr;
    return printer;
  }

 private slots:
  void initTestCase() {
    QVERIFY2(usbmock::EmulatedUsbBus::preloadActive(),
             "start with LD_PRELOAD=libumockdev-preload.so.0 (ctest sets it up)");
    useTemporarySettings(settingsDir_);
  }

  void init() {
    QSettings().clear();
    bus_ = std::make_unique<usbmock::EmulatedUsbBus>();
  }

  void cleanup() {
    if (harness_) QVERIFY2(harness_->stop(), "a printer outlived its test");
    harness_.reset();
    bus_.reset();
  }

  void attachOfAPzaStoresEveryProperty_data() {
    QTest::addColumn<QString>("late");
    QTest::addColumn<sim::ReplyFault>("fault");
    QTest::newRow("prompt replies") << QString() << sim::ReplyFault::None;
    QTest::newRow("late firmware-version replies") << QStringLiteral("FVER") << sim::ReplyFault::None;
    QTest::newRow("replies split across reads") << QString() << sim::ReplyFault::SplitReply;
    QTest::newRow("bodies past their length") << QString() << sim::ReplyFault::LongBody;
    QTest::newRow("garbage between replies") << QString() << sim::ReplyFault::GarbageAfter;
  }

  // The same printer stores the same facts, and receives the same commands, through libusb as
  // through the virtual bus the rest of the suite uses. A reply that comes 1 ms after its read
  // gave up, while the next command goes out, costs its own value only (the next command waits
  // for it and drops it); a reply in two pieces, one whose body runs past its length, and bytes
  // between replies that are none cost nothing. The printer is given back: every claim, which
  // detaches the kernel's printer driver, is undone (GET_DEVICE_ID claims nothing), and a counter
  // reset, which leaves the interface open, within the idle bound.
  void attachOfAPzaStoresEveryProperty() {
    QFETCH(QString, late);
    QFETCH(sim::ReplyFault, fault);
    QVariantMap expectedFacts;
    QStringList expectedCommands;
    {
      AppHarness onVirtualBus;
      const auto device = onVirtualBus.attachPrinter(QStringLiteral("SIM0001"));
      controller_ = &onVirtualBus.start();
      {
        const auto printer = readyPrinter();
        QVERIFY(printer);
        expectedFacts = factsOf(*printer);
      }
      expectedCommands = commandsOf(device->frames());
    }
    if (!late.isEmpty()) expectedFacts[QStringLiteral("firmwareVersion")] = QVariant();

    sim::VirtualPrinterConfig config;  // a PZA, serial number SIM0001
    config.lateReplies = late;
    const auto device = bus_->attachPrinter(config);
    device->injectReplyFault(fault);
    startOnLibusb();
    const auto printer = readyPrinter(30000);  // each late reply holds its queue 5 s
    QVERIFY(printer);
    const QVariantMap facts = factsOf(*printer);
    for (auto it = expectedFacts.cbegin(); it != expectedFacts.cend(); ++it)
      QVERIFY2(facts.value(it.key()) == it.value(),
               qPrintable(it.key() + QLatin1String(": ") + facts.value(it.key()).toString()));
    QCOMPARE(facts.keys(), expectedFacts.keys());
    QCOMPARE(commandsOf(device->frames()), expectedCommands);
    QVERIFY(!device->device()->isOpen());
    QCOMPARE(bus_->driverRequestsOf(*device->device()), std::pair(2, 2));

    QElapsedTimer sinceReset;
    sinceReset.start();
    printer->properties().resetCounter('A');
    QVERIFY(QTest::qWaitFor([&] { return bus_->driverRequestsOf(*device->device()).second > 2; },
                            5000 * kSlowdown));
    QVERIFY2(sinceReset.elapsed() < printer->idleReleaseDelay() + 1000 * kSlowdown,
             qPrintable(QString::number(sinceReset.elapsed())));
    QCOMPARE(bus_->driverRequestsOf(*device->device()), std::pair(3, 3));
    // The driver comes back as the interface is let go, a moment before the printer says so.
    QTRY_VERIFY(!device->device()->isOpen() && printer->state() == TBUSBPrinterStateClosed);
  }

  // A printer whose node answers no request and whose claim fails, one without endpoints and
  // twelve deaf ones (the emulated root hub has fifteen ports): start-up returns at once, each is
  // listed once its identity reads (control requests that libusb ends at their time-outs) timed
  // out on its own queue, the failed open shows libusb's cause, and the main thread is never held
  // over 50 ms. (A held printer: the seam's EBUSY and printer_transport's busy text.)
  void printersThatAnswerBadlyNeverHoldTheMainThread() {
    using Access = AppHarness::Access;
    const auto add = [this, &pza = pm::modelTraits(pm::PrinterModel::PZA)](Access access) {
      return bus_->attachDevice(
          AppHarness::description(pza.vendorId, pza.productId, kUSBPrintingSubClass, access),
          AppHarness::script(access));
    };
    add(Access::Deaf)->setOpenResult(kIOReturnNotResponding);
    add(Access::NoEndpoints);
    for (int i = 0; i < 12; ++i) add(Access::Deaf);
    QTest::qWait(100);  // the emulated bus follows the virtual one through the event loop
    QElapsedTimer clock;
    clock.start();
    TBPrinters& controller = startOnLibusb();
    QVERIFY2(clock.elapsed() < 1000 * kSlowdown, qPrintable(QString::number(clock.elapsed())));
    // From here on (libusb's own start and enumeration are the empty case's cost too).
    const MainThreadWatch watch;
    QTRY_COMPARE_WITH_TIMEOUT(controller.count(), 14, 30000);
    // The kernel's EIO: libusb's OTHER.
    QTRY_VERIFY_WITH_TIMEOUT(std::ranges::any_of(controller.printers(),
                                                 [](const auto& printer) {
                                                   return printer->status().contains(
                                                       QLatin1String("kIOReturnError (LIBUSB_ERROR_"));
                                                 }),
                             5000 * kSlowdown);
    QVERIFY(harness_->stop());  // a transfer in flight still runs to its time-out here
    // The emulated kernel answers on threads of this very process, so its work competes with the
    // main thread as no kernel does: twice the bound here.
    QVERIFY2(watch.worstLatenessMs() <= 2 * MainThreadWatch::kBoundMs,
             qPrintable(QStringLiteral("main thread late by %1 ms").arg(watch.worstLatenessMs())));
  }

  // The whole update through libusb, by the real printer-maintenance-cli binary: umockdev serves
  // a child process started with its preload library and UMOCKDEV_DIR from this process's
  // responders, so the program finds the printer and updates it across both restarts exactly as
  // on a kiosk, with the window's controller and update code (the event loop runs meanwhile: the
  // emulated bus follows the restarts through it). First this process holds the printer's lock,
  // as another program would: the program lists the printer without a single frame to it and
  // refuses to update it ("busy", exit 1).
  void firmwareUpdateAcrossBothRestarts() {
    // Header and body in one packet, as most printers send them (the backend test has both
    // framings).
    const auto device = bus_->attachPrinter({}, BulkInFraming::WholePackets);
    const QStringList files =
        pm::FirmwareArchive::archiveForProductID(pm::modelTraits(pm::PrinterModel::PZA).productId)->fileNames;
    QTemporaryDir state;
    const QByteArrayList environment{
        "PRINTER_MAINTENANCE_SIMULATE=", "XDG_STATE_HOME=" + state.path().toUtf8(),
        "XDG_CONFIG_HOME=" + settingsDir_.path().toUtf8()};
    const QStringList update{QStringLiteral("update"), QStringLiteral("--printer"), QStringLiteral("SIM0001"),
                             QStringLiteral("--yes"), QStringLiteral("--json")};
    QVERIFY(!pm::PrinterLock::take(QStringLiteral("SIM0001")));
    const qsizetype framesBefore = device->frames().size();
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("list"), QStringLiteral("--json")}, update}) {
      const pm::ToolResult other = runCli(arguments, environment, 30000 * kSlowdown);
      QVERIFY2(other.standardOutput.contains(arguments == update ? "\"busy\"" : "another program"),
               other.standardOutput.constData());
      QCOMPARE(other.exitCode, arguments == update ? 1 : 0);
    }
    QCOMPARE(device->frames().size(), framesBefore);
    pm::PrinterLock::release(QStringLiteral("SIM0001"));
    const pm::ToolResult cli = runCli(update, environment, 60000 * kSlowdown);
    QVERIFY2(cli.succeeded(), cli.standardError.constData());
    QCOMPARE(device->firmwareVersion(), files.first().chopped(3));
    const QStringList commands = commandsOf(device->frames());
    QCOMPARE(commands.count(QStringLiteral("FW_UPDFLASH_REWRITE")), 1);
    QCOMPARE(commands.count(QStringLiteral("TBL_CL")), 1);
  }
};

QTEST_GUILESS_MAIN(PrintersOnLibusbTest)
#include "printers_on_libusb_unittest.moc"
