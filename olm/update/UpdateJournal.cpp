#include "olm/update/UpdateJournal.h"

#include <algorithm>
#include <mutex>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>

#include "olm/update/StateRows.h"
#include "olm/update/StateStore.h"
#include "olm/update/UpdateHistory.h"
#include "support/PrinterNaming.h"
#include "support/SystemLog.h"

namespace pm {

namespace {

bool samePrinter(const UpdateRecord& r, const QString& serial, const QString& key, uint16_t product) {
  if (r.productID != product) return false;
  if (!r.serialNumber.isEmpty() && !serial.isEmpty()) return r.serialNumber == serial;
  return r.deviceKey == key;
}

// The archives this process loaded for its updates: the bytes checked at the start are the ones
// sent, whatever happens to the files meanwhile. Not part of the record (another process loads
// its own); given to a record of the same printer and target version.
struct LoadedArchives {
  std::mutex lock;
  QList<UpdateRecord> held;  // identity and archive only
};

LoadedArchives& loadedArchives() {
  static LoadedArchives a;
  return a;
}

void holdArchive(const UpdateRecord& record) {
  LoadedArchives& a = loadedArchives();
  const std::lock_guard guard(a.lock);
  std::shared_ptr<const LoadedArchive> archive = record.archive;
  a.held.removeIf([&](const UpdateRecord& r) {
    if (!samePrinter(r, record.serialNumber, record.deviceKey, record.productID)) return false;
    if (!archive) archive = r.archive;
    return true;
  });
  if (!archive) return;
  UpdateRecord held;
  held.serialNumber = record.serialNumber;
  held.deviceKey = record.deviceKey;
  held.productID = record.productID;
  held.archive = archive;
  a.held << held;
}

void dropArchive(const QString& serial, const QString& key, uint16_t product) {
  LoadedArchives& a = loadedArchives();
  const std::lock_guard guard(a.lock);
  a.held.removeIf([&](const UpdateRecord& r) { return samePrinter(r, serial, key, product); });
}

UpdateRecord withArchive(UpdateRecord record) {
  LoadedArchives& a = loadedArchives();
  const std::lock_guard guard(a.lock);
  for (const UpdateRecord& r : std::as_const(a.held))
    if (samePrinter(r, record.serialNumber, record.deviceKey, record.productID) &&
        r.archive->version() == record.targetVersion)
      record.archive = r.archive;
  return record;
}

struct StoredRecord {
  qint64 id = 0;
  UpdateRecord record;
};

// Every usable record, oldest first; a row no update could have written is logged and skipped.
QList<StoredRecord> readAll(Sql& sql) {
  QList<StoredRecord> out;
  SqlStatement rows = sql.prepare(
      "SELECT id, serial, device_key, product, model, from_version, target_version, stage, uploads, tables, "
      "started, last_seen, table_rounds FROM updates ORDER BY id");
  while (rows.next()) {
    StoredRecord stored;
    stored.id = rows.number(0);
    UpdateRecord& r = stored.record;
    r.serialNumber = rows.text(1);
    r.deviceKey = rows.text(2);
    const qint64 product = rows.number(3);
    r.productID = product > 0 && product <= 0xFFFF ? uint16_t(product) : 0;
    r.model = rows.text(4);
    r.fromVersion = rows.text(5);
    r.targetVersion = rows.text(6);
    r.stage = static_cast<UpdateStage>(rows.number(7));
    r.uploads = int(rows.number(8));
    for (const auto& table : QJsonDocument::fromJson(rows.text(9).toUtf8()).array())
      r.tablesToWrite << table.toString();
    r.started = QDateTime::fromString(rows.text(10), Qt::ISODate);
    r.lastSeen = QDateTime::fromMSecsSinceEpoch(rows.number(11), Qt::UTC);
    r.tableRounds = std::clamp(int(rows.number(12)), 0, UpdateJournal::kMaxUploads);
    if (!rows::usableRecord(r)) {
      systemLogf("ignoring an unusable firmware update record (row %lld)", stored.id);
      continue;
    }
    out << stored;
  }
  return out;
}

QList<UpdateRecord> recordsOf(const QList<StoredRecord>& stored) {
  QList<UpdateRecord> out;
  for (const StoredRecord& s : stored) out << withArchive(s.record);
  return out;
}

QString abandonedText(const UpdateRecord& record, std::chrono::days notSeenFor) {
  return QCoreApplication::translate("TBUSBPrinterOLM",
                                     "The update was abandoned: the printer has not been connected for %1 "
                                     "days.")
             .arg(notSeenFor.count()) +
         u' ' +
         (record.stage >= UpdateStage::ImageSent
              ? QCoreApplication::translate("TBUSBPrinterOLM",
                                            "It had been sent firmware %1; its colour tables are not all "
                                            "written.")
                    .arg(record.targetVersion)
              : QCoreApplication::translate("TBUSBPrinterOLM",
                                            "It had been asked to restart into its firmware update mode."));
}

}  // namespace

namespace rows {

bool usableRecord(const UpdateRecord& r) {
  return r.productID != 0 && r.deviceKey.size() == 16 && !r.targetVersion.isEmpty() &&
         (r.stage == UpdateStage::RestartRequested || r.stage == UpdateStage::ImageSent) && r.uploads >= 0 &&
         r.uploads <= UpdateJournal::kMaxUploads;
}

bool putRecord(Sql& sql, const UpdateRecord& record) {
  qint64 id = 0;
  for (const StoredRecord& s : readAll(sql))
    if (samePrinter(s.record, record.serialNumber, record.deviceKey, record.productID)) id = s.id;
  // The same printer's row keeps its place (the records' order is that of their first write).
  SqlStatement write = sql.prepare(
      id ? "UPDATE updates SET serial = ?1, device_key = ?2, product = ?3, model = ?4, from_version = ?5, "
           "target_version = ?6, stage = ?7, uploads = ?8, tables = ?9, started = ?10, last_seen = ?11, "
           "table_rounds = ?13 WHERE id = ?12"
         : "INSERT INTO updates (serial, device_key, product, model, from_version, target_version, stage, "
           "uploads, tables, started, last_seen, table_rounds) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, "
           "?10, ?11, "
           "?13)");
  write.bind(1, record.serialNumber)
      .bind(2, record.deviceKey)
      .bind(3, qint64(record.productID))
      .bind(4, record.model)
      .bind(5, record.fromVersion)
      .bind(6, record.targetVersion)
      .bind(7, qint64(static_cast<int>(record.stage)))
      .bind(8, qint64(record.uploads))
      .bind(
          9,
          QString::fromUtf8(
              QJsonDocument(QJsonArray::fromStringList(record.tablesToWrite)).toJson(QJsonDocument::Compact)))
      .bind(10, record.started.toUTC().toString(Qt::ISODate))
      .bind(11, (record.lastSeen.isValid() ? record.lastSeen : QDateTime::currentDateTimeUtc())
                    .toMSecsSinceEpoch());
  write.bind(13, qint64(record.tableRounds));
  if (id) write.bind(12, id);
  return write.run();
}

}  // namespace rows

QString UpdateRecord::printerName() const { return PrinterNaming::name(model, serialNumber); }

std::optional<UpdateRecord> UpdateJournal::find(const QString& serialNumber, const QString& deviceKey,
                                                uint16_t productID) {
  std::optional<UpdateRecord> found;
  StateStore::read([&](Sql& sql) {
    for (const StoredRecord& s : readAll(sql))
      if (samePrinter(s.record, serialNumber, deviceKey, productID)) found = s.record;
  });
  if (found) found = withArchive(*found);
  return found;
}

std::optional<UpdateRecord> UpdateJournal::otherAt(const QString& serialNumber, const QString& deviceKey,
                                                   uint16_t productID) {
  std::optional<UpdateRecord> found;
  StateStore::read([&](Sql& sql) {
    for (const StoredRecord& s : readAll(sql))
      if (!found && s.record.deviceKey == deviceKey &&
          !samePrinter(s.record, serialNumber, deviceKey, productID))
        found = s.record;
  });
  if (found) found = withArchive(*found);
  return found;
}

void UpdateJournal::put(const UpdateRecord& record) {
  holdArchive(record);
  UpdateRecord seen = record;
  seen.lastSeen = QDateTime::currentDateTimeUtc();
  if (!StateStore::write([&seen](Sql& sql) { return rows::putRecord(sql, seen); }))
    systemLog(
        QStringLiteral("the firmware update record of %1 could not be written").arg(record.printerName()));
}

void UpdateJournal::remove(const QString& serialNumber, const QString& deviceKey, uint16_t productID) {
  dropArchive(serialNumber, deviceKey, productID);
  StateStore::write([&](Sql& sql) {
    for (const StoredRecord& s : readAll(sql))
      if (samePrinter(s.record, serialNumber, deviceKey, productID))
        sql.prepare("DELETE FROM updates WHERE id = ?").bind(1, s.id).run();
    return true;
  });
}

QList<UpdateRecord> UpdateJournal::records() {
  QList<UpdateRecord> out;
  StateStore::read([&out](Sql& sql) { out = recordsOf(readAll(sql)); });
  return out;
}

void UpdateJournal::touch(const QString& serialNumber, const QString& deviceKey, uint16_t productID,
                          const QDateTime& when) {
  StateStore::write([&](Sql& sql) {
    for (const StoredRecord& s : readAll(sql))
      if (samePrinter(s.record, serialNumber, deviceKey, productID))
        sql.prepare("UPDATE updates SET last_seen = ? WHERE id = ?")
            .bind(1, when.toMSecsSinceEpoch())
            .bind(2, s.id)
            .run();
    return true;
  });
}

QList<UpdateRecord> UpdateJournal::archiveStale(std::chrono::days notSeenFor) {
  QList<UpdateRecord> archived;
  const QDateTime now = QDateTime::currentDateTimeUtc();
  const qint64 before = now.toMSecsSinceEpoch() - std::chrono::milliseconds(notSeenFor).count();
  const bool written = StateStore::write([&](Sql& sql) {
    for (const StoredRecord& s : readAll(sql)) {
      if (s.record.lastSeen.toMSecsSinceEpoch() >= before) continue;
      const UpdateOutcome outcome{s.record.serialNumber,
                                  s.record.model,
                                  s.record.fromVersion,
                                  s.record.targetVersion,
                                  QStringLiteral("abandoned"),
                                  abandonedText(s.record, notSeenFor),
                                  now,
                                  QStringLiteral("abandoned"),
                                  {}};
      if (!rows::appendOutcome(sql, outcome) ||
          !sql.prepare("DELETE FROM updates WHERE id = ?").bind(1, s.id).run())
        return false;
      archived << s.record;
    }
    return true;
  });
  if (!written) return {};
  for (const UpdateRecord& record : archived)
    systemLog(QStringLiteral("the unfinished firmware update of %1 is abandoned: not seen since %2")
                  .arg(record.printerName(), record.lastSeen.toString(Qt::ISODate)));
  return archived;
}

bool UpdateJournal::writable(QString* why) { return StateStore::writable(why); }

QString UpdateJournal::filePath() { return StateStore::path(); }

void UpdateJournal::setFilePath(const QString& path) { StateStore::setPath(path); }

void UpdateJournal::load() {
  StateStore::close();
  for (const UpdateRecord& record : records())
    systemLog(QStringLiteral("firmware update of %1 at %2 left at stage %3 by an earlier run")
                  .arg(record.printerName(), record.deviceKey)
                  .arg(static_cast<int>(record.stage)));
}

void UpdateJournal::reset() {
  StateStore::write([](Sql& sql) { return sql.exec("DELETE FROM updates"); });
}

}  // namespace pm
