#pragma once
// One run of printer-maintenance-cli: the controller the window uses (TBPrinters, the printer
// objects, the update), driven by one command instead of a person at a window, with the terminal
// alert presenter answering for the person. It finds the printers, waits (bounded) until those
// present are read, does the command and answers the process exit status:
//   0 done and verified, 1 failed, 2 refused or nothing to do, 3 usage error or no such printer.
//
// Threads: [main] for every member.

#include <QList>
#include <QObject>
#include <QTextStream>

#include "cli/CliOptions.h"
#include "cli/TerminalAlertPresenter.h"

class TBPrinters;

namespace pm::cli {

enum ExitStatus { kDone = 0, kFailed = 1, kRefused = 2, kUsage = 3 };

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

  // Starts discovery and returns once every printer present is read, or the bound has passed.
  void waitForPrinters(int extraSeconds);

  Options options_;
  QTextStream out_;
  QTextStream err_;
  TerminalAlertPresenter presenter_;
  TBPrinters* controller_ = nullptr;
};

}  // namespace pm::cli
