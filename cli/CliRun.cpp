#include "cli/CliRun.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include "app/TBPrinters.h"
#include "cli/PrinterReport.h"
#include "support/MainQueue.h"
#include "update/UpdateHistory.h"
#include "vendor/TBUSBPrinterOLM.h"

namespace pm::cli {

namespace {

// How long the printers present at start may take to be read: an attach reads about twenty
// values, each bounded by its own time-out, and a printer held by another program never is.
constexpr int kProbeBoundMs = 20000;
// A printer plugged in (or restarting) while we wait is given this long to appear.
constexpr int kArrivalSettleMs = 500;

AnswerPolicy policyFor(const Options& options) {
  AnswerPolicy policy;
  policy.yes = options.yes;
  policy.removeQueues = options.queues == QueueChoice::Remove;
  policy.keepQueues = options.queues == QueueChoice::Keep;
  policy.interactive = ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO);
  return policy;
}

const char* arguments0(Command command) {
  switch (command) {
    case Command::Update: return "update";
    case Command::ResetCounter: return "reset-counter";
    case Command::UsbSerial: return "usb-serial";
    default: return "this command";
  }
}

QString json(const QJsonObject& object) {
  return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

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
    case Command::List:
      return list();
    default:
      break;
  }
  // update, reset-counter and usb-serial are parsed (their names are fixed for scripts) but not
  // yet run from here: the window does them.
  err_ << "printer-maintenance-cli: " << arguments0(options_.command)
       << " is not available in this version; use the window (printer-maintenance)\n";
  return kUsage;
}

void CliRun::waitForPrinters(int extraSeconds) {
  controller_->awakeFromNib();
  QElapsedTimer clock;
  clock.start();
  // Read, or known not to be readable now: a printer that cannot be opened (held by another
  // program, no permission) shows why in its USB status and is listed as it is.
  const auto allRead = [this] {
    for (const TBPrinters::PrinterRef& printer : controller_->printers())
      if (!printer->attachReadsDone() && printer->status().isEmpty()) return false;
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
    if ((settled && now >= extraSeconds * 1000LL) || now >= kProbeBoundMs + extraSeconds * 1000LL) loop.quit();
  });
  poll.start(20);
  loop.exec();
}

int CliRun::list() {
  TBPrinters controller;
  controller_ = &controller;
  waitForPrinters(options_.waitSeconds);
  QList<PrinterFacts> printers;
  for (const TBPrinters::PrinterRef& printer : controller.printers()) printers.append(factsOf(*printer));
  if (options_.json) {
    QJsonArray array;
    for (const PrinterFacts& facts : printers) array.append(toJson(facts));
    out_ << json(QJsonObject{{QStringLiteral("printers"), array}}) << '\n';
  } else if (printers.isEmpty()) {
    out_ << "No supported printer is connected.\n";
  } else {
    out_ << textTable(printers);
  }
  out_.flush();
  controller_ = nullptr;
  return kDone;
}

int CliRun::history() {
  const QList<UpdateOutcome> entries = UpdateHistory::entries();
  if (options_.json) {
    for (const UpdateOutcome& e : entries)
      out_ << json(QJsonObject{{QStringLiteral("printer"), e.printer},
                               {QStringLiteral("model"), e.model},
                               {QStringLiteral("from"), e.from},
                               {QStringLiteral("to"), e.to},
                               {QStringLiteral("result"), e.result},
                               {QStringLiteral("message"), e.message},
                               {QStringLiteral("time"), e.time.toString(Qt::ISODate)}})
           << '\n';
  } else if (entries.isEmpty()) {
    out_ << "No update has been recorded on this machine.\n";
  } else {
    for (const UpdateOutcome& e : entries)
      out_ << e.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) << "  "
           << (e.printer.isEmpty() ? e.model : e.printer) << "  "
           << (e.from.isEmpty() ? QStringLiteral("?") : e.from) << " -> " << e.to << "  " << e.result
           << (e.message.isEmpty() ? QString() : QStringLiteral("  (%1)").arg(e.message)) << '\n';
  }
  out_.flush();
  return kDone;
}

}  // namespace pm::cli
