#include "olm/update/QuitGuard.h"

#include <utility>

#include <QCoreApplication>

#include "olm/update/PrinterLock.h"
#include "olm/update/UpdateEvents.h"
#include "olm/update/UpdateJournal.h"
#include "support/AlertPresenter.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

namespace pm {

namespace {

// The question speaks for the printer class: its texts share that class's translations.
struct QuitTexts {
  Q_DECLARE_TR_FUNCTIONS(TBUSBPrinterOLM)
};

bool& asking() {
  static bool shown = false;  // main thread only
  return shown;
}

const QString kQuestionKey = QStringLiteral("quit-during-update");

QString questionText(const QString& unfinished) {
  return unfinished + QStringLiteral("\n\n") +
         QuitTexts::tr(
             "If you quit now, the update goes on the next time this application runs with the "
             "printer connected. Until then the printer may not print correctly.");
}

// The question stands only while an update is unfinished: it follows the updates' progress and
// goes once the last one has ended.
void followUpdates() {
  static bool following = false;
  if (std::exchange(following, true)) return;
  const auto review = [] {
    if (!asking()) return;
    AlertPresenter* presenter = alertPresenter();
    if (presenter == nullptr) return;
    const QString unfinished = unfinishedUpdatesText();
    if (unfinished.isEmpty()) presenter->withdraw(kQuestionKey);
    else presenter->revise(kQuestionKey, questionText(unfinished));
  };
  // Queued: the journal changes around the events, not necessarily before them.
  QObject::connect(&UpdateEvents::instance(), &UpdateEvents::finished, &UpdateEvents::instance(), review,
                   Qt::QueuedConnection);
  QObject::connect(&UpdateEvents::instance(), &UpdateEvents::progressed, &UpdateEvents::instance(), review,
                   Qt::QueuedConnection);
}

}  // namespace

QString unfinishedUpdatesText() {
  QStringList lines;
  for (const UpdateRecord& record : UpdateJournal::records()) {
    // Another process's update goes on whether this one quits or not.
    if (PrinterLock::heldElsewhere(PrinterLock::keyFor(record.serialNumber, record.deviceKey))) continue;
    const QString left =
        record.stage == UpdateStage::RestartRequested
            ? QuitTexts::tr(
                  "it was asked to restart into its firmware update mode; its firmware is unchanged")
            : QuitTexts::tr("it has been sent firmware %1; its colour tables are not all written")
                  .arg(record.targetVersion);
    lines << QStringLiteral("• %1: %2").arg(record.printerName(), left);
  }
  return lines.join(QLatin1Char('\n'));
}

void quitWhenConfirmed(std::function<void()> quit) {
  Q_ASSERT(isMainQueue());
  const QString unfinished = unfinishedUpdatesText();
  AlertPresenter* presenter = alertPresenter();
  if (unfinished.isEmpty() || presenter == nullptr) {
    if (quit) quit();
    return;
  }
  if (asking()) return;
  asking() = true;
  systemLog(QStringLiteral("asking before quitting: a firmware update is not finished"));
  AlertRequest request;
  request.title = QuitTexts::tr("A firmware update is not finished");
  request.message = questionText(unfinished);
  request.buttons = {QuitTexts::tr("Keep Running"), QuitTexts::tr("Quit Anyway")};
  request.escapeButton = 0;
  request.key = kQuestionKey;
  request.style = AlertStyle::Critical;
  followUpdates();
  presenter->present(request, [quit = std::move(quit)](const AlertAnswer& answer) {
    asking() = false;
    if (answer.returnCode == pm::kAlertSecondButtonReturn && quit) quit();
  });
}

void archiveAbandonedUpdates() {
  Q_ASSERT(isMainQueue());
  if (UpdateEvents::role() == UpdateEvents::Role::Observe) return;  // reading never writes
  const QList<UpdateRecord> abandoned = UpdateJournal::archiveStale();
  AlertPresenter* presenter = alertPresenter();
  if (abandoned.isEmpty() || presenter == nullptr) return;
  QStringList names;
  for (const UpdateRecord& record : abandoned) names << QStringLiteral("• %1").arg(record.printerName());
  AlertRequest request;
  request.title = QuitTexts::tr("An unfinished firmware update was abandoned");
  request.message = names.join(QLatin1Char('\n')) + QStringLiteral("\n\n") +
                    QuitTexts::tr(
                        "These printers have not been connected for %1 days. Their unfinished updates are "
                        "recorded in the history as abandoned. Connect such a printer and update it again.")
                        .arg(UpdateJournal::kAbandonedAfter.count());
  request.buttons = {QuitTexts::tr("OK")};
  presenter->present(request, [](const AlertAnswer&) {});
}

}  // namespace pm
