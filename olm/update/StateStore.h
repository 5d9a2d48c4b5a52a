#pragma once
// StateStore: the one SQLite database, state.db in the state folder (StateLocation.h), that holds
// the update records (UpdateJournal) and the history (UpdateHistory) for every process of this
// user: the window, any number of command-line runs. Each change is one transaction that takes
// the database's write lock at its start (BEGIN IMMEDIATE), so a change reads and replaces what is
// there now, whichever process wrote last; nothing is kept between transactions. WAL lets readers
// go on while another process writes, and a busy time-out makes a process wait for another's
// transaction instead of failing.
//
// The store will not use a folder or file that is not a plain one of its own kind (a symbolic
// link, a FIFO, a device): problem() names the path and why, every read then finds nothing and
// every write fails (each problem is logged once). At its first opening it takes over the files
// of earlier versions found beside it (LegacyImport.h).
//
// Threads: [any]; the process's one connection is behind a mutex, held for each transaction (a
// transaction's work must not call into the store again).

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <optional>

#include <QString>

namespace pm {

// One prepared statement of the store's connection; finalized with it. An error ends the
// statement's transaction in a rollback.
class SqlStatement {
 public:
  SqlStatement(sqlite3* db, const char* sql, bool* failed);
  ~SqlStatement();
  SqlStatement(const SqlStatement&) = delete;
  SqlStatement& operator=(const SqlStatement&) = delete;

  SqlStatement& bind(int index, const QString& text);
  SqlStatement& bind(int index, qint64 number);
  // The next row; false at the end or on an error.
  bool next();
  // Runs it to its end; false on an error.
  bool run();
  QString text(int column) const;
  qint64 number(int column) const;

 private:
  void check(int rc);
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
  bool* failed_;
};

// A transaction's access to the database.
class Sql {
 public:
  explicit Sql(sqlite3* db) : db_(db) {}
  SqlStatement prepare(const char* sql) { return SqlStatement(db_, sql, &failed_); }
  bool exec(const char* sql);
  bool failed() const { return failed_; }
  QString error() const;
  qint64 changes() const { return sqlite3_changes64(db_); }

 private:
  sqlite3* db_;
  bool failed_ = false;
};

class StateStore {
 public:
  StateStore() = delete;

  // How long a transaction waits for another process's before it fails.
  static constexpr int kBusyTimeoutMs = 5000;

  // Runs `work` in one write transaction, committed when it answers true and no statement
  // failed, else rolled back. False (and why) when nothing was written.
  static bool write(const std::function<bool(Sql&)>& work, QString* why = nullptr);
  // Runs `work` in one read transaction (a consistent view). False when the store cannot be read.
  static bool read(const std::function<void(Sql&)>& work, QString* why = nullptr);
  // Whether a change can be written now (a real write, so a read-only folder, a full disk or
  // another process holding the store too long are all found); `why` names the path and reason.
  static bool writable(QString* why);
  // Why the store cannot be used, when it cannot be opened.
  static std::optional<QString> problem();

  // The database file: <state folder>/state.db unless a test set another.
  static QString path();
  // Another file (empty: the default); closes the connection. Tests.
  static void setPath(const QString& path);
  // Closes the connection; the next use opens the file again (start-up; a test's "new process").
  static void close();
};

}  // namespace pm
