// Responsiveness: the longest time the main thread stays busy without returning to its event loop
// during a whole firmware update of a demo-mode printer (the application's controller, window and
// demo bus; the questions answered "agree" and "proceed" at once). A 2 ms watchdog timer on the
// main thread measures its own lateness: the largest lateness is the longest busy stretch. The
// scheduler's statistics of the main thread tell how much of a stretch it ran, and how much it
// waited for a CPU that other processes held (on a loaded machine, most of it).
// Each run is a fresh process (`bench_responsiveness --once`); the median of the runs is printed.

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "app/DemoMode.h"
#include "app/MainWindow.h"
#include "app/NotificationPort.h"
#include "app/TBPrinters.h"
#include "bench/BenchRig.h"
#include "bench/BenchSupport.h"
#include "support/AlertPresenter.h"
#include "support/SerialQueue.h"

namespace {

constexpr int kWatchdogMs = 2;
constexpr double kGoalMs = 50;
const QString kSpec = QStringLiteral("PZA:fw=01.00");  // older than the shipped archive
const QString kWarningTitle = QStringLiteral("Attention:");
const QString kSuccessTitle = QStringLiteral("Firmware update was successful!");

// Answers every question at once the way a user who wants the update does.
class EagerUser final : public pm::AlertPresenter, public pm::ApplicationControl {
 public:
  void present(const pm::AlertRequest& request,
               std::function<void(const pm::AlertAnswer&)> completion) override {
    titles << request.title;
    pm::AlertAnswer answer;
    if (request.buttons.size() > 1) answer.returnCode = 1001;  // "Proceed" / "Update"
    answer.agreed = request.agreeCheckBox;
    if (completion) QTimer::singleShot(0, [completion, answer] { completion(answer); });
  }
  void terminate() override {}
  QStringList titles;
};

struct Schedule {
  int64_t runNs = 0;     // on a CPU
  int64_t queuedNs = 0;  // runnable, waiting for a CPU
};

Schedule schedule() {
  Schedule result;
  if (FILE* file = std::fopen("/proc/thread-self/schedstat", "r")) {
    long long run = 0, queued = 0;
    if (std::fscanf(file, "%lld %lld", &run, &queued) == 2) result = {run, queued};
    std::fclose(file);
  }
  return result;
}

int runOnce() {
  TBPrinters controller([] { return pm::DemoMode::makeRegistry(kSpec); });
  MainWindow window(&controller, kSpec);
  EagerUser user;
  pm::setAlertPresenter(&user);
  pm::setApplicationControl(&user);
  controller.awakeFromNib();
  QCoreApplication::sendPostedEvents();
  window.applicationDidFinishLaunching();
  window.show();
  auto ready = [&] {
    return controller.count() == 1 && !controller.printerAt(0)->firmwareVersion().isEmpty();
  };
  if (!bench::BenchRig::waitFor(ready, 20000)) qFatal("the demo printer was not probed");
  bench::BenchRig::waitFor([] { return false; }, 300);  // the attach-time reads settle

  // Where the worst stretch went: the main thread's own CPU time and its time waiting for a CPU
  // (the scheduler's statistics); the rest it slept, that is it waited for something.
  QElapsedTimer clock;
  qint64 last = 0, worst = 0, worstOwn = 0;  // worstOwn: less the time spent waiting for a CPU
  Schedule lastSchedule = schedule(), worstSchedule;
  QTimer watchdog;
  watchdog.setTimerType(Qt::PreciseTimer);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    const Schedule current = schedule();
    if (now - last - kWatchdogMs * 1000000LL > worst) {
      worst = now - last - kWatchdogMs * 1000000LL;
      worstSchedule = {current.runNs - lastSchedule.runNs, current.queuedNs - lastSchedule.queuedNs};
    }
    worstOwn =
        std::max(worstOwn, now - last - kWatchdogMs * 1000000LL - (current.queuedNs - lastSchedule.queuedNs));
    last = now;
    lastSchedule = current;
  });
  clock.start();
  watchdog.start(kWatchdogMs);
  controller.printerAt(0)->update().updateFirmware();
  if (!bench::BenchRig::waitFor([&] { return user.titles.contains(kSuccessTitle); }, 90000))
    qFatal("the update did not succeed: %s", qPrintable(user.titles.join(QStringLiteral(" | "))));
  watchdog.stop();
  std::printf("%.3f %.1f %.3f %.3f %.3f\n", worst / 1e6, clock.elapsed() / 1000.0, worstSchedule.runNs / 1e6,
              worstSchedule.queuedNs / 1e6, worstOwn / 1e6);
  std::fflush(stdout);
  std::_Exit(0);  // the figure is out; the shut-down is not measured
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && qstrcmp(argv[1], "--once") == 0) {
    QApplication app(argc, argv);
    bench::redirectStandardErrorTo(bench::scratchDirectory() + QStringLiteral("/responsiveness.log"));
    return runOnce();
  }
  QCoreApplication app(argc, argv);
  std::vector<double> runs, durations, owns;
  QStringList stretches;
  const double worst = bench::medianOfRuns(
      [&] {
        const bench::ChildRun run =
            bench::runChild({QCoreApplication::applicationFilePath(), QStringLiteral("--once")});
        const QList<QByteArray> fields = run.output.trimmed().split(' ');
        if (run.exitStatus != 0 || fields.size() != 5)
          qFatal("a run failed (%d): %s", run.exitStatus, run.output.constData());
        durations.push_back(fields[1].toDouble());
        owns.push_back(fields[4].toDouble());
        stretches << QStringLiteral("%1 ms: %2 on CPU, %3 waiting for a CPU")
                         .arg(fields[0].toDouble(), 0, 'f', 1)
                         .arg(fields[2].toDouble(), 0, 'f', 1)
                         .arg(fields[3].toDouble(), 0, 'f', 1);
        return fields[0].toDouble();
      },
      &runs);
  bench::printRow(
      QStringLiteral("Responsiveness: longest main-thread busy stretch, demo-mode firmware update"),
      QStringLiteral("%1 ms (%2 ms less the waits for a CPU)")
          .arg(worst, 0, 'f', 1)
          .arg(bench::median(owns), 0, 'f', 1),
      QStringLiteral("< %1 ms").arg(kGoalMs), worst < kGoalMs,
      QStringLiteral("runs: %1; update took %2 s")
          .arg(stretches.join(QStringLiteral("; ")), bench::listOf(durations, 1)));
  return 0;
}
