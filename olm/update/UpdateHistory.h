#pragma once
// UpdateHistory: every update outcome on this machine, kept in the state store (StateStore.h) with
// the update records. The window and the command-line program record the same entries;
// `printer-maintenance-cli history` reads them a bounded page at a time, newest first. Entries
// older than kMaxAge, and the oldest beyond kMaxEntries, are dropped as entries are added.
//
// Threads: [any] (the store serialises them).

#include <chrono>

#include <QDateTime>
#include <QList>
#include <QString>

namespace pm {

struct UpdateOutcome {
  QString printer;  // serial number ("" when the printer reported none)
  QString model;    // "PZA"
  QString from;     // firmware before ("PZA 01.00"); may be empty
  QString to;       // the target ("PZA 01.10")
  QString result;   // "success", "failed", "refused" or "abandoned"
  QString message;  // what happened, in words
  QDateTime time;   // UTC
  // Why an update ended without being done, for programs to tell apart what the words say:
  // "up-to-date", "declined", "busy" (another program holds the printer), "stopped" (Ctrl+C),
  // "not-ready" (the printer's status), "needs-older-update" (a firmware step is needed first);
  // empty for a done or failed update, and in entries recorded before reasons were.
  QString reason;
  QString title;  // the heading of `message` where the window shows one ("Printer Busy"); may be empty
};

// Which entries a page holds.
struct HistoryQuery {
  QString printer;  // only this serial number; empty: every printer
  QDateTime since;  // only entries at or after this time; invalid: any
  int limit = 100;  // at most this many, the newest
};

class UpdateHistory {
 public:
  UpdateHistory() = delete;

  static constexpr int kMaxEntries = 100000;
  static constexpr std::chrono::days kMaxAge{2 * 365};

  // Appends the outcome (logged when it cannot be).
  static void append(const UpdateOutcome& outcome);
  // Appends them all in one transaction (an import, a test's filling).
  static bool append(const QList<UpdateOutcome>& outcomes);
  // The newest entries the query asks for, newest first; nothing when the store cannot be read
  // (then `why` says where and why).
  static QList<UpdateOutcome> page(const HistoryQuery& query, QString* why = nullptr);
  // Every entry, oldest first.
  static QList<UpdateOutcome> entries();

  // The state store's file.
  static QString filePath();

  // `name` in the application's state folder (pm::stateDirectory(): its demo/ subfolder in demo
  // mode). [any]
  static QString stateFile(const QString& name);
};

}  // namespace pm
