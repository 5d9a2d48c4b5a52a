#include "support/SystemLog.h"

#include <errno.h>
#include <pthread.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include <QByteArray>

namespace pm {

namespace {

struct SystemLogState {
  std::mutex lock;
  bool opened = false;
  // Whether the system log's socket was there when last looked at, and when that was (seconds of
  // CLOCK_MONOTONIC). syslog(3) tries to connect on every line while the socket is missing (three
  // failing system calls a line) and then drops the line, so the lines are not handed to it then.
  bool socketPresent = false;
  int64_t socketCheckedAt = INT64_MIN;
  SystemLogSink sink = nullptr;
  void* sinkContext = nullptr;
};

SystemLogState& state() {
  static SystemLogState s;
  return s;
}

// The process id, read once and again in a forked child (getpid(2) is a system call).
std::atomic<pid_t> cachedPid{0};

pid_t processId() {
  pid_t pid = cachedPid.load(std::memory_order_relaxed);
  if (pid == 0) {
    static const int registered = ::pthread_atfork(nullptr, nullptr, [] { cachedPid.store(0); });
    Q_UNUSED(registered);
    pid = ::getpid();
    cachedPid.store(pid, std::memory_order_relaxed);
  }
  return pid;
}

pid_t threadId() {
  thread_local const pid_t tid = ::gettid();
  return tid;
}

// Standard error carries the same prefix NSLog gave it (local time, process, pid and thread),
// which syslog adds on its own side. The time is rendered with localtime_r, which reads the time
// zone once instead of checking the zone file on every line as QDateTime's local time does (the
// zone is still re-read whenever anything calls tzset, as Qt does for its own local times).
QByteArray standardErrorLine(const QByteArray& message) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  ::localtime_r(&now.tv_sec, &local);
  char prefix[96];
  const size_t dateLength = std::strftime(prefix, sizeof prefix, "%Y-%m-%d %H:%M:%S", &local);
  const int rest = std::snprintf(prefix + dateLength, sizeof prefix - dateLength, ".%03d %s[%lld:%lld] ",
                                 static_cast<int>(now.tv_nsec / 1000000), program_invocation_short_name,
                                 static_cast<long long>(processId()), static_cast<long long>(threadId()));
  QByteArray line;
  line.reserve(qsizetype(dateLength) + rest + message.size() + 1);
  line.append(prefix, qsizetype(dateLength) + std::min<qsizetype>(rest, sizeof prefix - dateLength - 1));
  line += message;
  line += '\n';
  return line;
}

// Whether to hand a line to syslog(3): the socket is looked for at most once a second.
bool systemLogSocketPresent(SystemLogState& s) {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  if (now.tv_sec != s.socketCheckedAt) {
    struct stat info{};
    s.socketPresent = ::stat("/dev/log", &info) == 0 && S_ISSOCK(info.st_mode);
    s.socketCheckedAt = now.tv_sec;
  }
  return s.socketPresent;
}

}  // namespace

void writeToStandardError(const QByteArray& bytes) {
  const char* p = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, p, static_cast<size_t>(left));
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += n;
    left -= n;
  }
}

void systemLog(const QString& line) {
  QString text = line;
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  const QByteArray utf8 = text.toUtf8();

  SystemLogState& s = state();
  const std::lock_guard<std::mutex> guard(s.lock);
  if (systemLogSocketPresent(s)) {
    if (!s.opened) {
      // openlog keeps the pointer; program_invocation_short_name lives as long as the process.
      ::openlog(program_invocation_short_name, LOG_PID, LOG_USER);
      s.opened = true;
    }
    ::syslog(LOG_USER | LOG_INFO, "%s", utf8.constData());
  }
  writeToStandardError(standardErrorLine(utf8));
  // The sink runs under the lock so that, once setSystemLogSink returns, no call into the old
  // sink is still running; a sink therefore must not log through here itself.
  if (s.sink != nullptr) s.sink(text, s.sinkContext);
}

void systemLogf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed < 0) {
    va_end(args);
    return;
  }
  std::vector<char> buffer(static_cast<size_t>(needed) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  va_end(args);
  systemLog(QString::fromUtf8(buffer.data(), needed));
}

void setSystemLogSink(SystemLogSink sink, void* context) {
  SystemLogState& s = state();
  const std::lock_guard<std::mutex> guard(s.lock);
  s.sink = sink;
  s.sinkContext = context;
}

}  // namespace pm
