// The command-line program on many printers at once (usage: bench_cli <printer-maintenance-cli>),
// whole processes in demo mode:
//  - update: `update --all --yes --json` of 16 printers on older firmware against 1; each printer
//    restarts twice (demo restarts of 2.5 s, as people see them), so the parallel updates share
//    the restarts' waits and the uploads' CPU;
//  - list: `list --json` with 16 printers against 1.
// Each run has a fresh state directory, so no update is left over from the one before.

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "bench/BenchSupport.h"

namespace {

QString printers(int count) {
  QStringList spec;
  for (int i = 0; i < count; ++i) spec.append(QStringLiteral("PZA:fw=01.00"));
  return spec.join(QLatin1Char(','));
}

// Seconds of one run; `ok` false when its output is not what the command promises.
double timedRun(const QString& cli, const QStringList& arguments, int count, int run, bool* ok) {
  const QString state = bench::scratchDirectory() +
                        QStringLiteral("/cli-state-%1-%2-%3").arg(arguments.first()).arg(count).arg(run);
  QDir(state).removeRecursively();
  const bench::ChildRun child = bench::runChild(
      QStringList{cli} + arguments, {QStringLiteral("PRINTER_MAINTENANCE_SIMULATE=") + printers(count),
                                     QStringLiteral("XDG_STATE_HOME=") + state});
  int successes = 0;
  if (arguments.first() == QLatin1String("list")) {
    successes = static_cast<int>(
        QJsonDocument::fromJson(child.output).object().value(QStringLiteral("printers")).toArray().size());
  } else {
    for (const QByteArray& line : child.output.split('\n'))
      if (QJsonDocument::fromJson(line).object().value(QStringLiteral("result")) == QLatin1String("updated"))
        ++successes;
  }
  if (child.exitStatus != 0 || successes != count) *ok = false;
  return child.seconds;
}

void compare(const QString& cli, const QStringList& arguments, const QString& what) {
  bool ok = true;
  int run = 0;
  std::vector<double> one;
  std::vector<double> sixteen;
  const double t1 = bench::medianOfRuns([&] { return timedRun(cli, arguments, 1, ++run, &ok); }, &one);
  const double t16 = bench::medianOfRuns([&] { return timedRun(cli, arguments, 16, ++run, &ok); }, &sixteen);
  const double ratio = t16 / t1;
  bench::printRow(
      what,
      QStringLiteral("1: %1 s; 16: %2 s (× %3)").arg(t1, 0, 'f', 2).arg(t16, 0, 'f', 2).arg(ratio, 0, 'f', 2),
      QStringLiteral("16 ≤ 1.25 × 1"), ok && ratio <= 1.25,
      QStringLiteral("runs 1: %1 s; 16: %2 s%3")
          .arg(bench::listOf(one, 2), bench::listOf(sixteen, 2),
               ok ? QString() : QStringLiteral("; a run did not end in success for every printer")));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) qFatal("usage: bench_cli <printer-maintenance-cli>");
  const QString cli = QString::fromLocal8Bit(argv[1]);
  compare(
      cli,
      {QStringLiteral("update"), QStringLiteral("--all"), QStringLiteral("--yes"), QStringLiteral("--json")},
      QStringLiteral("Command line: `update --all` whole demo-mode update, 16 printers against 1"));
  compare(cli, {QStringLiteral("list"), QStringLiteral("--json")},
          QStringLiteral("Command line: `list --json`, 16 printers against 1"));
  return 0;
}
