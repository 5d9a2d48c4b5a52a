#include "support/SystemLog.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <vector>

#include <QByteArray>
#include <QtGlobal>

namespace pm {

namespace {

struct SystemLogState {
  std::mutex lock;
  // The connected system log socket, or -1. While it cannot be reached it is tried again at most
  // once a second (seconds of CLOCK_MONOTONIC), not on every line.
  int socket = -1;
  int64_t connectTriedAt = INT64_MIN;
  QByteArray socketPath = "/dev/log";
  // Whether standard error is the journal's stream, looked at on the first line.
  bool destinationsReviewed = false;
  bool standardErrorIsJournal = false;
  // A command-line program keeps its standard error for the user's words.
  bool diagnosticsOnStandardError = true;
  // A user's terminal sees warnings and errors; the rest is the system log's unless asked for.
  bool detailOnStandardError = qEnvironmentVariableIntValue("PRINTER_MAINTENANCE_DEBUG") != 0;
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

// JOURNAL_STREAM holds "<device>:<inode>" of the stream systemd connected; it is inherited by
// children whose standard error may since point elsewhere, so it counts only when descriptor 2
// still is that stream.
bool standardErrorIsJournal() {
  const char* value = std::getenv("JOURNAL_STREAM");
  unsigned long long device = 0, inode = 0;
  if (value == nullptr || std::sscanf(value, "%llu:%llu", &device, &inode) != 2) return false;
  struct stat info {};
  return ::fstat(STDERR_FILENO, &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

void reviewDestinations(SystemLogState& s) {
  s.standardErrorIsJournal = standardErrorIsJournal();
  s.destinationsReviewed = true;
}

bool connectSocket(SystemLogState& s) {
  if (s.socket >= 0) return true;
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  if (now.tv_sec == s.connectTriedAt) return false;
  s.connectTriedAt = now.tv_sec;
  sockaddr_un address{};
  if (s.socketPath.size() >= qsizetype(sizeof address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, s.socketPath.constData(), size_t(s.socketPath.size()));
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return false;
  }
  s.socket = fd;
  return true;
}

// One datagram in the syslog format the journal and syslog daemons read: "<facility|priority>",
// the local time, "name[pid]: " and the message. Never blocks: a full socket drops the line
// rather than stall the thread that logs (the caller then writes it to standard error).
bool sendToSystemLog(SystemLogState& s, LogPriority priority, const QByteArray& message) {
  if (!connectSocket(s)) return false;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  ::localtime_r(&now.tv_sec, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &local);
  constexpr int kUserFacility = 1 << 3;
  QByteArray datagram = "<" + QByteArray::number(kUserFacility | int(priority)) + ">" + stamp + " " +
                        program_invocation_short_name + "[" + QByteArray::number(processId()) +
                        "]: " + message;
  if (::send(s.socket, datagram.constData(), size_t(datagram.size()), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0)
    return true;
  if (errno != EAGAIN && errno != EWOULDBLOCK) {
    // The daemon went away or restarted: connect afresh on a later line.
    ::close(s.socket);
    s.socket = -1;
  }
  return false;
}

bool startsWithAny(const QString& line, std::initializer_list<const char*> openings) {
  return std::any_of(openings.begin(), openings.end(),
                     [&](const char* opening) { return line.startsWith(QLatin1String(opening)); });
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

LogPriority priorityOfLine(const QString& line) {
  if (startsWithAny(line, {"ERROR", "Error", "error", "FAILED", "Bad "})) return LogPriority::Error;
  if (startsWithAny(line, {"WARN", "failed", "could not", "no permission"})) return LogPriority::Warning;
  return LogPriority::Debug;
}

void systemLog(const QString& line) { systemLog(priorityOfLine(line), line); }

void systemLog(LogPriority priority, const QString& line) {
  QString text = line;
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  const QByteArray utf8 = text.toUtf8();

  SystemLogState& s = state();
  const std::lock_guard<std::mutex> guard(s.lock);
  if (!s.destinationsReviewed) reviewDestinations(s);
  const bool sent = sendToSystemLog(s, priority, utf8);
  const bool wanted = priority <= LogPriority::Warning || s.detailOnStandardError;
  if (s.diagnosticsOnStandardError && wanted && (!sent || !s.standardErrorIsJournal)) {
    // One line each on a terminal, however many the message has.
    QByteArray oneLine = utf8;
    oneLine.replace('\n', " | ");
    writeToStandardError(standardErrorLine(oneLine));
  }
  // The sink runs under the lock so that, once setSystemLogSink returns, no call into the old
  // sink is still running; a sink therefore must not log through here itself.
  if (s.sink != nullptr) s.sink(text, s.sinkContext);
}

void writeStandardErrorLine(LogPriority priority, const QByteArray& line) {
  SystemLogState& s = state();
  const std::lock_guard<std::mutex> guard(s.lock);
  if (!s.destinationsReviewed) reviewDestinations(s);
  const bool wanted = priority <= LogPriority::Warning || s.detailOnStandardError;
  const bool toSocketOnly = s.standardErrorIsJournal || !s.diagnosticsOnStandardError || !wanted;
  if (toSocketOnly && sendToSystemLog(s, priority, line.endsWith('\n') ? line.chopped(1) : line)) return;
  if (s.diagnosticsOnStandardError && wanted) writeToStandardError(line);
}

void openClosedStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open(2) takes the lowest free descriptor, which is this one: the lower ones are open.
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) ::close(opened);
  }
}

void setDiagnosticsOnStandardError(bool on) {
  SystemLogState& s = state();
  const std::lock_guard<std::mutex> guard(s.lock);
  s.diagnosticsOnStandardError = on;
}

void setDetailOnStandardError(bool on) {
  SystemLogState& s = state();
  const std::lock_guard<std::mutex> guard(s.lock);
  s.detailOnStandardError = on;
}

void reviewLogDestinations(const QByteArray& socketPath) {
  SystemLogState& s = state();
  const std::lock_guard<std::mutex> guard(s.lock);
  reviewDestinations(s);
  if (s.socket >= 0) ::close(s.socket);
  s.socket = -1;
  s.connectTriedAt = INT64_MIN;
  s.socketPath = socketPath;
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
