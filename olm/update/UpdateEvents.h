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

#include <QObject>
#include <QString>

#include "olm/update/UpdateHistory.h"

namespace pm {

struct UpdateRecord;

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

  static void begin(const QString& printer);
  static void progress(const UpdateProgress& event);
  // The update's end: appended to the history, then announced.
  static void finish(const UpdateOutcome& outcome);
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
