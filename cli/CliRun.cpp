#include "cli/CliRun.h"

#include <unistd.h>

#include <functional>
#include <limits>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include "app/TBPrinters.h"
#include "cli/InterruptWatch.h"
#include "cli/JsonOutput.h"
#include "cli/MetricsReport.h"
#include "cli/PrinterReport.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/PrinterLock.h"
#include "olm/update/UpdateEvents.h"
#include "olm/update/UpdateHistory.h"
#include "olm/update/UpdateJournal.h"
#include "olm/update/UpdateReturnWatch.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"
#include "support/ToolProcess.h"

namespace pm::cli {

namespace {

// How long the printers present at start may take to be read: an attach reads about twenty
// values, each bounded by its own time-out, and a printer held by another program never is.
constexpr int kProbeBoundMs = 20000;
// A printer plugged in (or restarting) while we wait is given this long to appear.
constexpr int kArrivalSettleMs = 500;
// The last resort for a whole update run; each step has its own, much shorter bound (the printer
// not coming back is told after 90 s).
constexpr int kUpdateBoundMs = 30 * 60 * 1000;

AnswerPolicy policyFor(const Options& options) {
  AnswerPolicy policy;
  policy.yes = options.yes;
  policy.removeQueues = options.queues == QueueChoice::Remove;
  policy.keepQueues = options.queues == QueueChoice::Keep;
  // Only the commands that change a printer ask; list and history never wait for an answer.
  const bool changes = options.command == Command::Update || options.command == Command::ResetCounter ||
                       options.command == Command::UsbSerial;
  policy.interactive = changes && ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO);
  return policy;
}

// Runs the event loop until `done` holds or `boundMs` has passed; answers `done()`.
bool waitUntil(const std::function<bool()>& done, int boundMs) {
  QEventLoop loop;
  QTimer poll;
  QElapsedTimer clock;
  clock.start();
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done() || clock.elapsed() >= boundMs) loop.quit();
  });
  poll.start(20);
  if (!done()) loop.exec();
  return done();
}

// This process's hold on one printer for a change that is not an update (a counter reset, the USB
// serial-number switch): taken before the first question, given back at the end of the command.
class PrinterHold {
 public:
  explicit PrinterHold(const TBUSBPrinterOLM& printer)
      : key_(PrinterLock::keyFor(printer.identitySerialNumber(), printer.keyUSBdevice())),
        other_(PrinterLock::take(key_)) {}
  ~PrinterHold() {
    if (!other_) PrinterLock::release(key_);
  }
  PrinterHold(const PrinterHold&) = delete;
  PrinterHold& operator=(const PrinterHold&) = delete;
  // Who holds the printer instead; nullopt when this process does.
  const std::optional<LockHolder>& otherHolder() const { return other_; }

 private:
  const QString key_;
  const std::optional<LockHolder> other_;
};

}  // namespace

CliRun::CliRun(const Options& options, QObject* parent)
    : QObject(parent), options_(options), out_(stdout), err_(stderr), presenter_(policyFor(options)) {
  setAlertPresenter(&presenter_);
}

CliRun::~CliRun() { setAlertPresenter(nullptr); }

int CliRun::exec() {
  Q_ASSERT(isMainQueue());
  switch (options_.command) {
    case Command::Help:
      out_ << usageText();
      return kDone;
    case Command::Version:
      out_ << "printer-maintenance-cli " << QCoreApplication::applicationVersion() << '\n';
      return kDone;
    case Command::History:
      return history();
    case Command::Metrics:
      return metrics();
    case Command::List:
      return list();
    case Command::Update:
      return update();
    case Command::ResetCounter:
      return resetCounter();
    case Command::UsbSerial:
      return usbSerial();
  }
  return kUsage;
}

void CliRun::waitForPrinters(int extraSeconds) {
  controller_->awakeFromNib();
  QElapsedTimer clock;
  clock.start();
  // Read, or known not to be readable now: a printer that cannot be opened (held by another
  // program, no permission) shows why in its USB status and is listed as it is. A printer still
  // reading its identity is not listed yet, however long a slow device takes to say who it is.
  const auto allRead = [this] {
    if (controller_->arrivingCount() > 0) return false;
    for (const TBPrinters::PrinterRef& printer : controller_->printers())
      if (!printer->attachReadsDone() && printer->status().isEmpty() && !printer->inFirmwareUpdate())
        return false;
    return true;
  };
  QEventLoop loop;
  QTimer poll;
  qint64 lastChange = 0;
  int lastCount = -1;
  connect(&poll, &QTimer::timeout, &loop, [&] {
    const qint64 now = clock.elapsed();
    if (controller_->count() != lastCount) {
      lastCount = controller_->count();
      lastChange = now;
    }
    const bool settled = now - lastChange >= kArrivalSettleMs && allRead();
    if ((settled && now >= extraSeconds * 1000LL) || now >= kProbeBoundMs + extraSeconds * 1000LL)
      loop.quit();
  });
  poll.start(20);
  loop.exec();
}

QList<PrinterFacts> CliRun::readPrinters() {
  // Reading never writes: no update is carried on, started or declined from here.
  UpdateEvents::setRole(UpdateEvents::Role::Observe);
  TBPrinters controller;
  controller_ = &controller;
  waitForPrinters(options_.waitSeconds);
  QList<PrinterFacts> printers;
  for (const TBPrinters::PrinterRef& printer : controller.printers()) printers.append(factsOf(*printer));
  controller_ = nullptr;
  return printers;
}

int CliRun::list() {
  const QList<PrinterFacts> printers = readPrinters();
  if (options_.json) {
    QJsonArray array;
    for (const PrinterFacts& facts : printers) array.append(toJson(facts));
    out_ << jsonLine(QJsonObject{{QStringLiteral("printers"), array}}) << '\n';
  } else if (printers.isEmpty()) {
    out_ << tr("No supported printer is connected.") << '\n';
  } else {
    out_ << textTable(printers);
  }
  out_.flush();
  return kDone;
}

int CliRun::metrics() {
  const QString text = metricsText(readPrinters(), UpdateHistory::entries());
  if (options_.output.isEmpty()) {
    out_ << text;
    out_.flush();
    return kDone;
  }
  QString why;
  if (writeAtomically(options_.output, text, &why)) return kDone;
  err_ << "printer-maintenance-cli: " << tr("could not write %1: %2").arg(options_.output, why) << '\n';
  return kFailed;
}

int CliRun::history() {
  QString why;
  const QList<UpdateOutcome> entries =
      UpdateHistory::page({options_.printers.value(0), options_.since, options_.limit}, &why);
  if (!why.isEmpty()) {
    err_ << "printer-maintenance-cli: " << tr("the update history cannot be read: %1").arg(why) << '\n';
    err_.flush();
    return kFailed;
  }
  if (options_.json) {
    for (const UpdateOutcome& e : entries) out_ << jsonLine(outcomeJson(e)) << '\n';
  } else if (entries.isEmpty()) {
    out_ << (options_.printers.isEmpty() && !options_.since.isValid()
                 ? tr("No update has been recorded on this machine.")
                 : tr("No recorded update matches."))
         << '\n';
  } else {
    for (const UpdateOutcome& e : entries)
      out_ << e.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) << "  "
           << (e.printer.isEmpty() ? e.model : e.printer) << "  "
           << (e.from.isEmpty() ? QStringLiteral("?") : e.from) << " -> " << e.to << "  " << recordedWord(e)
           << (e.message.isEmpty() ? QString() : QStringLiteral("  (%1)").arg(e.message)) << '\n';
  }
  out_.flush();
  return kDone;
}

}  // namespace pm::cli

namespace pm::cli {

std::shared_ptr<TBUSBPrinterOLM> CliRun::namedPrinter(TBPrinters& controller) {
  controller_ = &controller;
  // These commands change one setting; updates of any printer are left to `update`.
  UpdateEvents::setRole(UpdateEvents::Role::Observe);
  presenter_.setScope(options_.printers);
  waitForPrinters(0);
  controller_ = nullptr;
  const QString serial = options_.printers.value(0);
  for (const TBPrinters::PrinterRef& printer : controller.printers())
    if (printer->identitySerialNumber() == serial) return printer;
  err_ << "printer-maintenance-cli: " << tr("no printer with serial number %1 is connected").arg(serial)
       << '\n';
  err_.flush();
  return nullptr;
}

bool CliRun::confirmed(const TBUSBPrinterOLM& printer, const QString& title, const QString& message,
                       const QString& goAhead) {
  AlertRequest request;
  request.title = title;
  request.message = message;
  request.buttons = {goAhead, TBUSBPrinterOLM::tr("Cancel")};
  request.acceptButton = 0;
  request.escapeButton = 1;
  request.printerName = printer.printerName();
  request.serialNumber = printer.identitySerialNumber();
  std::optional<bool> answer;
  presenter_.present(request, [&answer](const AlertAnswer& a) {
    answer = a.returnCode == pm::kAlertFirstButtonReturn && !a.dismissed;
  });
  // A person may take their time; the presenter answers at once without a terminal.
  waitUntil([this, &answer] { return answer.has_value() || abandoned_; }, std::numeric_limits<int>::max());
  return answer.value_or(false);
}

int CliRun::resetCounter() {
  TBPrinters controller;
  const std::shared_ptr<TBUSBPrinterOLM> printer = namedPrinter(controller);
  if (!printer) return kNoPrinter;
  const QString letter(QChar::fromLatin1(options_.counter));
  const PrinterHold hold(*printer);
  if (hold.otherHolder()) {
    err_ << tr("Counter %1 of %2 was not reset: %3")
                .arg(letter, printer->printerName(), busyText(*hold.otherHolder()))
         << '\n';
    return kFailed;  // not the user's choice: the counter still counts
  }
  InterruptWatch interrupts;
  connect(&interrupts, &InterruptWatch::interrupted, this, &CliRun::abandonWaits);
  connect(&interrupts, &InterruptWatch::hungUp, this, &CliRun::hangUp);
  if (!confirmed(*printer, tr("Reset counter %1 of %2?").arg(letter, printer->printerName()),
                 tr("The counter starts again from zero. This cannot be undone."), tr("Reset"))) {
    err_ << tr("Counter %1 was not reset.").arg(letter) << '\n';
    return kRefused;
  }
  std::optional<std::pair<bool, QString>> result;
  printer->properties().resetCounter(options_.counter, [&result](bool reset, const QString& why) {
    result = {reset, why};
  });
  waitUntil([&result] { return result.has_value(); }, kProbeBoundMs);
  if (result && result->first) {
    err_ << tr("Counter %1 of %2 was reset to zero.").arg(letter, printer->printerName()) << '\n';
    return kDone;
  }
  // No reason: the busy alert was cancelled (the presenter cancels it: nobody waits for the other program).
  const bool busy = result && result->second.isEmpty();
  const QString why = !result ? TBUSBPrinterOLM::tr("The printer did not answer.")
                      : busy  ? tr("the printer is in use by another program.")
                              : result->second;
  err_ << tr("Counter %1 of %2 was not reset: %3").arg(letter, printer->printerName(), why) << '\n';
  // Held by another program is not the user's choice: the counter still counts (exit 1).
  return kFailed;
}

int CliRun::usbSerial() {
  TBPrinters controller;
  const std::shared_ptr<TBUSBPrinterOLM> printer = namedPrinter(controller);
  if (!printer) return kNoPrinter;
  const bool on = options_.usbSerialOn;
  const PrinterHold hold(*printer);
  if (hold.otherHolder()) {
    err_ << tr("The USB serial number of %1 was not changed: %2")
                .arg(printer->printerName(), busyText(*hold.otherHolder()))
         << '\n';
    return kFailed;
  }
  InterruptWatch interrupts;
  connect(&interrupts, &InterruptWatch::interrupted, this, &CliRun::abandonWaits);
  connect(&interrupts, &InterruptWatch::hungUp, this, &CliRun::hangUp);
  if (!printer->properties().hasISerialSupport() || printer->properties().usbISerialString().isEmpty()) {
    err_ << "printer-maintenance-cli: "
         << (printer->properties().hasISerialSupport()
                 ? tr("the USB serial number of %1 cannot be switched (not read)")
                 : tr("the USB serial number of %1 cannot be switched (not supported)"))
                .arg(printer->printerName())
         << (printer->status().isEmpty() ? QString() : QStringLiteral(": ") + printer->status()) << '\n';
    // Not the user's choice: held by another program, or not answering (exit 1).
    return kFailed;
  }
  if (printer->properties().usbISerial() == on) {
    err_ << (on ? tr("The USB serial number of %1 is already on.")
                : tr("The USB serial number of %1 is already off."))
                .arg(printer->printerName())
         << '\n';
    return kDone;
  }
  if (!confirmed(
          *printer,
          (on ? tr("Switch the USB serial number of %1 on?") : tr("Switch the USB serial number of %1 off?"))
              .arg(printer->printerName()),
          tr("The printer must be switched off and on afterwards. Print queues that reach it "
             "by its USB serial number will not find it any more."),
          tr("Switch"))) {
    err_ << tr("The USB serial number was not changed.") << '\n';
    return kRefused;
  }
  std::optional<std::pair<bool, QString>> result;
  printer->properties().setEnabledUSBSerial(on, [&result](bool written, const QString& why) {
    result = {written, why};
  });
  // The print-queue question may wait for a person (a signal ends the wait: abandonWaits).
  waitUntil([this, &result] { return result.has_value() || abandoned_; }, std::numeric_limits<int>::max());
  waitUntil([] { return false; }, 50);  // the power-cycle advice reaches the terminal
  if (result && result->first) {
    err_ << (on ? tr("The USB serial number of %1 is now on; switch the printer off and on to complete the "
                     "change.")
                : tr("The USB serial number of %1 is now off; switch the printer off and on to complete the "
                     "change."))
                .arg(printer->printerName())
         << '\n';
    return kDone;
  }
  if (!result) {
    err_ << tr("The USB serial number of %1: stopped before the printer confirmed the change.")
                .arg(printer->printerName())
         << '\n';
    return kFailed;
  }
  err_ << tr("The USB serial number of %1 was not changed: %2").arg(printer->printerName(), result->second)
       << '\n';
  return kFailed;
}

void CliRun::showProgress(const UpdateProgress& event) {
  if (!results_.contains(event.printer) && !options_.all) return;
  // A loader that reports no serial number is not waited for under that blank: its update's
  // outcome comes under the serial number its record keeps.
  if (!results_.contains(event.printer) && !event.printer.isEmpty())
    results_.insert(event.printer, QString());
  if (!results_.value(event.printer).isEmpty()) return;
  QString line;
  switch (event.kind) {
    case UpdateProgress::Kind::PhaseStarted:
      line = tr("phase %1 of 3: %2")
                 .arg(event.phase)
                 .arg(event.phase == 1   ? tr("asking the printer to restart into its firmware update mode")
                      : event.phase == 2 ? tr("sending the firmware")
                                         : tr("writing the colour tables"));
      break;
    case UpdateProgress::Kind::BytesSent:
      line = tr("%1 bytes of firmware sent").arg(event.count);
      break;
    case UpdateProgress::Kind::Restarting:
      line = tr("the printer restarts");
      break;
    case UpdateProgress::Kind::Back:
      line = tr("the printer is back");
      break;
    case UpdateProgress::Kind::TablesWritten:
      line = tr("%1 colour tables written").arg(event.count);
      break;
  }
  err_ << event.printer << ": " << line << '\n';
  err_.flush();
  if (!options_.json) return;
  out_ << jsonLine(progressJson(event)) << '\n';
  out_.flush();
}

// The first outcome of a printer's update is its result; the update code gives one per update.
void CliRun::showOutcome(const UpdateOutcome& outcome) {
  if (!results_.contains(outcome.printer) && !options_.all) return;
  if (!results_.value(outcome.printer).isEmpty()) return;
  const QString word = resultWord(resultOf(outcome));
  results_.insert(outcome.printer, word);
  const QString said =
      outcome.title.isEmpty() ? outcome.message : outcome.title + QStringLiteral(": ") + outcome.message;
  err_ << outcome.printer << ": " << word << (said.isEmpty() ? QString() : QStringLiteral(": ") + said)
       << '\n';
  err_.flush();
  if (!options_.json) return;
  out_ << jsonLine(outcomeJson(outcome)) << '\n';
  out_.flush();
}

QString CliRun::busyText(const LockHolder& holder) {
  return tr("it is being changed by another program (%1); nothing was done.").arg(holder.describe());
}

// The terminal went away: nobody can answer a question any more, and nobody reads the output. A
// change under way still runs to its verified end (or its next safe stop) and is recorded; the
// questions still to come are answered no.
void CliRun::hangUp() {
  systemLog(QStringLiteral("the terminal hung up; what is under way goes on to its end without questions"));
  presenter_.stopAsking();
}

// Ctrl+C or SIGTERM outside an update: no more questions, tools still running are ended, and the
// command ends with what it has.
void CliRun::abandonWaits() {
  abandoned_ = true;
  presenter_.stopAsking();
  pm::endRunningTools();
}

void CliRun::stopUpdates() {
  if (stopping_) return;
  stopping_ = true;
  err_ << tr("Stopping: each update stops at its next safe point.") << '\n';
  err_.flush();
  UpdateEvents::requestStop();
  presenter_.stopAsking();
}

int CliRun::update() {
  // This run carries on (or starts) the updates of the printers it was given, and only theirs.
  UpdateEvents::setRole(UpdateEvents::Role::Drive, options_.all ? QStringList() : options_.printers);
  TBPrinters controller;
  controller_ = &controller;
  for (const QString& serial : options_.printers) results_.insert(serial, QString());
  // Subscribed before discovery: a printer returning in an unfinished update goes on at once.
  UpdateEvents& events = UpdateEvents::instance();
  const QMetaObject::Connection progressed =
      connect(&events, &UpdateEvents::progressed, this, &CliRun::showProgress);
  const QMetaObject::Connection finished =
      connect(&events, &UpdateEvents::finished, this, &CliRun::showOutcome);
  InterruptWatch interrupts;
  connect(&interrupts, &InterruptWatch::interrupted, this, &CliRun::stopUpdates);
  connect(&interrupts, &InterruptWatch::hungUp, this, &CliRun::hangUp);
  if (!options_.all) presenter_.setScope(options_.printers);
  presenter_.setOutcomesTold(true);
  waitForPrinters(0);

  const auto present = [&controller](const QString& serial) -> TBPrinters::PrinterRef {
    for (const TBPrinters::PrinterRef& printer : controller.printers())
      if (printer->identitySerialNumber() == serial) return printer;
    return nullptr;
  };
  if (options_.all) {
    // A printer not yet identified is one returning from a restart of its update: its events name it.
    for (const TBPrinters::PrinterRef& printer : controller.printers())
      if (const QString serial = printer->identitySerialNumber();
          !serial.isEmpty() && !results_.contains(serial))
        results_.insert(serial, QString());
    if (results_.isEmpty())
      err_ << "printer-maintenance-cli: " << tr("no supported printer is connected; nothing to do") << '\n';
  }
  const QStringList targets = results_.keys();
  for (const QString& serial : targets) {
    if (!results_.value(serial).isEmpty()) continue;
    const TBPrinters::PrinterRef printer = present(serial);
    const auto recorded = [serial] {
      for (const UpdateRecord& record : UpdateJournal::records())
        if (record.serialNumber == serial) return true;
      return false;
    };
    // Another process is changing it (its update, between two phases or not): not touched here.
    if (const std::optional<LockHolder> holder =
            PrinterLock::heldElsewhere(PrinterLock::keyFor(serial, QString()))) {
      UpdateEvents::busy(serial, *holder);
      continue;
    }
    if (printer) {
      if (const std::optional<LockHolder> holder = printer->update().heldElsewhere()) {
        UpdateEvents::busy(serial, *holder);
        continue;
      }
    }
    // Restarting between two phases of its update: it goes on when the printer returns.
    if (!printer && recorded()) continue;
    if (!printer) {
      err_ << "printer-maintenance-cli: " << tr("no printer with serial number %1 is connected").arg(serial)
           << '\n';
      results_.insert(serial, resultWord(PrinterResult::NotFound));
      if (options_.json) out_ << jsonLine(unstartedJson(serial, PrinterResult::NotFound)) << '\n';
      continue;
    }
    // An update under way goes on by itself, and a printer waiting in its loader was offered its
    // upload when it was found; the others start here.
    const bool inLoader = printer->printerStatus() ==
                          TBUSBPrinterOLM::stringForKTStatusString(TBUSBPrinterOLM::kUpdateModeCode);
    if (printer->update().updateRecord() || printer->inFirmwareUpdate() || inLoader) continue;
    // Ctrl+C before its update began: nothing written, and said so.
    if (stopping_) {
      results_.insert(serial, resultWord(PrinterResult::Stopped));
      if (options_.json) out_ << jsonLine(unstartedJson(serial, PrinterResult::Stopped)) << '\n';
      continue;
    }
    printer->update().updateFirmware(options_.allowOlder);
  }
  err_.flush();

  // Ctrl+C: a printer away between two phases stops there (its record finishes the update later).
  QSet<QString> stoppedHere;
  QHash<QString, qint64> awaySince;
  QElapsedTimer clock;
  clock.start();
  // Ctrl+C, or a printer away longer than the return watch allows (it is not connected): its
  // update ends here, said from its journal record.
  const auto stoppedAway = [&] {
    for (auto it = results_.cbegin(); it != results_.cend(); ++it) {
      if (!it.value().isEmpty() || stoppedHere.contains(it.key())) continue;
      if (present(it.key())) {
        awaySince.remove(it.key());
        continue;
      }
      if (!awaySince.contains(it.key())) awaySince.insert(it.key(), clock.elapsed());
      // After the return watch of this process, which says the same when it ran here.
      if (!stopping_ && clock.elapsed() - awaySince.value(it.key()) < UpdateReturnWatch::timeoutMs() + 5000)
        continue;
      for (const UpdateRecord& record : UpdateJournal::records()) {
        if (record.serialNumber != it.key()) continue;
        stoppedHere.insert(it.key());
        // Another process took the printer up meanwhile: its update, its outcome.
        if (const std::optional<LockHolder> holder =
                PrinterLock::heldElsewhere(PrinterLock::keyFor(record.serialNumber, record.deviceKey))) {
          UpdateEvents::busy(record.serialNumber, *holder);
          continue;
        }
        UpdateEvents::finish(
            record, QStringLiteral("failed"),
            (stopping_ ? QString() : TBUSBPrinterOLM::tr("The printer has not come back.") + u' ') +
                UpdateEvents::stoppedState(record),
            stopping_ ? QStringLiteral("stopped") : QString());
      }
    }
  };
  const bool allDone = waitUntil(
      [&] {
        stoppedAway();
        for (const QString& result : std::as_const(results_))
          if (result.isEmpty()) return false;
        return true;
      },
      kUpdateBoundMs);
  QCoreApplication::sendPostedEvents();
  ResultTally tally;
  for (auto it = results_.cbegin(); it != results_.cend(); ++it) {
    if (it.value().isEmpty())
      err_ << it.key() << ": " << tr("the update did not end within %1 minutes").arg(kUpdateBoundMs / 60000)
           << '\n';
    tally.add(resultFromWord(it.value()).value_or(PrinterResult::Failed));
  }
  Q_UNUSED(allDone);
  const int status = tally.exitStatus();
  if (presenter_.declinedUnasked() > 0 && status == kRefused)
    err_ << tr("Nothing was written: there was no terminal to ask. Give --yes to answer yes.") << '\n';
  err_ << tr("Summary: %1").arg(tally.summaryText()) << '\n';
  err_.flush();
  if (options_.json) out_ << jsonLine(tally.summaryJson()) << '\n';
  out_.flush();
  disconnect(progressed);
  disconnect(finished);
  controller_ = nullptr;
  return status;
}

}  // namespace pm::cli
