#pragma once
// UpdateHistory: every update outcome on this machine, one JSON object per line in a file that is
// only ever appended to ($XDG_STATE_HOME/printer-maintenance/history.jsonl). The window and the
// command-line program record the same entries; `printer-maintenance-cli history` reads them. A
// line that is not an entry of ours (torn by a crash, edited by hand) is skipped, never trusted.
//
// Threads: [any]; appends are serialised by a lock and written with one write(2) each, so two
// processes appending at once do not interleave within a line.

#include <QDateTime>
#include <QList>
#include <QString>

namespace pm {

struct UpdateOutcome {
  QString printer;  // serial number ("" when the printer reported none)
  QString model;    // "PZA"
  QString from;     // firmware before ("PZA 01.00"); may be empty
  QString to;       // the target ("PZA 01.10")
  QString result;   // "success", "failed" or "refused"
  QString message;  // what happened, in words
  QDateTime time;   // UTC
  // Why an update ended without being done, for programs to tell apart what the words say:
  // "up-to-date", "declined", "busy" (another program holds the printer), "stopped" (Ctrl+C),
  // "not-ready" (the printer's status), "needs-older-update" (a firmware step is needed first);
  // empty for a done or failed update, and in entries recorded before reasons were.
  QString reason;
  QString title;  // the heading of `message` where the window shows one ("Printer Busy"); may be empty
};

class UpdateHistory {
 public:
  UpdateHistory() = delete;

  static void append(const UpdateOutcome& outcome);
  // Every readable entry, oldest first.
  static QList<UpdateOutcome> entries();

  static QString filePath();
  static void setFilePath(const QString& path);  // tests

  // `name` in the application's state directory: $XDG_STATE_HOME/printer-maintenance, else
  // ~/.local/state/printer-maintenance (Qt 6.4 has no state location yet). The update journal's
  // file lives there too. [any]
  static QString stateFile(const QString& name);
};

}  // namespace pm
