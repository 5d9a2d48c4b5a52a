#include "olm/update/StateStore.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "olm/update/LegacyImport.h"
#include "olm/update/StateLocation.h"
#include "support/SystemLog.h"

namespace pm {

namespace {

// The schema this build writes; a store of a newer one is left alone.
constexpr int kSchemaVersion = 1;

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS updates (
  id INTEGER PRIMARY KEY,
  serial TEXT NOT NULL,
  device_key TEXT NOT NULL,
  product INTEGER NOT NULL,
  model TEXT NOT NULL,
  from_version TEXT NOT NULL,
  target_version TEXT NOT NULL,
  stage INTEGER NOT NULL,
  uploads INTEGER NOT NULL,
  tables TEXT NOT NULL,
  started TEXT NOT NULL,
  last_seen INTEGER NOT NULL,
  table_rounds INTEGER NOT NULL DEFAULT 0  -- times the colour tables were erased and written
);
CREATE TABLE IF NOT EXISTS history (
  id INTEGER PRIMARY KEY,
  time INTEGER NOT NULL,
  printer TEXT NOT NULL,
  model TEXT NOT NULL,
  from_version TEXT NOT NULL,
  to_version TEXT NOT NULL,
  result TEXT NOT NULL,
  message TEXT NOT NULL,
  reason TEXT NOT NULL DEFAULT '',  -- why a refusal: up-to-date, declined, busy, stopped, ...
  title TEXT NOT NULL DEFAULT ''    -- the heading the user was shown
);
CREATE INDEX IF NOT EXISTS history_by_time ON history (time);
CREATE INDEX IF NOT EXISTS history_by_printer ON history (printer, time);
CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
)sql";

// The reasons are shown to the user (an update refused, `history`).
struct StoreTexts {
  Q_DECLARE_TR_FUNCTIONS(StateStore)
};

struct Connection {
  std::mutex lock;
  QString path;  // empty: the default
  sqlite3* db = nullptr;
  std::optional<QString> problem;  // why the last opening failed
  QString logged;                  // the last problem logged, so each is logged once
};

Connection& connection() {
  static Connection c;
  return c;
}

QString currentPath(const Connection& c) {
  return c.path.isEmpty() ? stateDirectory() + QStringLiteral("/state.db") : c.path;
}

// What a path that exists is, when it is not what it should be.
QString kindOf(const struct stat& info) {
  if (S_ISLNK(info.st_mode)) return StoreTexts::tr("a symbolic link");
  if (S_ISFIFO(info.st_mode)) return StoreTexts::tr("a FIFO");
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return StoreTexts::tr("a device");
  if (S_ISSOCK(info.st_mode)) return StoreTexts::tr("a socket");
  if (S_ISDIR(info.st_mode)) return StoreTexts::tr("a folder");
  return StoreTexts::tr("a file");
}

// The folder and the database's files must be what they seem: never followed through a link
// (an atomic replace or a write through one lands on its target, a device node when run as root)
// and never a FIFO (opening one blocks). Answers the problem, if any.
std::optional<QString> checkPlace(const QString& path) {
  const QString folder = QFileInfo(path).absolutePath();
  struct stat info {};
  if (::lstat(QFile::encodeName(folder).constData(), &info) != 0 && errno == ENOENT) {
    if (!QDir().mkpath(folder))
      return StoreTexts::tr("the folder %1 cannot be made: %2")
          .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    ::chmod(QFile::encodeName(folder).constData(), 0700);
  }
  if (::lstat(QFile::encodeName(folder).constData(), &info) != 0)
    return StoreTexts::tr("the folder %1 cannot be read: %2")
        .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
  if (!S_ISDIR(info.st_mode)) return StoreTexts::tr("%1 is %2, not a folder").arg(folder, kindOf(info));
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    const QString file = path + QLatin1String(suffix);
    if (::lstat(QFile::encodeName(file).constData(), &info) == 0 && !S_ISREG(info.st_mode))
      return StoreTexts::tr("%1 is %2, not a regular file").arg(file, kindOf(info));
  }
  return std::nullopt;
}

void logProblem(Connection& c, const QString& problem) {
  if (c.logged == problem) return;
  c.logged = problem;
  systemLog(QStringLiteral("the update records cannot be kept: %1").arg(problem));
}

void closeLocked(Connection& c) {
  if (c.db) sqlite3_close_v2(c.db);
  c.db = nullptr;
  c.problem.reset();
}

// Opens the store (once per process, or after close()): the checks, the settings of this
// connection, the schema, and the files of earlier versions. Answers the connection or null.
sqlite3* openLocked(Connection& c) {
  if (c.db) return c.db;
  const QString path = currentPath(c);
  const auto fail = [&c, &path](const QString& why) -> sqlite3* {
    c.problem = StoreTexts::tr("%1 cannot be used: %2").arg(path, why);
    logProblem(c, *c.problem);
    if (c.db) sqlite3_close_v2(c.db);
    c.db = nullptr;
    return nullptr;
  };
  if (const std::optional<QString> problem = checkPlace(path)) return fail(*problem);
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
  c.db = db;
  if (rc != SQLITE_OK) {
    const int error = db ? sqlite3_system_errno(db) : 0;
    return fail(error ? QString::fromLocal8Bit(std::strerror(error))
                      : QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
  }
  sqlite3_busy_timeout(db, StateStore::kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 1);
  Sql sql(db);
  // WAL: readers never wait for a writer. FULL: a committed record survives a power loss too
  // (its commits are few).
  {
    SqlStatement mode = sql.prepare("PRAGMA journal_mode=WAL");
    if (!mode.next() || mode.text(0) != QLatin1String("wal")) return fail(sql.error());
  }
  if (!sql.exec("PRAGMA synchronous=FULL") || !sql.exec("BEGIN IMMEDIATE")) return fail(sql.error());
  int version = 0;
  {
    SqlStatement read = sql.prepare("PRAGMA user_version");
    if (read.next()) version = int(read.number(0));
  }
  if (version > kSchemaVersion) {
    sql.exec("ROLLBACK");
    return fail(StoreTexts::tr("it was written by a newer version of this application"));
  }
  QStringList taken;
  if (sql.exec(kSchema) && sql.exec("PRAGMA user_version=1") && importLegacyFiles(sql, path, &taken) &&
      sql.exec("COMMIT")) {
    renameAside(taken);
    return db;
  }
  const QString error = sql.error();
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return fail(error);
}

bool transact(const char* begin, const std::function<bool(Sql&)>& work, QString* why) {
  Connection& c = connection();
  const std::lock_guard guard(c.lock);
  sqlite3* db = openLocked(c);
  if (!db) {
    if (why) *why = c.problem.value_or(QString());
    return false;
  }
  Sql sql(db);
  if (sql.exec(begin) && work(sql) && !sql.failed() && sql.exec("COMMIT")) return true;
  const QString error = StoreTexts::tr("%1 cannot be written: %2").arg(currentPath(c), sql.error());
  if (sqlite3_get_autocommit(db) == 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  if (sql.failed()) {
    logProblem(c, error);
    if (why) *why = error;
  }
  return false;
}

}  // namespace

// ---- Statements --------------------------------------------------------------------------------

SqlStatement::SqlStatement(sqlite3* db, const char* sql, bool* failed) : db_(db), failed_(failed) {
  check(sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr));
}

SqlStatement::~SqlStatement() { sqlite3_finalize(statement_); }

void SqlStatement::check(int rc) {
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) *failed_ = true;
}

SqlStatement& SqlStatement::bind(int index, const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  if (statement_)
    check(sqlite3_bind_text(statement_, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT));
  return *this;
}

SqlStatement& SqlStatement::bind(int index, qint64 number) {
  if (statement_) check(sqlite3_bind_int64(statement_, index, number));
  return *this;
}

bool SqlStatement::next() {
  if (!statement_ || *failed_) return false;
  const int rc = sqlite3_step(statement_);
  check(rc);
  return rc == SQLITE_ROW;
}

bool SqlStatement::run() {
  while (next()) {
  }
  return statement_ && !*failed_;
}

QString SqlStatement::text(int column) const {
  const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
  return bytes ? QString::fromUtf8(bytes, sqlite3_column_bytes(statement_, column)) : QString();
}

qint64 SqlStatement::number(int column) const { return sqlite3_column_int64(statement_, column); }

bool Sql::exec(const char* sql) {
  if (failed_) return false;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  failed_ = true;
  return false;
}

QString Sql::error() const {
  const int error = sqlite3_system_errno(db_);
  const QString message = QString::fromUtf8(sqlite3_errmsg(db_));
  return error ? QStringLiteral("%1 (%2)").arg(message, QString::fromLocal8Bit(std::strerror(error)))
               : message;
}

// ---- The store ---------------------------------------------------------------------------------

bool StateStore::write(const std::function<bool(Sql&)>& work, QString* why) {
  return transact("BEGIN IMMEDIATE", work, why);
}

bool StateStore::read(const std::function<void(Sql&)>& work, QString* why) {
  return transact(
      "BEGIN",
      [&work](Sql& sql) {
        work(sql);
        return true;
      },
      why);
}

bool StateStore::writable(QString* why) {
  return write(
      [](Sql& sql) {
        return sql.prepare("INSERT OR REPLACE INTO meta (key, value) VALUES ('checked', ?)")
            .bind(1, QDateTime::currentDateTimeUtc().toString(Qt::ISODate))
            .run();
      },
      why);
}

std::optional<QString> StateStore::problem() {
  Connection& c = connection();
  const std::lock_guard guard(c.lock);
  openLocked(c);
  return c.problem;
}

QString StateStore::path() {
  Connection& c = connection();
  const std::lock_guard guard(c.lock);
  return currentPath(c);
}

void StateStore::setPath(const QString& path) {
  Connection& c = connection();
  const std::lock_guard guard(c.lock);
  closeLocked(c);
  c.path = path;
}

void StateStore::close() {
  Connection& c = connection();
  const std::lock_guard guard(c.lock);
  closeLocked(c);
}

}  // namespace pm
