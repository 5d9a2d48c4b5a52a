// ZOVRAN_Log: opening the log file and rolling it.

#include "support/ZOVRAN_Log.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <system_error>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "support/SystemLog.h"
#include "support/TextUtilities.h"
#include "support/ZOVRAN_LogState.h"

using pm::logging::LogState;
using pm::logging::state;

namespace {

constexpr uint64_t kRollThreshold = 1'048'576;
// The old file keeps at most 10 MiB; a combined text of this many bytes or more is cut.
constexpr qsizetype kOldFileCutLength = 10'485'761;
constexpr mode_t kLogFileMode = 0664;

QString standardizedPath(const QString& path) {
  if (path.isEmpty()) return path;
  QString expanded = path;
  if (expanded == QLatin1String("~") || expanded.startsWith(QLatin1String("~/"))) {
    expanded.replace(0, 1, QDir::homePath());
  }
  return QDir::cleanPath(expanded);
}

void createDirectoryFor(const QString& path) {
  const QString directory = QFileInfo(path).absolutePath();
  std::error_code error;
  std::filesystem::create_directories(QFile::encodeName(directory).toStdString(), error);
  if (error) {
    pm::systemLog(QStringLiteral("error with createDirectoryAtPath for [%1]:\nERROR = %2")
                      .arg(directory, QString::fromLocal8Bit(error.message().c_str())));
  }
}

// Standard error follows the log file from here on; the original is kept to give it back.
void redirectStandardError(LogState& s, const QString& path) {
  const int fd =
      ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kLogFileMode);
  if (fd < 0) return;  // standard error stays where it was rather than being lost
  if (s.savedStdErr < 0) s.savedStdErr = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
  ::dup2(fd, STDERR_FILENO);
  ::close(fd);
}

// The old file's new content: old followed by current, cut from the front to the first line
// boundary that leaves at most 10 MiB (nothing when there is no such boundary).
QByteArray combinedOldContent(QByteArray old, const QByteArray& current) {
  old.append(current);
  if (old.size() >= kOldFileCutLength) {
    const qsizetype newline = old.indexOf('\n', old.size() - kOldFileCutLength);
    if (newline < 0) {
      old.clear();
    } else {
      old.remove(0, newline + 1);
    }
  }
  return old;
}

bool readWhole(const QString& path, QByteArray& content) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  content = file.readAll();
  return file.error() == QFileDevice::NoError;
}

bool writeWhole(const QString& path, const QByteArray& content) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  const bool written = file.write(content) == content.size();
  return file.flush() && written;
}

}  // namespace

bool ZOVRAN_Log::setLogFile(const QString& path) {
  LogState& s = state();
  const std::lock_guard<std::recursive_mutex> guard(s.lock);
  s.logFilePath = standardizedPath(path);
  if (path.isEmpty()) return false;
  createDirectoryFor(path);
  rollLogFileIfNecessary(path);
  if (s.file) return false;

  std::FILE* opened = std::fopen(QFile::encodeName(path).constData(), "a");
  if (opened == nullptr) {
    const int error = errno;
    debug(QStringLiteral("Failed to open log file at %1; error %2 \"%3\"")
              .arg(path)
              .arg(error)
              .arg(QString::fromLocal8Bit(std::strerror(error))));
    return false;
  }
  s.file.reset(opened);
  ::fchmod(::fileno(opened), kLogFileMode);
  // Unbuffered before the first write (a stream's buffering can only be chosen then), so that
  // every line reaches the file as soon as it is logged.
  std::setvbuf(opened, nullptr, _IONBF, 0);
  if (s.pendingBuffer && !s.pendingBuffer->isEmpty()) {
    const QByteArray bytes = s.pendingBuffer->toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), opened);
    std::fflush(opened);
  }
  s.pendingBuffer.reset();
  if (!s.logToStdErr) redirectStandardError(s, path);
  return true;
}

void ZOVRAN_Log::rollLogFileIfNecessary(const QString& path) { rollLogFile(path, QString(), kRollThreshold); }

void ZOVRAN_Log::rollLogFile(const QString& path, const QString& oldPath, uint64_t size) {
  if (path.isEmpty()) return;
  LogState& s = state();
  // Held throughout, so that no line is appended between reading the log and emptying it.
  const std::lock_guard<std::recursive_mutex> guard(s.lock);
  const QFileInfo info(path);
  if (!info.exists() || static_cast<uint64_t>(info.size()) < size) return;

  pm::systemLog(QStringLiteral("Rolling log file."));
  QString extension = pm::pathExtension(path);
  if (extension.isEmpty()) extension = QStringLiteral("log");
  const QString target = oldPath.isEmpty()
                             ? pm::stringByDeletingPathExtension(path) + QStringLiteral("_old.") + extension
                             : oldPath;

  // Every failure below leaves the current log untouched: it is emptied only once its content
  // is safely in the old file.
  QByteArray current;
  QByteArray old;
  if (!readWhole(path, current) || (QFileInfo::exists(target) && !readWhole(target, old)) ||
      !writeWhole(target, combinedOldContent(std::move(old), current))) {
    pm::systemLog(QStringLiteral("Error writing old log file to %1").arg(target));
    return;
  }
  pm::systemLog(QStringLiteral("Rolled previous log file into %1").arg(target));
  ::chmod(QFile::encodeName(target).constData(), kLogFileMode);

  const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd >= 0) {
    pm::systemLog(QStringLiteral("Starting new log file at %1").arg(path));
    ::close(fd);
  }
}

void ZOVRAN_Log::resetToDefaults() {
  LogState& s = state();
  const std::lock_guard<std::recursive_mutex> guard(s.lock);
  s.file.reset();
  if (s.savedStdErr >= 0) {
    ::dup2(s.savedStdErr, STDERR_FILENO);
    ::close(s.savedStdErr);
    s.savedStdErr = -1;
  }
  s.applicationName = processName();
  s.logFilePath.clear();
  s.pendingBuffer = QString();
  s.notify = false;
  s.logToStdErr = true;
  s.logAppName = false;
}
