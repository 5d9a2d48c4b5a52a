#include "support/SystemLog.h"

#include <errno.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include <QByteArray>
#include <QDateTime>

namespace pm {

namespace {

struct SystemLogState {
  std::mutex lock;
  bool opened = false;
  SystemLogSink sink = nullptr;
  void* sinkContext = nullptr;
};

SystemLogState& state() {
  static SystemLogState s;
  return s;
}

// Standard error carries the same prefix NSLog gave it (time, process, pid and thread), which
// syslog adds on its own side.
QByteArray standardErrorLine(const QByteArray& message) {
  QByteArray line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8();
  line += ' ';
  line += program_invocation_short_name;
  line += '[' + QByteArray::number(static_cast<qlonglong>(::getpid())) + ':' +
          QByteArray::number(static_cast<qlonglong>(::gettid())) + "] ";
  line += message;
  line += '\n';
  return line;
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
  if (!s.opened) {
    // openlog keeps the pointer; program_invocation_short_name lives as long as the process.
    ::openlog(program_invocation_short_name, LOG_PID, LOG_USER);
    s.opened = true;
  }
  ::syslog(LOG_USER | LOG_INFO, "%s", utf8.constData());
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
