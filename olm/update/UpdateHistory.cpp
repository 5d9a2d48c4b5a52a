#include "olm/update/UpdateHistory.h"

#include "olm/update/StateLocation.h"
#include "olm/update/StateRows.h"
#include "olm/update/StateStore.h"
#include "support/SystemLog.h"

namespace pm {

namespace rows {

bool appendOutcome(Sql& sql, const UpdateOutcome& outcome) {
  return insertOutcome(sql, outcome) && pruneHistory(sql);
}

bool insertOutcome(Sql& sql, const UpdateOutcome& outcome) {
  return sql
      .prepare(
          "INSERT INTO history (time, printer, model, from_version, to_version, result, message, reason, "
          "title) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")
      .bind(1, outcome.time.toMSecsSinceEpoch())
      .bind(2, outcome.printer)
      .bind(3, outcome.model)
      .bind(4, outcome.from)
      .bind(5, outcome.to)
      .bind(6, outcome.result)
      .bind(7, outcome.message)
      .bind(8, outcome.reason)
      .bind(9, outcome.title)
      .run();
}

bool pruneHistory(Sql& sql) {
  // Both bounds use an index: the age the time's, the count the row id's (ids only grow, so the
  // newest kMaxEntries have the highest).
  const qint64 oldest = QDateTime::currentDateTimeUtc().toMSecsSinceEpoch() -
                        std::chrono::milliseconds(UpdateHistory::kMaxAge).count();
  return sql.prepare("DELETE FROM history WHERE time < ?").bind(1, oldest).run() &&
         sql.prepare("DELETE FROM history WHERE id <= (SELECT max(id) FROM history) - ?")
             .bind(1, qint64(UpdateHistory::kMaxEntries))
             .run();
}

}  // namespace rows

namespace {

QList<UpdateOutcome> select(Sql& sql, const HistoryQuery& query, bool newestFirst) {
  QList<UpdateOutcome> out;
  // One printer's entries are a range of the (printer, time) index, all entries one of the time
  // index: a page reads its own rows only.
  const QByteArray statement = QByteArray(
                                   "SELECT time, printer, model, from_version, to_version, result, message, "
                                   "reason, title FROM history "
                                   "WHERE ") +
                               (query.printer.isEmpty() ? "?1 = '' AND " : "printer = ?1 AND ") +
                               "time >= ?2 ORDER BY " + (newestFirst ? "time DESC, id DESC" : "time, id") +
                               " LIMIT ?3";
  SqlStatement rows = sql.prepare(statement.constData());
  rows.bind(1, query.printer)
      .bind(2, query.since.isValid() ? query.since.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min())
      .bind(3, qint64(query.limit));
  while (rows.next())
    out.append(UpdateOutcome{rows.text(1), rows.text(2), rows.text(3), rows.text(4), rows.text(5),
                             rows.text(6), QDateTime::fromMSecsSinceEpoch(rows.number(0), Qt::UTC),
                             rows.text(7), rows.text(8)});
  return out;
}

}  // namespace

void UpdateHistory::append(const UpdateOutcome& outcome) {
  QString why;
  if (!StateStore::write([&outcome](Sql& sql) { return rows::appendOutcome(sql, outcome); }, &why))
    systemLog(QStringLiteral("could not record the update outcome of %1: %2").arg(outcome.printer, why));
}

bool UpdateHistory::append(const QList<UpdateOutcome>& outcomes) {
  return StateStore::write([&outcomes](Sql& sql) {
    for (const UpdateOutcome& outcome : outcomes)
      if (!rows::insertOutcome(sql, outcome)) return false;
    return rows::pruneHistory(sql);
  });
}

QList<UpdateOutcome> UpdateHistory::page(const HistoryQuery& query, QString* why) {
  QList<UpdateOutcome> out;
  StateStore::read([&](Sql& sql) { out = select(sql, query, true); }, why);
  return out;
}

QList<UpdateOutcome> UpdateHistory::entries() {
  QList<UpdateOutcome> out;
  StateStore::read([&out](Sql& sql) { out = select(sql, {QString(), QDateTime(), kMaxEntries}, false); });
  return out;
}

QString UpdateHistory::filePath() { return StateStore::path(); }

QString UpdateHistory::stateFile(const QString& name) { return stateDirectory() + u'/' + name; }

}  // namespace pm
