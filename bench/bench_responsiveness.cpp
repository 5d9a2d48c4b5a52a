// Responsiveness: the longest time the main thread stays busy without returning to its event loop
// during a whole firmware update of a demo-mode printer (the application's controller, window and
// demo bus; the questions answered "agree" and "proceed" at once). A 2 ms watchdog timer on the
// main thread measures its own lateness: the largest lateness is the longest busy stretch.
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
#include "usb/SerialQueue.h"
#include "vendor/AlertPresenter.h"

namespace {

constexpr int kWatchdogMs = 2;
constexpr double kGoalMs = 50;
const QString kSpec = QStringLiteral("PZA:fw=01.00");  // older than the shipped archive
const QString kWarningTitle = QStringLiteral("Attention:");
const QString kSuccessTitle = QStringLiteral("Firmware update was successful!");

// Answers every question at once the way a user who wants the update does.
class EagerUser final : public pm::AlertPresenter, public pm::ApplicationControl {
 public:
  void present(const pm::AlertRequest& request, std::function<void(const pm::AlertAnswer&)> completion) override {
    titles << request.title;
    pm::AlertAnswer answer;
    if (request.buttons.size() > 1) answer.returnCode = 1001;  // "Proceed" / "Update"
    answer.agreed = request.agreeCheckBox;
    if (completion) QTimer::singleShot(0, [completion, answer] { completion(answer); });
  }
  void terminate() override {}
  QStringList titles;
};

int runOnce() {
  pm::NotificationPort::setFactory([] { return pm::DemoMode::makeRegistry(kSpec); });
  TBPrinters controller;
  MainWindow window(&controller, kSpec);
  EagerUser user;
  pm::setAlertPresenter(&user);
  pm::setApplicationControl(&user);
  controller.awakeFromNib();
  QCoreApplication::sendPostedEvents();
  window.applicationDidFinishLaunching();
  window.show();
  auto ready = [&] { return controller.count() == 1 && !controller.printerAt(0)->firmwareVersion().isEmpty(); };
  if (!bench::BenchRig::waitFor(ready, 20000)) qFatal("the demo printer was not probed");
  bench::BenchRig::waitFor([] { return false; }, 300);  // the attach-time reads settle

  QElapsedTimer clock;
  qint64 last = 0, worst = 0;
  QTimer watchdog;
  watchdog.setTimerType(Qt::PreciseTimer);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    worst = std::max(worst, now - last - kWatchdogMs * 1000000LL);
    last = now;
  });
  clock.start();
  watchdog.start(kWatchdogMs);
  controller.printerAt(0)->updateFirmware();
  if (!bench::BenchRig::waitFor([&] { return user.titles.contains(kSuccessTitle); }, 90000))
    qFatal("the update did not succeed: %s", qPrintable(user.titles.join(QStringLiteral(" | "))));
  watchdog.stop();
  std::printf("%.3f %.1f\n", worst / 1e6, clock.elapsed() / 1000.0);
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
  std::vector<double> runs, durations;
  const double worst = bench::medianOfRuns([&] {
    const bench::ChildRun run = bench::runChild({QCoreApplication::applicationFilePath(), QStringLiteral("--once")});
    const QList<QByteArray> fields = run.output.trimmed().split(' ');
    if (run.exitStatus != 0 || fields.size() != 2) qFatal("a run failed (%d): %s", run.exitStatus, run.output.constData());
    durations.push_back(fields[1].toDouble());
    return fields[0].toDouble();
  }, &runs);
  bench::printRow(QStringLiteral("Responsiveness: longest main-thread busy stretch, demo-mode firmware update"),
                  QStringLiteral("%1 ms").arg(worst, 0, 'f', 1), QStringLiteral("< %1 ms").arg(kGoalMs), worst < kGoalMs,
                  QStringLiteral("runs: %1 ms; update took %2 s").arg(bench::listOf(runs, 1), bench::listOf(durations, 1)));
  return 0;
}
