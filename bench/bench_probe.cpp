// Parallel printers: the time from attaching N virtual printers (each reply 2 ms late) until every
// one is fully probed, that is every property of the attach sequence is stored in its device
// information, for N = 1 and N = 16, measured in the same run.

#include <QCoreApplication>

#include "bench/BenchRig.h"
#include "bench/BenchSupport.h"

namespace {

constexpr uint32_t kReplyLatencyMs = 2;
constexpr int kMany = 16;
constexpr double kGoalRatio = 1.25;

struct ProbeRun {
  double seconds = 0;
  int minKeys = 0;  // the fewest device-information entries any printer had at the end
};

ProbeRun probeAll(int count) {
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
      rig.attach(config);
    }
    if (!bench::BenchRig::waitFor(probed, 30000)) qFatal("the printers were not probed in 30 s");
  });
  run.minKeys = INT_MAX;
  for (const auto& printer : rig.printers())
    run.minKeys = std::min(run.minKeys, int(printer->deviceInfoDict()->snapshot().size()));
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  bench::redirectStandardErrorTo(bench::scratchDirectory() + QStringLiteral("/probe.log"));

  probeAll(1);  // warm-up
  std::vector<double> ones, manys;
  int keysOne = 0, keysMany = 0;
  for (int i = 0; i < bench::kRuns; ++i) {
    const ProbeRun one = probeAll(1);
    const ProbeRun many = probeAll(kMany);
    ones.push_back(one.seconds * 1000);
    manys.push_back(many.seconds * 1000);
    keysOne = one.minKeys;
    keysMany = many.minKeys;
  }
  const double one = bench::median(ones), many = bench::median(manys);
  const double ratio = many / one;
  bench::printRow(QStringLiteral("Parallel printers: attach to fully probed, replies %1 ms late").arg(kReplyLatencyMs),
                  QStringLiteral("1: %1 ms; %2: %3 ms (× %4)")
                      .arg(one, 0, 'f', 1).arg(kMany).arg(many, 0, 'f', 1).arg(ratio, 0, 'f', 2),
                  QStringLiteral("%1 ≤ %2 × 1").arg(kMany).arg(kGoalRatio), ratio <= kGoalRatio,
                  QStringLiteral("runs 1: %1 ms; %2: %3 ms; entries stored per printer: %4 (1), %5 (%2)")
                      .arg(bench::listOf(ones, 1)).arg(kMany).arg(bench::listOf(manys, 1))
                      .arg(keysOne).arg(keysMany));
  return 0;
}
