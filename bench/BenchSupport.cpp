#include "bench/BenchSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <QDir>
#include <QTextStream>

extern char** environ;

namespace bench {

double secondsOf(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double medianOfRuns(const std::function<double()>& run, std::vector<double>* all) {
  std::vector<double> values;
  for (int i = 0; i < kRuns; ++i) values.push_back(run());
  if (all) *all = values;
  return median(values);
}

QString listOf(const std::vector<double>& values, int precision) {
  QStringList parts;
  for (double v : values) parts << QString::number(v, 'f', precision);
  return parts.join(QStringLiteral(" / "));
}

void printRow(const QString& measurement, const QString& figure, const QString& goal, bool met,
              const QString& note) {
  QTextStream out(stdout);
  out << "| " << measurement << " | " << figure << " | " << goal << " | " << (met ? "met" : "**missed**")
      << " | " << note << " |\n";
  out.flush();
}

void redirectStandardErrorTo(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ::dup2(fd, STDERR_FILENO);
  ::close(fd);
}

double processCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int64_t monotonicMicros() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

QString scratchDirectory() {
  QString dir = qEnvironmentVariable("BENCH_TMP");
  if (dir.isEmpty()) dir = QStringLiteral("/tmp/pm-bench");
  QDir().mkpath(dir);
  return dir;
}

ChildRun runChild(const QStringList& argv, const QStringList& extraEnvironment,
                  const QString& standardOutputFile) {
  std::vector<QByteArray> args;
  for (const QString& a : argv) args.push_back(QFile::encodeName(a));
  std::vector<char*> argp;
  for (QByteArray& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);
  std::vector<QByteArray> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (const QString& e : extraEnvironment) env.push_back(e.toLocal8Bit());
  std::vector<char*> envp;
  for (QByteArray& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int pipeFds[2];
  ChildRun run;
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (standardOutputFile.isEmpty()) {
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO,
                                     QFile::encodeName(standardOutputFile).constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  run.startMicros = monotonicMicros();
  const auto start = Clock::now();
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (rc != 0) {
    ::close(pipeFds[0]);
    return run;
  }
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
    if (run.outputAtSeconds < 0)
      run.outputAtSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.output.append(buffer, n);
  }
  ::close(pipeFds[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.maxRssKiB = usage.ru_maxrss;
  return run;
}

}  // namespace bench
