// Start-up and memory of the application itself (usage: bench_startup <printer-maintenance>), on
// the X display in DISPLAY (Xvfb in `make bench`):
//  - start-up: from just before the process is spawned to its main window's first exposure, as
//    the application reports it with PRINTER_MAINTENANCE_REPORT_SHOWN (app/StartupReport.h);
//  - start-up with 100 devices attached that answer no request (demo mode's "deaf" option),
//    against the empty case measured in the same run (goal: within 1.5 times);
//  - memory: the peak resident set of the whole process with 16 demo-mode printers attached,
//    probed and listed (the application quits three seconds after its window showed).

#include <QCoreApplication>

#include "bench/BenchSupport.h"

namespace {

constexpr double kGoalStartMs = 300;
constexpr double kGoalRssMB = 80;
constexpr int kPrinters = 16;
constexpr int kDeafDevices = 100;
constexpr double kGoalDeafRatio = 1.5;

bench::ChildRun runApplication(const QString& program, const QStringList& environment) {
  const bench::ChildRun run = bench::runChild({program}, environment);
  if (run.exitStatus != 0 || !run.output.startsWith("shown "))
    qFatal("the application failed (%d): %s", run.exitStatus, run.output.constData());
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) qFatal("usage: bench_startup <printer-maintenance>");
  const QString program = QString::fromLocal8Bit(argv[1]);
  const QStringList common{
      QStringLiteral("QT_QPA_PLATFORM=xcb"),
      QStringLiteral("XDG_CONFIG_HOME=") + bench::scratchDirectory() + QStringLiteral("/config")};

  runApplication(program,
                 common + QStringList{QStringLiteral("PRINTER_MAINTENANCE_REPORT_SHOWN=0")});  // warm-up
  std::vector<double> starts;
  const double start = bench::medianOfRuns(
      [&] {
        const bench::ChildRun run = runApplication(
            program, common + QStringList{QStringLiteral("PRINTER_MAINTENANCE_REPORT_SHOWN=0")});
        return (run.output.mid(6).trimmed().toLongLong() - run.startMicros) / 1000.0;
      },
      &starts);
  bench::printRow(QStringLiteral("Start-up: process start to first window shown (Xvfb, no printer)"),
                  QStringLiteral("%1 ms").arg(start, 0, 'f', 0), QStringLiteral("< %1 ms").arg(kGoalStartMs),
                  start < kGoalStartMs, QStringLiteral("runs: %1 ms").arg(bench::listOf(starts, 0)));

  QStringList deaf;
  for (int i = 0; i < kDeafDevices; ++i) deaf << QStringLiteral("PZA:deaf");
  std::vector<double> deafStarts;
  const double deafStart = bench::medianOfRuns(
      [&] {
        const bench::ChildRun run =
            runApplication(program, common + QStringList{QStringLiteral("PRINTER_MAINTENANCE_REPORT_SHOWN=0"),
                                                         QStringLiteral("PRINTER_MAINTENANCE_SIMULATE=") +
                                                             deaf.join(QLatin1Char(','))});
        return (run.output.mid(6).trimmed().toLongLong() - run.startMicros) / 1000.0;
      },
      &deafStarts);
  const double ratio = deafStart / start;
  bench::printRow(
      QStringLiteral("Start-up with %1 devices that answer nothing, against none").arg(kDeafDevices),
      QStringLiteral("%1 ms (%2 x)").arg(deafStart, 0, 'f', 0).arg(ratio, 0, 'f', 2),
      QStringLiteral("< %1 x").arg(kGoalDeafRatio), ratio < kGoalDeafRatio,
      QStringLiteral("runs: %1 ms").arg(bench::listOf(deafStarts, 0)));

  QStringList printers;
  for (int i = 0; i < kPrinters; ++i) printers << QStringLiteral("PZA");
  std::vector<double> peaks;
  const double peak = bench::medianOfRuns(
      [&] {
        const bench::ChildRun run = runApplication(
            program, common + QStringList{QStringLiteral("PRINTER_MAINTENANCE_REPORT_SHOWN=3000"),
                                          QStringLiteral("PRINTER_MAINTENANCE_SIMULATE=") +
                                              printers.join(QLatin1Char(','))});
        return run.maxRssKiB / 1024.0;
      },
      &peaks);
  bench::printRow(QStringLiteral("Memory: peak RSS with %1 demo-mode printers (Xvfb)").arg(kPrinters),
                  QStringLiteral("%1 MiB").arg(peak, 0, 'f', 1), QStringLiteral("< %1 MB").arg(kGoalRssMB),
                  peak * 1.048576 < kGoalRssMB, QStringLiteral("runs: %1 MiB").arg(bench::listOf(peaks, 1)));
  return 0;
}
