#pragma once
// UpdateEvents: what a firmware update tells whoever started it (the window, the command-line
// program), beside the alerts it shows. Progress comes as events (a phase started, the image
// sent, the printer restarting and back, the colour tables written); every update ends in exactly
// one outcome (success, failed or refused, from and to, in words), which is also appended to the
// machine's history. The printer objects come and go with each restart, so the events are the
// process's, keyed by the printer's serial number, not a printer object's.
//
// An update begins when the user starts it, when a printer in an update returns, or when a printer
// found in its loader is offered the upload; it has one outcome until it begins again (debug
// builds assert a second one). A stop request (Ctrl+C in the command-line program) makes the
// update end at its next point where stopping is safe: before its first write, or when the
// printer returns between the phases; the journal lets the next run finish.
//
// Threads: every static member is [any]; the signals are emitted on the main thread.

#include <optional>

#include <QObject>
#include <QString>
#include <QStringList>

#include "olm/update/UpdateHistory.h"

namespace pm {

struct UpdateRecord;
struct LockHolder;

struct UpdateProgress {
  enum class Kind { PhaseStarted, BytesSent, Restarting, Back, TablesWritten };
  QString printer;  // serial number
  Kind kind = Kind::PhaseStarted;
  int phase = 0;     // PhaseStarted and Restarting: 1..3
  qint64 count = 0;  // BytesSent: bytes of the image; TablesWritten: tables
};

// "phase-started", "bytes-sent", "restarting", "back", "tables-written".
QString progressKindName(UpdateProgress::Kind kind);

class UpdateEvents final : public QObject {
  Q_OBJECT

 public:
  static UpdateEvents& instance();

  // What this process does with updates: drive them (resume, start, answer loaders) or only
  // observe and report them. Driving may be limited to some printers (serial numbers; empty: all).
  enum class Role { Drive, Observe };
  static void setRole(Role role, const QStringList& printers = {});
  static Role role();  // [any]
  // Whether this process drives the update of `printer` (serial number). [any]
  static bool drives(const QString& printer);

  // An update of `printer` (serial number; `deviceKey` names a printer without one) begins: its
  // lock is taken for this process. Answers who holds it when another process does (or why it
  // cannot be had); the update must then not touch the printer, and it has no outcome here.
  [[nodiscard]] static std::optional<LockHolder> begin(const QString& printer, const QString& deviceKey);
  static void progress(const UpdateProgress& event);
  // The update's end: appended to the history, then announced; the printer's lock goes with the
  // last update of it begun here.
  static void finish(const UpdateOutcome& outcome);
  // The printer is held by another process: announced as refused for the reason "busy", never
  // recorded (the printer was not touched).
  static void busy(const QString& printer, const LockHolder& holder);
  // The same, for an update known only by its record (the printer object is gone).
  static void finish(const UpdateRecord& record, const QString& result, const QString& message,
                     const QString& reason = {});

  static void requestStop();
  static bool stopRequested();
  // Where a stopped update leaves its printer, in words, by the record's stage.
  static QString stoppedState(const UpdateRecord& record);
  // Forgets the stop request and which updates have ended (tests).
  static void reset();

 signals:
  void progressed(const pm::UpdateProgress& event);
  void finished(const pm::UpdateOutcome& outcome);

 private:
  UpdateEvents() = default;
};

}  // namespace pm
