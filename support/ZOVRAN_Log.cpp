#include "support/ZOVRAN_Log.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include <QCoreApplication>
#include <QRegularExpression>
#include <QThread>

#include "support/SystemLog.h"
#include "support/TextUtilities.h"
#include "support/ZOVRAN_LogState.h"

namespace pm::logging {

LogState::LogState() : applicationName(ZOVRAN_Base::processName()) {}

LogState& state() {
  static LogState s;
  return s;
}

}  // namespace pm::logging

using pm::logging::LogState;
using pm::logging::state;

namespace {

// The buffer keeps roughly the last million characters; it sheds the oldest in blocks so that a
// busy logger does not move the whole buffer for every line.
constexpr qsizetype kBufferTrimThreshold = 1'000'001;
constexpr qsizetype kBufferTrimCount = 10'000;
constexpr qsizetype kHexRowBytes = 16;

const QString& datePattern() {
  static const QString pattern = QStringLiteral("[YYYY/MM/dd HH:mm:ss.SSS Z]");
  return pattern;
}

struct Tags {
  QString standardError;
  const char* file;
  pm::LogPriority priority;  // when standard error is the journal
};

Tags tagsFor(unsigned level, const QString& applicationName) {
  switch (level) {
    case ZOVRAN_Log::Information:
      return {QStringLiteral("INFO"), "I", pm::LogPriority::Info};
    case ZOVRAN_Log::Debug2:
      return {QStringLiteral("DEBUG2: ") + applicationName, "D2", pm::LogPriority::Debug};
    case ZOVRAN_Log::Error:
      return {QStringLiteral("ERROR"), "E", pm::LogPriority::Error};
    case ZOVRAN_Log::Warning:
      return {QStringLiteral("WARN"), "W", pm::LogPriority::Warning};
    default:  // level 1 and every level above 4
      return {QStringLiteral("DEBUG: ") + applicationName, "D", pm::LogPriority::Debug};
  }
}

struct Announcement {
  QString logFilePath;
  QString line;
};

}  // namespace

ZOVRAN_LogNotifier::ZOVRAN_LogNotifier() {
  // Lives as long as the process; it belongs to the main thread whichever thread logged first.
  if (QCoreApplication* app = QCoreApplication::instance()) moveToThread(app->thread());
}

ZOVRAN_LogNotifier* ZOVRAN_LogNotifier::instance() {
  static ZOVRAN_LogNotifier notifier;
  return &notifier;
}

void ZOVRAN_Log::logLevel(unsigned level, const QString& message) {
  std::optional<Announcement> announcement;
  {
    LogState& s = state();
    const std::lock_guard<std::recursive_mutex> guard(s.lock);
    if (!s.logToStdErr && !s.file) return;

    const Tags tags = tagsFor(level, s.applicationName);
    if (s.logToStdErr)
      pm::writeStandardErrorLine(tags.priority,
                                 (tags.standardError + QStringLiteral(": ") + message + u'\n').toUtf8());

    if (s.pendingBuffer || s.file) {
      const QString namePart =
          s.logAppName ? QLatin1Char(' ') + s.applicationName + QLatin1Char(':') : QString();
      const QString line = QLatin1String(tags.file) + QLatin1Char(' ') + logDateString() + namePart +
                           QLatin1Char(' ') + message + u'\n';
      if (s.pendingBuffer) {
        if (s.pendingBuffer->size() >= kBufferTrimThreshold) s.pendingBuffer->remove(0, kBufferTrimCount);
        s.pendingBuffer->append(line);
      } else {
        const QByteArray bytes = line.toUtf8();
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), s.file.get());
      }
      if (s.notify) announcement = Announcement{s.logFilePath, line};
    }
  }
  // Announced outside the lock, so that a listener may log in turn without holding up other
  // threads' lines.
  if (announcement) {
    emit ZOVRAN_LogNotifier::instance()->logFileDidUpdate(
        announcement->logFilePath,
        QVariantMap{{QLatin1String(kZOVRAN_LogFileAddedString), announcement->line}});
  }
}

void ZOVRAN_Log::debug(const QString& message) {
  for (const QString& piece : message.split(QLatin1Char('\n'))) logLevel(Debug, piece);
}

void ZOVRAN_Log::err(const QString& message) { logLevel(Error, message); }

void ZOVRAN_Log::fatal(const QString& message) {
  logLevel(Error, message);  // written unbuffered: nothing is lost below
  // No exit handlers and no static destructors: other threads may still use what they would free.
  std::_Exit(EXIT_FAILURE);
}

void ZOVRAN_Log::logData(const QByteArray& data) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
  for (qsizetype at = 0; at < data.size(); at += kHexRowBytes) {
    const auto count = static_cast<size_t>(std::min(kHexRowBytes, data.size() - at));
    debug(pm::hexDumpRow(bytes + at, count, static_cast<uint64_t>(at), true));
  }
}

QString ZOVRAN_Log::asciiHexForData(const QByteArray& data) {
  QString hex;
  hex.reserve(data.size() * 3);
  for (const char byte : data) hex += QString::asprintf("%.2x ", static_cast<unsigned char>(byte));
  return hex;
}

// The local time from localtime_r, which reads the time zone once; QDateTime::currentDateTime()
// checks the zone file on every call, and this runs for every line.
QString ZOVRAN_Log::logDateString() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  ::localtime_r(&now.tv_sec, &local);
  const QDateTime dateTime(
      QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
      QTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59), int(now.tv_nsec / 1000000)),
      Qt::OffsetFromUTC, int(local.tm_gmtoff));
  return pm::stringWithUTSFormat(dateTime, datePattern());
}

void ZOVRAN_Log::setShouldNotifyForLogUpdates(bool notify) {
  LogState& s = state();
  const std::lock_guard<std::recursive_mutex> guard(s.lock);
  s.notify = notify;
}

void ZOVRAN_Log::setShouldLogToStdErr(bool toStdErr) {
  LogState& s = state();
  const std::lock_guard<std::recursive_mutex> guard(s.lock);
  s.logToStdErr = toStdErr;
}

void ZOVRAN_Log::setShouldLogAppName(bool logAppName) {
  LogState& s = state();
  const std::lock_guard<std::recursive_mutex> guard(s.lock);
  s.logAppName = logAppName;
}

void ZOVRAN_Log::setApplicationName(const QString& name) {
  LogState& s = state();
  const std::lock_guard<std::recursive_mutex> guard(s.lock);
  s.applicationName = name;
}

std::optional<QString> ZOVRAN_Log::pendingBuffer() {
  LogState& s = state();
  const std::lock_guard<std::recursive_mutex> guard(s.lock);
  return s.pendingBuffer;
}

QString ZOVRAN_Log::logFilePath() {
  LogState& s = state();
  const std::lock_guard<std::recursive_mutex> guard(s.lock);
  return s.logFilePath;
}

bool ZOVRAN_Log::validateEmailAddress(const QString& address) {
  pm::systemLog(
      QStringLiteral("Passed emailAddress=[%1] with length=[%2]...").arg(address).arg(address.size()));
  static const QRegularExpression pattern(QRegularExpression::anchoredPattern(QStringLiteral(
      R"RE((?:[a-z0-9!#$%\&'*+/=?\^_`{|}~-]+(?:\.[a-z0-9!#$%\&'*+/=?\^_`{|}~-]+)*|"(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21\x23-\x5b\x5d-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])*")@(?:(?:[a-z0-9](?:[a-z0-9-]*[a-z0-9])?\.)+[a-z0-9](?:[a-z0-9-]*[a-z0-9])?|\[(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?|[a-z0-9-]*[a-z0-9]:(?:[\x01-\x08\x0b\x0c\x0e-\x1f\x21-\x5a\x53-\x7f]|\\[\x01-\x09\x0b\x0c\x0e-\x7f])+)\]))RE")));
  return pattern.match(address.toLower()).hasMatch();
}
