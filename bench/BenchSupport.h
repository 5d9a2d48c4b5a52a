#pragma once
// Helpers shared by the benchmark programs: clocks, medians, child processes and the Markdown
// rows every program prints on standard output. Main thread only.

#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace bench {

constexpr int kRuns = 5;  // every figure is the median of this many runs

using Clock = std::chrono::steady_clock;

// Seconds `work` takes, once.
double secondsOf(const std::function<void()>& work);
// The median of `values` (the mean of the middle two for an even count).
double median(std::vector<double> values);
// Runs `run` kRuns times and returns the median of what it returns.
double medianOfRuns(const std::function<double()>& run, std::vector<double>* all = nullptr);
// "1.2 / 1.3 / 1.4 ..." for the detail column.
QString listOf(const std::vector<double>& values, int precision);

// One row of the results table: | measurement | figure | goal | verdict |.
void printRow(const QString& measurement, const QString& figure, const QString& goal, bool met,
              const QString& note = {});

// From here on, standard error (where the application logs) goes to `path`, appended.
void redirectStandardErrorTo(const QString& path);

// A child process run to its end: its wall-clock time (from just before the fork to its reaping),
// exit status, peak resident set (KiB) and standard output.
struct ChildRun {
  double seconds = 0;
  int exitStatus = -1;
  long maxRssKiB = 0;
  QByteArray output;
  double outputAtSeconds = -1;  // when the first line of standard output arrived
  int64_t startMicros = 0;      // monotonicMicros() just before the fork
};
ChildRun runChild(const QStringList& argv, const QStringList& extraEnvironment = {},
                  const QString& standardOutputFile = {});

// User and system CPU time of the whole process so far.
double processCpuSeconds();

// Monotonic time in microseconds, the same clock in every process of the machine.
int64_t monotonicMicros();

// The directory the benchmark's scratch files go to (BENCH_TMP, else /tmp/pm-bench).
QString scratchDirectory();

}  // namespace bench
