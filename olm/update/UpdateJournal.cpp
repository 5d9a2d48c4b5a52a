#include "olm/update/UpdateJournal.h"

#include <algorithm>
#include <mutex>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include "olm/update/UpdateHistory.h"
#include "support/SystemLog.h"

namespace pm {

namespace {

const QString kFormat = QStringLiteral("printer-maintenance firmware updates");
constexpr int kFormatVersion = 1;
constexpr qint64 kMaxFileBytes = qint64{1024} * 1024;  // a few records; anything larger is not ours

struct JournalState {
  std::mutex lock;
  QString path;
  bool loaded = false;
  QList<UpdateRecord> records;
};

JournalState& journalState() {
  static JournalState s;
  return s;
}

QString defaultPath() { return UpdateHistory::stateFile(QStringLiteral("updates.json")); }

bool samePrinter(const UpdateRecord& r, const QString& serial, const QString& key, uint16_t product) {
  if (r.productID != product) return false;
  if (!r.serialNumber.isEmpty() && !serial.isEmpty()) return r.serialNumber == serial;
  return r.deviceKey == key;
}

QJsonObject toJson(const UpdateRecord& r) {
  return QJsonObject{{QStringLiteral("serialNumber"), r.serialNumber},
                     {QStringLiteral("deviceKey"), r.deviceKey},
                     {QStringLiteral("productID"), int(r.productID)},
                     {QStringLiteral("model"), r.model},
                     {QStringLiteral("fromVersion"), r.fromVersion},
                     {QStringLiteral("targetVersion"), r.targetVersion},
                     {QStringLiteral("stage"), static_cast<int>(r.stage)},
                     {QStringLiteral("uploads"), r.uploads},
                     {QStringLiteral("tableRounds"), r.tableRounds},
                     {QStringLiteral("tablesToWrite"), QJsonArray::fromStringList(r.tablesToWrite)},
                     {QStringLiteral("started"), r.started.toUTC().toString(Qt::ISODate)}};
}

std::optional<UpdateRecord> fromJson(const QJsonValue& value) {
  if (!value.isObject()) return std::nullopt;
  const QJsonObject o = value.toObject();
  UpdateRecord r;
  r.serialNumber = o.value(QStringLiteral("serialNumber")).toString();
  r.deviceKey = o.value(QStringLiteral("deviceKey")).toString();
  const int product = o.value(QStringLiteral("productID")).toInt(-1);
  r.model = o.value(QStringLiteral("model")).toString();
  r.fromVersion = o.value(QStringLiteral("fromVersion")).toString();
  r.targetVersion = o.value(QStringLiteral("targetVersion")).toString();
  r.stage = static_cast<UpdateStage>(o.value(QStringLiteral("stage")).toInt(0));
  r.uploads = o.value(QStringLiteral("uploads")).toInt(-1);
  r.tableRounds = std::clamp(o.value(QStringLiteral("tableRounds")).toInt(0), 0, UpdateJournal::kMaxUploads);
  for (const auto& table : o.value(QStringLiteral("tablesToWrite")).toArray())
    r.tablesToWrite << table.toString();
  r.started = QDateTime::fromString(o.value(QStringLiteral("started")).toString(), Qt::ISODate);
  // Only what an update could have written is taken.
  if (product <= 0 || product > 0xFFFF || r.deviceKey.size() != 16 || r.targetVersion.isEmpty() ||
      (r.stage != UpdateStage::RestartRequested && r.stage != UpdateStage::ImageSent) || r.uploads < 0 ||
      r.uploads > UpdateJournal::kMaxUploads)
    return std::nullopt;
  r.productID = uint16_t(product);
  return r;
}

void loadLocked(JournalState& s) {
  s.loaded = true;
  s.records.clear();
  const QString path = s.path.isEmpty() ? defaultPath() : s.path;
  QFile file(path);
  if (!file.exists()) return;
  const auto ignore = [&path](const QString& why) {
    systemLog(QStringLiteral("ignoring the firmware update state file %1: %2").arg(path, why));
  };
  if (!QFileInfo(path).isFile() || QFileInfo(path).size() > kMaxFileBytes)
    return ignore(QStringLiteral("not a small regular file"));
  if (!file.open(QIODevice::ReadOnly)) return ignore(file.errorString());
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(file.read(kMaxFileBytes), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject())
    return ignore(QStringLiteral("not JSON"));
  const QJsonObject root = document.object();
  if (root.value(QStringLiteral("format")).toString() != kFormat ||
      root.value(QStringLiteral("version")).toInt() != kFormatVersion)
    return ignore(QStringLiteral("not a file of this application"));
  for (const auto& value : root.value(QStringLiteral("updates")).toArray()) {
    if (std::optional<UpdateRecord> record = fromJson(value)) {
      s.records << *record;
      systemLog(QStringLiteral("firmware update of %1 at %2 left at stage %3 by an earlier run")
                    .arg(record->printerName(), record->deviceKey)
                    .arg(static_cast<int>(record->stage)));
    } else {
      ignore(QStringLiteral("an unusable record"));
    }
  }
}

void ensureLoaded(JournalState& s) {
  if (!s.loaded) loadLocked(s);
}

void saveLocked(const JournalState& s) {
  const QString path = s.path.isEmpty() ? defaultPath() : s.path;
  QDir().mkpath(QFileInfo(path).absolutePath());
  if (s.records.isEmpty()) {
    QFile::remove(path);
    return;
  }
  QJsonArray updates;
  for (const UpdateRecord& r : s.records) updates.append(toJson(r));
  const QJsonObject root{{QStringLiteral("format"), kFormat},
                         {QStringLiteral("version"), kFormatVersion},
                         {QStringLiteral("updates"), updates}};
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(root).toJson()) < 0 || !file.commit())
    systemLog(QStringLiteral("could not write the firmware update state file %1: %2")
                  .arg(path, file.errorString()));
}

}  // namespace

QString UpdateRecord::printerName() const {
  const QString name = model.isEmpty() ? QStringLiteral("printer") : model;
  return serialNumber.isEmpty() ? name : QStringLiteral("%1 (serial number %2)").arg(name, serialNumber);
}

std::optional<UpdateRecord> UpdateJournal::find(const QString& serialNumber, const QString& deviceKey,
                                                uint16_t productID) {
  JournalState& s = journalState();
  const std::lock_guard guard(s.lock);
  ensureLoaded(s);
  for (const UpdateRecord& r : s.records)
    if (samePrinter(r, serialNumber, deviceKey, productID)) return r;
  return std::nullopt;
}

std::optional<UpdateRecord> UpdateJournal::otherAt(const QString& serialNumber, const QString& deviceKey,
                                                   uint16_t productID) {
  JournalState& s = journalState();
  const std::lock_guard guard(s.lock);
  ensureLoaded(s);
  for (const UpdateRecord& r : s.records)
    if (r.deviceKey == deviceKey && !samePrinter(r, serialNumber, deviceKey, productID)) return r;
  return std::nullopt;
}

void UpdateJournal::put(const UpdateRecord& record) {
  JournalState& s = journalState();
  const std::lock_guard guard(s.lock);
  ensureLoaded(s);
  for (UpdateRecord& r : s.records) {
    if (samePrinter(r, record.serialNumber, record.deviceKey, record.productID)) {
      r = record;
      return saveLocked(s);
    }
  }
  s.records << record;
  saveLocked(s);
}

void UpdateJournal::remove(const QString& serialNumber, const QString& deviceKey, uint16_t productID) {
  JournalState& s = journalState();
  const std::lock_guard guard(s.lock);
  ensureLoaded(s);
  const qsizetype removed = s.records.removeIf(
      [&](const UpdateRecord& r) { return samePrinter(r, serialNumber, deviceKey, productID); });
  if (removed > 0) saveLocked(s);
}

QList<UpdateRecord> UpdateJournal::records() {
  JournalState& s = journalState();
  const std::lock_guard guard(s.lock);
  ensureLoaded(s);
  return s.records;
}

QString UpdateJournal::filePath() {
  JournalState& s = journalState();
  const std::lock_guard guard(s.lock);
  return s.path.isEmpty() ? defaultPath() : s.path;
}

void UpdateJournal::setFilePath(const QString& path) {
  JournalState& s = journalState();
  const std::lock_guard guard(s.lock);
  s.path = path;
  s.loaded = false;
  s.records.clear();
}

void UpdateJournal::load() {
  JournalState& s = journalState();
  const std::lock_guard guard(s.lock);
  loadLocked(s);
}

void UpdateJournal::reset() {
  JournalState& s = journalState();
  const std::lock_guard guard(s.lock);
  s.records.clear();
  s.loaded = true;
  QFile::remove(s.path.isEmpty() ? defaultPath() : s.path);
}

}  // namespace pm
