// Parallel printers: the time from attaching N virtual printers (each reply 2 ms late) until every
// one is fully probed, that is every property of the attach sequence is stored in its device
// information, for N = 1 and N = 16, measured in the same run. Then the same with printers whose
// firmware-version replies come after the host's 5 s time-out (real time): the queues wait in
// parallel, and every value after the late one must still be the printer's own. Last, one
// printer whose every reply comes late.

#include <atomic>

#include <QCoreApplication>

#include "bench/BenchRig.h"
#include "bench/BenchSupport.h"
#include "support/MainQueue.h"

namespace {

constexpr uint32_t kReplyLatencyMs = 2;
constexpr int kMany = 16;
constexpr double kGoalRatio = 1.25;

struct ProbeRun {
  double seconds = 0;
  int minKeys = 0;  // the fewest device-information entries any printer had at the end
  int wrong = 0;    // printers with a value that is not theirs (a shifted reply)
};

// The values after the firmware version, as the virtual printer's defaults give them.
bool valuesAreRight(const TBUSBPrinterOLM& printer, const QString& serial) {
  return printer.properties().lifetimeCounter() == QLatin1String("1234") &&
         printer.printerSerialNumber() == serial &&
         printer.properties().usbISerialString() == QLatin1String("Enabled");
}

ProbeRun probeAll(int count, const QString& late = {}) {
  bench::BenchRig rig(/*probeNewPrinters=*/true);
  auto probed = [&rig, count] {
    if (int(rig.printers().size()) < count) return false;
    for (const auto& printer : rig.printers())
      if (!bench::BenchRig::isProbed(*printer)) return false;
    return true;
  };
  ProbeRun run;
  run.seconds = bench::secondsOf([&] {
    for (int i = 0; i < count; ++i) {
      sim::VirtualPrinterConfig config;
      config.serialNumber = QStringLiteral("BENCH%1").arg(i, 4, 10, QLatin1Char('0'));
      config.latencyMs = kReplyLatencyMs;
      config.lateReplies = late;
      rig.attach(config);
    }
    if (!bench::BenchRig::waitFor(probed, 60000)) qFatal("the printers were not probed in 60 s");
  });
  run.minKeys = INT_MAX;
  for (const auto& printer : rig.printers()) {
    bench::BenchRig::waitUntilIdle(printer);
    run.minKeys = std::min(run.minKeys, int(printer->deviceInfoDict()->snapshot().size()));
    if (!valuesAreRight(*printer, printer->serialNumberUSB())) ++run.wrong;
  }
  return run;
}

void measure(const QString& what, const QString& late) {
  std::vector<double> ones, manys;
  int keysOne = 0, keysMany = 0, wrong = 0;
  for (int i = 0; i < bench::kRuns; ++i) {
    const ProbeRun one = probeAll(1, late);
    const ProbeRun many = probeAll(kMany, late);
    ones.push_back(one.seconds * 1000);
    manys.push_back(many.seconds * 1000);
    keysOne = one.minKeys;
    keysMany = many.minKeys;
    wrong += one.wrong + many.wrong;
  }
  const double one = bench::median(ones), many = bench::median(manys);
  const double ratio = many / one;
  bench::printRow(what,
                  QStringLiteral("1: %1 ms; %2: %3 ms (× %4); printers with a wrong value: %5")
                      .arg(one, 0, 'f', 1)
                      .arg(kMany)
                      .arg(many, 0, 'f', 1)
                      .arg(ratio, 0, 'f', 2)
                      .arg(wrong),
                  QStringLiteral("%1 ≤ %2 × 1, none wrong").arg(kMany).arg(kGoalRatio),
                  ratio <= kGoalRatio && wrong == 0,
                  QStringLiteral("runs 1: %1 ms; %2: %3 ms; entries stored per printer: %4 (1), %5 (%2)")
                      .arg(bench::listOf(ones, 1))
                      .arg(kMany)
                      .arg(bench::listOf(manys, 1))
                      .arg(keysOne)
                      .arg(keysMany));
}

// One printer whose every reply comes 1 ms after its read's 5 s time-out: each exchange waits out
// its time-out, and the next command waits for the late reply and drops it. Time-outs scaled to
// kLateScale real per device millisecond; the figure is the time from attach to the end of the
// attach sequence against the time-outs it must wait (one per command), and no value may be
// another command's reply.
void measureEveryReplyLate() {
  constexpr double kLateScale = 0.02;  // a 5 s time-out takes 100 ms
  std::vector<double> ratios, times;
  int wrong = 0;
  int exchanges = 0;
  for (int i = 0; i < bench::kRuns; ++i) {
    bench::BenchRig rig(/*probeNewPrinters=*/true, kLateScale);
    sim::VirtualPrinterConfig config;
    config.serialNumber = QStringLiteral("LATE0001");
    config.lateReplies = QStringLiteral("*");
    const auto start = bench::Clock::now();
    const auto device = rig.attach(config);
    if (!bench::BenchRig::waitFor([&] { return !rig.printers().empty(); })) qFatal("no printer arrived");
    const auto printer = rig.printers().front();
    // The attach sequence has ended once a marker passed the queue after its last command.
    for (int round = 0; round < 4; ++round) {
      auto done = std::make_shared<std::atomic<bool>>(false);
      printer->printerCommandQueue()->async(
          [done] { pm::performAsyncOnMainQueue([done] { *done = true; }); });
      if (!bench::BenchRig::waitFor([done] { return done->load(); }, 60000)) qFatal("the attach did not end");
    }
    const double seconds = std::chrono::duration<double>(bench::Clock::now() - start).count();
    exchanges = int(device->frames().size());
    const double mustWait = exchanges * TBUSBPrinter::kBulkTimeoutMs * kLateScale / 1000;
    times.push_back(seconds * 1000);
    ratios.push_back(seconds / mustWait);
    const auto ownOrNone = [](const QString& value, const QString& own) {
      return value == own || value.isEmpty() || value == TBUSBPrinterOLM::kNotReadText;
    };
    if (!ownOrNone(printer->firmwareVersion(), device->firmwareVersion()) ||
        !ownOrNone(printer->properties().lifetimeCounter(), QStringLiteral("1234")) ||
        !ownOrNone(printer->printerSerialNumber(), QStringLiteral("LATE0001")) ||
        !ownOrNone(printer->deviceInfoDict()->string(QStringLiteral("ZOVRAN_OLM_USB_ISerialisSet")),
                   QStringLiteral("1")))
      ++wrong;
  }
  const double ratio = bench::median(ratios);
  bench::printRow(
      QStringLiteral(
          "Late printer: attach to end of its attach sequence, every reply 1 ms after its 5 s time-out"),
      QStringLiteral("%1 × the %2 time-outs it must wait; printers with a wrong value: %3")
          .arg(ratio, 0, 'f', 3)
          .arg(exchanges)
          .arg(wrong),
      QStringLiteral("≤ %1 ×, none wrong").arg(kGoalRatio), ratio <= kGoalRatio && wrong == 0,
      QStringLiteral("runs: %1 ms (time-outs scaled: 5 s = %2 ms); ratios %3")
          .arg(bench::listOf(times, 1))
          .arg(TBUSBPrinter::kBulkTimeoutMs * kLateScale, 0, 'f', 0)
          .arg(bench::listOf(ratios, 3)));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  bench::redirectStandardErrorTo(bench::scratchDirectory() + QStringLiteral("/probe.log"));

  probeAll(1);  // warm-up
  measure(
      QStringLiteral("Parallel printers: attach to fully probed, replies %1 ms late").arg(kReplyLatencyMs),
      {});
  measure(
      QStringLiteral(
          "Parallel printers: attach to fully probed, every firmware-version reply after the 5 s time-out"),
      QStringLiteral("FVER"));
  measureEveryReplyLate();
  return 0;
}
