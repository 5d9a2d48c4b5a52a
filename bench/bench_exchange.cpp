// Exchange cost: "STATUS" exchanges through TBUSBPrinter::sendPrinterCommand with the reply
// delivered to the main queue, one after the other, on a zero-latency virtual printer. Logging is
// on as in the application (system log and standard error), standard error going to a file.

#include <QCoreApplication>
#include <QEventLoop>

#include "bench/BenchRig.h"
#include "bench/BenchSupport.h"

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

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
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
  bench::printRow(
      QStringLiteral("Exchange cost (%1 STATUS exchanges, reply on the main queue, logging to a file)")
          .arg(kExchanges),
      QStringLiteral("%1 µs/exchange").arg(micros, 0, 'f', 1), QStringLiteral("≤ %1 µs").arg(kGoalMicros),
      micros <= kGoalMicros,
      QStringLiteral("runs: %1 µs; CPU time of all threads: %2 µs/exchange")
          .arg(bench::listOf(runs, 1), bench::listOf(cpu, 1)));
  return 0;
}
