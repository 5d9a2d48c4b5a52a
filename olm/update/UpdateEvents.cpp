#include "olm/update/UpdateEvents.h"

#include <atomic>
#include <mutex>

#include <QCoreApplication>
#include <QHash>
#include <QSet>

#include "olm/update/UpdateJournal.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

namespace pm {

namespace {

struct EventState {
  std::mutex lock;
  QHash<QString, int> open;  // updates begun and not yet ended, per printer (a retry may overlap)
  QSet<QString> ended;       // printers whose update has had its outcome and not begun again
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

void UpdateEvents::begin(const QString& printer) {
  const std::lock_guard guard(eventState().lock);
  eventState().ended.remove(printer);
  ++eventState().open[printer];
}

void UpdateEvents::progress(const UpdateProgress& event) {
  performAsyncOnMainQueue([event] { emit instance().progressed(event); });
}

void UpdateEvents::finish(const UpdateOutcome& outcome) {
  {
    const std::lock_guard guard(eventState().lock);
    int& open = eventState().open[outcome.printer];
    const bool twice = open == 0 && eventState().ended.contains(outcome.printer);
    if (open > 0) --open;
    if (twice)
      systemLogf("a second outcome for the update of %s: \"%s\"", qUtf8Printable(outcome.printer),
                 qUtf8Printable(outcome.message));
    Q_ASSERT_X(!twice, "UpdateEvents::finish", "an update ends once");
    if (open == 0) eventState().ended.insert(outcome.printer);
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
  eventState().stop = false;
}

}  // namespace pm
