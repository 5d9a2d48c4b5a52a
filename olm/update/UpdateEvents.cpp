#include "olm/update/UpdateEvents.h"

#include <atomic>
#include <mutex>

#include <QCoreApplication>
#include <QHash>
#include <QSet>

#include "olm/update/PrinterLock.h"
#include "olm/update/UpdateJournal.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

namespace pm {

namespace {

struct EventState {
  std::mutex lock;
  QSet<QString> open;                // printers whose update has begun and not yet ended
  QSet<QString> ended;               // printers whose update has had its outcome and not begun again
  QHash<QString, QString> lockKeys;  // the lock each open update holds, per printer
  UpdateEvents::Role role = UpdateEvents::Role::Drive;
  QStringList scope;  // the printers this process drives; empty: all
  std::atomic<bool> stop{false};
};

EventState& eventState() {
  static EventState s;
  return s;
}

// The outcome texts speak for the printer class: they share its translations.
struct EventTexts {
  Q_DECLARE_TR_FUNCTIONS(TBUSBPrinterOLM)
};

}  // namespace

QString progressKindName(UpdateProgress::Kind kind) {
  switch (kind) {
    case UpdateProgress::Kind::PhaseStarted:
      return QStringLiteral("phase-started");
    case UpdateProgress::Kind::BytesSent:
      return QStringLiteral("bytes-sent");
    case UpdateProgress::Kind::Restarting:
      return QStringLiteral("restarting");
    case UpdateProgress::Kind::Back:
      return QStringLiteral("back");
    case UpdateProgress::Kind::TablesWritten:
      return QStringLiteral("tables-written");
  }
  return {};
}

UpdateEvents& UpdateEvents::instance() {
  static UpdateEvents* events = new UpdateEvents;  // lives as long as the process: signals may be queued
  return *events;
}

void UpdateEvents::setRole(Role role, const QStringList& printers) {
  const std::lock_guard guard(eventState().lock);
  eventState().role = role;
  eventState().scope = printers;
}

UpdateEvents::Role UpdateEvents::role() {
  const std::lock_guard guard(eventState().lock);
  return eventState().role;
}

bool UpdateEvents::drives(const QString& printer) {
  const std::lock_guard guard(eventState().lock);
  return eventState().role == Role::Drive &&
         (eventState().scope.isEmpty() || eventState().scope.contains(printer));
}

std::optional<LockHolder> UpdateEvents::begin(const QString& printer, const QString& deviceKey) {
  const std::lock_guard guard(eventState().lock);
  EventState& state = eventState();
  // A printer has one update at a time here: beginning it again (the user proceeding after a
  // readiness alert, the printer returning between two phases) is the same update, with the same
  // lock and one outcome.
  if (!state.open.contains(printer)) {
    const QString key = PrinterLock::keyFor(printer, deviceKey);
    if (std::optional<LockHolder> holder = PrinterLock::take(key)) return holder;
    state.lockKeys.insert(printer, key);
    state.open.insert(printer);
  }
  state.ended.remove(printer);
  return std::nullopt;
}

void UpdateEvents::busy(const QString& printer, const LockHolder& holder) {
  UpdateOutcome outcome;
  outcome.printer = printer;
  outcome.result = QStringLiteral("refused");
  outcome.reason = QStringLiteral("busy");
  outcome.title = EventTexts::tr("Being updated by another program");
  outcome.message = EventTexts::tr("%1 holds the printer; nothing was done.").arg(holder.describe());
  outcome.time = QDateTime::currentDateTimeUtc();
  systemLog(QStringLiteral("%1: %2").arg(printer, outcome.message));
  performAsyncOnMainQueue([outcome] { emit instance().finished(outcome); });
}

void UpdateEvents::progress(const UpdateProgress& event) {
  performAsyncOnMainQueue([event] { emit instance().progressed(event); });
}

void UpdateEvents::finish(const UpdateOutcome& outcome) {
  {
    const std::lock_guard guard(eventState().lock);
    EventState& state = eventState();
    const bool twice = !state.open.contains(outcome.printer) && state.ended.contains(outcome.printer);
    // A printer that leaves during a step can be ended by that step and by its return watch; the
    // log keeps the second for whoever looks into it.
    if (twice)
      systemLogf("a second outcome for the update of %s: \"%s\"", qUtf8Printable(outcome.printer),
                 qUtf8Printable(outcome.message));
    state.open.remove(outcome.printer);
    state.ended.insert(outcome.printer);
    if (const QString key = state.lockKeys.take(outcome.printer); !key.isNull()) PrinterLock::release(key);
  }
  UpdateHistory::append(outcome);
  performAsyncOnMainQueue([outcome] { emit instance().finished(outcome); });
}

void UpdateEvents::finish(const UpdateRecord& record, const QString& result, const QString& message,
                          const QString& reason) {
  UpdateOutcome outcome;
  outcome.printer = record.serialNumber;
  outcome.model = record.model;
  outcome.from = record.fromVersion;
  outcome.to = record.targetVersion;
  outcome.result = result;
  outcome.message = QString(message).replace(QLatin1Char('\n'), QLatin1Char(' ')).simplified();
  outcome.time = QDateTime::currentDateTimeUtc();
  outcome.reason = reason;
  finish(outcome);
}

void UpdateEvents::requestStop() { eventState().stop = true; }

bool UpdateEvents::stopRequested() { return eventState().stop.load(); }

QString UpdateEvents::stoppedState(const UpdateRecord& record) {
  const QString from = record.fromVersion.isEmpty() ? EventTexts::tr("its old firmware") : record.fromVersion;
  return (record.stage >= UpdateStage::ImageSent
              ? EventTexts::tr(
                    "Stopped: %1 has been sent firmware %2 but its colour tables are not written yet.")
                    .arg(record.printerName(), record.targetVersion)
              : EventTexts::tr(
                    "Stopped: %1 was asked to restart into its firmware update mode; it still has %2 "
                    "and its colour tables.")
                    .arg(record.printerName(), from)) +
         QLatin1Char(' ') + EventTexts::tr("Keep it connected and run the update again to finish it.");
}

void UpdateEvents::reset() {
  const std::lock_guard guard(eventState().lock);
  eventState().ended.clear();
  eventState().open.clear();
  for (const QString& key : std::as_const(eventState().lockKeys)) PrinterLock::release(key);
  eventState().lockKeys.clear();
  eventState().role = Role::Drive;
  eventState().scope.clear();
  eventState().stop = false;
}

}  // namespace pm
