#include "olm/update/LegacyImport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "olm/update/StateRows.h"
#include "support/SystemLog.h"

namespace pm {

namespace {

const QString kJournalFormat = QStringLiteral("printer-maintenance firmware updates");
constexpr qint64 kMaxJournalBytes = qint64{1024} * 1024;  // a few records; anything larger is not ours

std::optional<UpdateRecord> recordFromJson(const QJsonValue& value) {
  if (!value.isObject()) return std::nullopt;
  const QJsonObject o = value.toObject();
  UpdateRecord r;
  r.serialNumber = o.value(QStringLiteral("serialNumber")).toString();
  r.deviceKey = o.value(QStringLiteral("deviceKey")).toString();
  const int product = o.value(QStringLiteral("productID")).toInt(-1);
  r.productID = product > 0 && product <= 0xFFFF ? uint16_t(product) : 0;
  r.model = o.value(QStringLiteral("model")).toString();
  r.fromVersion = o.value(QStringLiteral("fromVersion")).toString();
  r.targetVersion = o.value(QStringLiteral("targetVersion")).toString();
  r.stage = static_cast<UpdateStage>(o.value(QStringLiteral("stage")).toInt(0));
  r.uploads = o.value(QStringLiteral("uploads")).toInt(-1);
  for (const auto& table : o.value(QStringLiteral("tablesToWrite")).toArray())
    r.tablesToWrite << table.toString();
  r.started = QDateTime::fromString(o.value(QStringLiteral("started")).toString(), Qt::ISODate);
  r.lastSeen = QDateTime::currentDateTimeUtc();  // the 7 days of an abandoned update start now
  if (!rows::usableRecord(r)) return std::nullopt;
  return r;
}

// Opens `path` for reading if it is a regular file, never through a link and never blocking on a
// FIFO; -1 (logged) otherwise, and when it is not there.
int openRegular(const QString& path, const QString& what) {
  struct stat info {};
  if (::lstat(QFile::encodeName(path).constData(), &info) != 0) return -1;
  const int fd = S_ISREG(info.st_mode) ? ::open(QFile::encodeName(path).constData(),
                                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                                       : -1;
  struct stat opened {};
  if (fd >= 0 && ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)) return fd;
  if (fd >= 0) ::close(fd);
  systemLog(QStringLiteral("not taking over the %1 %2: not a regular file").arg(what, path));
  return -1;
}

// The old file's identity, so that a file renamed by another process a moment late is not taken
// twice.
QString identity(int fd) {
  struct stat info {};
  ::fstat(fd, &info);
  return QStringLiteral("%1:%2:%3:%4")
      .arg(info.st_dev)
      .arg(info.st_ino)
      .arg(info.st_size)
      .arg(qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec);
}

bool alreadyTaken(Sql& sql, const QString& name, const QString& id) {
  SqlStatement row = sql.prepare("SELECT value FROM meta WHERE key = ?");
  row.bind(1, QStringLiteral("imported ") + name);
  return row.next() && row.text(0) == id;
}

bool noteTaken(Sql& sql, const QString& name, const QString& id) {
  return sql.prepare("INSERT OR REPLACE INTO meta (key, value) VALUES (?, ?)")
      .bind(1, QStringLiteral("imported ") + name)
      .bind(2, id)
      .run();
}

bool importJournal(Sql& sql, QFile& file, const QString& path) {
  const auto ignore = [&path](const QString& why) {
    systemLog(QStringLiteral("ignoring the firmware update state file %1: %2").arg(path, why));
    return true;
  };
  if (file.size() > kMaxJournalBytes) return ignore(QStringLiteral("not a small regular file"));
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(file.read(kMaxJournalBytes), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject())
    return ignore(QStringLiteral("not JSON"));
  const QJsonObject root = document.object();
  if (root.value(QStringLiteral("format")).toString() != kJournalFormat ||
      root.value(QStringLiteral("version")).toInt() != 1)
    return ignore(QStringLiteral("not a file of this application"));
  for (const auto& value : root.value(QStringLiteral("updates")).toArray()) {
    if (const std::optional<UpdateRecord> record = recordFromJson(value)) {
      if (!rows::putRecord(sql, *record)) return false;
    } else {
      ignore(QStringLiteral("an unusable record"));
    }
  }
  return true;
}

bool importHistory(Sql& sql, QFile& file, const QString& path) {
  int skipped = 0;
  while (!file.atEnd()) {
    const QByteArray line = file.readLine(qint64{64} * 1024).trimmed();
    if (line.isEmpty()) continue;
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    const UpdateOutcome entry{
        o.value(QStringLiteral("printer")).toString(),
        o.value(QStringLiteral("model")).toString(),
        o.value(QStringLiteral("from")).toString(),
        o.value(QStringLiteral("to")).toString(),
        o.value(QStringLiteral("result")).toString(),
        o.value(QStringLiteral("message")).toString(),
        QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs),
        o.value(QStringLiteral("reason")).toString(),
        o.value(QStringLiteral("title")).toString()};
    // Lines torn by a crash or not written by an update are left out.
    const bool known = entry.result == QLatin1String("success") || entry.result == QLatin1String("failed") ||
                       entry.result == QLatin1String("refused");
    if (!known || !entry.time.isValid()) {
      ++skipped;
      continue;
    }
    if (!rows::insertOutcome(sql, entry)) return false;
  }
  if (skipped) systemLogf("%d unreadable line(s) skipped in %s", skipped, qPrintable(path));
  return rows::pruneHistory(sql);
}

}  // namespace

bool importLegacyFiles(Sql& sql, const QString& storePath, QStringList* taken) {
  const QString folder = QFileInfo(storePath).absolutePath();
  const struct {
    const char* name;
    const char* what;
    bool (*read)(Sql&, QFile&, const QString&);
  } legacy[] = {{"updates.json", "firmware update state file", importJournal},
                {"history.jsonl", "update history", importHistory}};
  for (const auto& old : legacy) {
    const QString path = folder + u'/' + QLatin1String(old.name);
    const int fd = openRegular(path, QLatin1String(old.what));
    if (fd < 0) continue;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
      ::close(fd);
      continue;
    }
    const QString id = identity(fd);
    const QString name = QLatin1String(old.name);
    if (!alreadyTaken(sql, name, id)) {
      if (!old.read(sql, file, path) || !noteTaken(sql, name, id)) return false;
      systemLog(QStringLiteral("took over %1 into the state store").arg(path));
    }
    *taken << path;
  }
  return true;
}

void renameAside(const QStringList& taken) {
  for (const QString& path : taken) {
    const QString aside = path + QStringLiteral(".imported");
    if (std::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) != 0)
      systemLog(QStringLiteral("could not rename %1 aside; it stays and is not taken again").arg(path));
  }
}

}  // namespace pm
