#include "olm/update/UpdateHistory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include "support/SystemLog.h"

namespace pm {

namespace {

std::mutex& historyLock() {
  static std::mutex lock;
  return lock;
}

QString& overridePath() {
  static QString path;
  return path;
}

bool isResult(const QString& result) {
  return result == QLatin1String("success") || result == QLatin1String("failed") ||
         result == QLatin1String("refused");
}

}  // namespace

QString UpdateHistory::filePath() {
  {
    const std::lock_guard guard(historyLock());
    if (!overridePath().isEmpty()) return overridePath();
  }
  return stateFile(QStringLiteral("history.jsonl"));
}

QString UpdateHistory::stateFile(const QString& name) {
  QString base = qEnvironmentVariable("XDG_STATE_HOME");
  if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + QStringLiteral("/.local/state");
  return base + QStringLiteral("/printer-maintenance/") + name;
}

void UpdateHistory::setFilePath(const QString& path) {
  const std::lock_guard guard(historyLock());
  overridePath() = path;
}

void UpdateHistory::append(const UpdateOutcome& outcome) {
  const QString path = filePath();
  QJsonObject entry{{QStringLiteral("printer"), outcome.printer},
                    {QStringLiteral("model"), outcome.model},
                    {QStringLiteral("from"), outcome.from},
                    {QStringLiteral("to"), outcome.to},
                    {QStringLiteral("result"), outcome.result},
                    {QStringLiteral("message"), outcome.message},
                    {QStringLiteral("time"), outcome.time.toUTC().toString(Qt::ISODateWithMs)}};
  if (!outcome.reason.isEmpty()) entry.insert(QStringLiteral("reason"), outcome.reason);
  if (!outcome.title.isEmpty()) entry.insert(QStringLiteral("title"), outcome.title);
  QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';

  const std::lock_guard guard(historyLock());
  QDir().mkpath(QFileInfo(path).absolutePath());
  // O_APPEND and one write: entries of two processes never interleave within a line.
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  // A line torn by a crash must not swallow this entry: start on a line of its own.
  struct stat info {};
  char last = '\n';
  if (fd >= 0 && ::fstat(fd, &info) == 0 && info.st_size > 0 &&
      ::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n')
    line.prepend('\n');
  if (fd < 0 || ::write(fd, line.constData(), size_t(line.size())) != line.size())
    systemLogf("could not record the update outcome in %s", qPrintable(path));
  if (fd >= 0) ::close(fd);
}

QList<UpdateOutcome> UpdateHistory::entries() {
  QList<UpdateOutcome> out;
  QFile file(filePath());
  if (!file.open(QIODevice::ReadOnly)) return out;
  int skipped = 0;
  while (!file.atEnd()) {
    const QByteArray line = file.readLine(qint64{64} * 1024).trimmed();
    if (line.isEmpty()) continue;
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    UpdateOutcome entry{o.value(QStringLiteral("printer")).toString(),
                        o.value(QStringLiteral("model")).toString(),
                        o.value(QStringLiteral("from")).toString(),
                        o.value(QStringLiteral("to")).toString(),
                        o.value(QStringLiteral("result")).toString(),
                        o.value(QStringLiteral("message")).toString(),
                        QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs),
                        o.value(QStringLiteral("reason")).toString(),
                        o.value(QStringLiteral("title")).toString()};
    if (!isResult(entry.result) || !entry.time.isValid()) {
      ++skipped;
      continue;
    }
    out.append(entry);
  }
  if (skipped) systemLogf("%d unreadable line(s) skipped in %s", skipped, qPrintable(file.fileName()));
  return out;
}

}  // namespace pm
