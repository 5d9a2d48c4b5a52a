// Exchange cost: "STATUS" exchanges through TBUSBPrinter::sendPrinterCommand with the reply
// delivered to the main queue, one after the other, on a zero-latency virtual printer. Logging is
// on as in the application (system log and standard error), standard error going to a file.
// Beside it, where umockdev is at hand, the same exchange through the libusb backend against the
// same printer shown as an emulated kernel device (a child process with umockdev's preload): no
// goal, a figure to watch (the emulated kernel runs on this process's own threads).

#include <atomic>
#include <cstdio>
#include <cstring>

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>

#include "bench/BenchRig.h"
#include "bench/BenchSupport.h"
#include "support/MainQueue.h"
#ifdef PM_BENCH_UMOCKDEV_PRELOAD
#include "tests/usbmock/EmulatedUsbBus.h"
#include "usb/libusb/LibusbRegistry.h"
#endif

namespace {

constexpr int kExchanges = 20000;
constexpr double kGoalMicros = 125;

// Runs `count` exchanges, each started when the previous reply reached the main queue; seconds.
double runExchanges(const std::shared_ptr<TBUSBPrinterOLM>& printer, int count) {
  QEventLoop loop;
  int left = count;
  int empty = 0;
  std::function<void()> next = [&] {
    printer->sendPrinterCommand([printer] { printer->sendPrinterCommand(pm::framing::Command::Status); },
                                nullptr,
                                [&](const QByteArray& reply) {
                                  if (reply.isEmpty()) ++empty;
                                  if (--left > 0) next();
                                  else loop.quit();
                                });
  };
  return bench::secondsOf([&] {
    next();
    loop.exec();
    if (empty) qFatal("%d exchanges had no reply", empty);
  });
}

#ifdef PM_BENCH_UMOCKDEV_PRELOAD
constexpr int kLibusbExchanges = 2000;
const char* const kLibusbArgument = "--libusb";

// In the child: the printer on libusb, the median µs per exchange on standard output.
int measureOnLibusb() {
  if (!usbmock::EmulatedUsbBus::preloadActive()) qFatal("umockdev's preload library is not loaded");
  TBUSBPrinter::clearDeviceInfoRegistry();
  usbmock::EmulatedUsbBus bus;
  bus.attachPrinter({});
  QCoreApplication::processEvents();  // the emulated bus follows the virtual one through the loop
  const std::unique_ptr<usb::UsbRegistry> registry = usb::makeLibusbRegistry();
  std::shared_ptr<TBUSBPrinterOLM> printer;
  registry->addInterfaceNotifications(
      [&](const usb::ServiceHandle& service) {
        if (auto interface = registry->createInterface(service, nullptr))
          printer = TBUSBPrinter::create<TBUSBPrinterOLM>(registry.get(), std::move(interface), service);
      },
      [](const usb::ServiceHandle&) {});
  if (!bench::BenchRig::waitFor([&] { return printer != nullptr; })) qFatal("no printer arrived on libusb");
  // Its first open-close cycle ends before the interface is opened for the exchanges.
  for (int round = 0; round < 4; ++round) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    printer->printerCommandQueue()->async([done] { pm::performAsyncOnMainQueue([done] { *done = true; }); });
    if (!bench::BenchRig::waitFor([done] { return done->load(); })) qFatal("the printer's queue did not run");
  }
  bool open = false;
  printer->openInterface([&open](IOReturn result) { open = result == kIOReturnSuccess; });
  if (!bench::BenchRig::waitFor([&] { return open; })) qFatal("the interface did not open");
  runExchanges(printer, 200);  // warm-up
  std::vector<double> runs;
  const double micros = bench::medianOfRuns(
      [&] { return runExchanges(printer, kLibusbExchanges) * 1e6 / kLibusbExchanges; }, &runs);
  std::printf("%.1f %s\n", micros, qPrintable(bench::listOf(runs, 1)));
  std::fflush(stdout);
  printer->prepareForRelease();
  std::weak_ptr<TBUSBPrinterOLM> leaving = printer;
  printer.reset();
  bench::BenchRig::waitFor([&] { return leaving.expired(); });
  registry->addInterfaceNotifications(nullptr, nullptr);
  return 0;
}

// In the parent: the child's figure and runs, or why there is none.
QString libusbFigure(const char* self) {
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(PM_BENCH_UMOCKDEV_PRELOAD));
  child.setProcessEnvironment(env);
  child.start(QString::fromLocal8Bit(self), {QString::fromLatin1(kLibusbArgument)});
  if (!child.waitForFinished(600000) || child.exitCode() != 0) return QStringLiteral("libusb: failed");
  const QStringList parts =
      QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
  if (parts.size() < 2) return QStringLiteral("libusb: no figure");
  return QStringLiteral("through libusb under umockdev (%1 exchanges): %2 µs/exchange, runs %3")
      .arg(kLibusbExchanges)
      .arg(parts[0], parts.mid(1).join(QLatin1Char(' ')));
}
#endif

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
#ifdef PM_BENCH_UMOCKDEV_PRELOAD
  if (argc > 1 && std::strcmp(argv[1], kLibusbArgument) == 0) {
    bench::redirectStandardErrorTo(bench::scratchDirectory() + QStringLiteral("/exchange-libusb.log"));
    return measureOnLibusb();
  }
#endif
  bench::redirectStandardErrorTo(bench::scratchDirectory() + QStringLiteral("/exchange.log"));

  bench::BenchRig rig(/*probeNewPrinters=*/false);
  auto device = rig.attach({});
  if (!bench::BenchRig::waitFor([&] { return !rig.printers().empty(); })) qFatal("no printer arrived");
  auto printer = rig.printers().front();
  if (!bench::BenchRig::waitUntilIdle(printer)) qFatal("the printer's attach sequence did not end");
  bool open = false;
  printer->openInterface([&open](IOReturn result) { open = result == kIOReturnSuccess; });
  if (!bench::BenchRig::waitFor([&] { return open; })) qFatal("the interface did not open");

  runExchanges(printer, 500);  // warm-up
  std::vector<double> runs, cpu;
  const double micros = bench::medianOfRuns(
      [&] {
        device->clearFrames();  // the virtual printer keeps every frame it received
        const double cpuBefore = bench::processCpuSeconds();
        const double seconds = runExchanges(printer, kExchanges);
        cpu.push_back((bench::processCpuSeconds() - cpuBefore) * 1e6 / kExchanges);
        return seconds * 1e6 / kExchanges;
      },
      &runs);
  QString libusb;
#ifdef PM_BENCH_UMOCKDEV_PRELOAD
  libusb = QStringLiteral("; ") + libusbFigure(argv[0]);
#endif
  bench::printRow(
      QStringLiteral("Exchange cost (%1 STATUS exchanges, reply on the main queue, logging to a file)")
          .arg(kExchanges),
      QStringLiteral("%1 µs/exchange").arg(micros, 0, 'f', 1), QStringLiteral("≤ %1 µs").arg(kGoalMicros),
      micros <= kGoalMicros,
      QStringLiteral("runs: %1 µs; CPU time of all threads: %2 µs/exchange%3")
          .arg(bench::listOf(runs, 1), bench::listOf(cpu, 1), libusb));
  return 0;
}
