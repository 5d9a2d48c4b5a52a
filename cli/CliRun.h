#pragma once
// One run of printer-maintenance-cli: the controller the window uses (TBPrinters, the printer
// objects, the update), driven by one command instead of a person at a window, with the terminal
// alert presenter answering for the person. It finds the printers, waits (bounded) until those
// present are read, does the command and answers the process exit status (UpdateResults.h):
//   0 done and verified, 1 failed or busy, 2 declined, 3 usage error, 4 no such printer.
//
// Threads: [main] for every member.

#include <QHash>
#include <QList>
#include <QObject>
#include <QTextStream>

#include <memory>

#include "cli/CliOptions.h"
#include "cli/PrinterReport.h"
#include "cli/TerminalAlertPresenter.h"
#include "cli/UpdateResults.h"

class TBPrinters;
class TBUSBPrinterOLM;

namespace pm {
struct LockHolder;
struct UpdateOutcome;
struct UpdateProgress;
}  // namespace pm

namespace pm::cli {

class CliRun : public QObject {
  Q_OBJECT

 public:
  explicit CliRun(const Options& options, QObject* parent = nullptr);
  ~CliRun() override;

  // Runs the command in the application's event loop; answers the exit status.
  int exec();

 private:
  int list();
  int history();
  int metrics();
  // Starts discovery, waits as list does and reads what the printers present tell.
  QList<PrinterFacts> readPrinters();
  int update();
  int resetCounter();
  int usbSerial();

  // Waits for the printers present on `controller` (which must outlive the printer's use) and
  // returns the named one, or null after saying there is none (exit 3).
  std::shared_ptr<TBUSBPrinterOLM> namedPrinter(TBPrinters& controller);
  // Asks `title` about `printer` (y/N, or the command line's answer); true to go ahead.
  bool confirmed(const TBUSBPrinterOLM& printer, const QString& title, const QString& message,
                 const QString& goAhead);
  // What update prints, on standard error and (with --json) standard output.
  void showProgress(const pm::UpdateProgress& event);
  void showOutcome(const pm::UpdateOutcome& outcome);
  // Ctrl+C during update: no more questions, each update stops at its next safe point.
  void stopUpdates();
  // SIGHUP: no more questions; what is under way goes on to its end.
  void hangUp();
  // Ctrl+C or SIGTERM during another command: no more questions or waits, tools ended.
  void abandonWaits();
  // "it is being changed by another program (process N (...)); nothing was done."
  static QString busyText(const pm::LockHolder& holder);

  // Starts discovery and returns once every printer present is read, or the bound has passed.
  void waitForPrinters(int extraSeconds);

  Options options_;
  QTextStream out_;
  QTextStream err_;
  TerminalAlertPresenter presenter_;
  TBPrinters* controller_ = nullptr;
  // update: each printer's result word (UpdateResults; "" while its update runs), by serial number.
  QHash<QString, QString> results_;
  bool stopping_ = false;
  bool abandoned_ = false;
};

}  // namespace pm::cli
