#include "cli/TerminalAlertPresenter.h"

#include <unistd.h>

#include <QRegularExpression>

#include "support/MainQueue.h"
#include "support/SystemLog.h"

namespace pm::cli {

namespace {

// Alerts may carry simple markup for the window; a terminal shows the words.
QString plain(QString text) {
  static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
  text.replace(QStringLiteral("<br>"), QStringLiteral("\n"));
  text.remove(tags);
  return text.trimmed();
}

}  // namespace

TerminalAlertPresenter::TerminalAlertPresenter(AnswerPolicy policy, QObject* parent)
    : QObject(parent), policy_(policy), err_(stderr) {}

TerminalAlertPresenter::~TerminalAlertPresenter() = default;

AlertAnswer TerminalAlertPresenter::accepting(const AlertRequest& request) {
  AlertAnswer answer;
  answer.returnCode = pm::kAlertFirstButtonReturn + std::max(0, request.acceptButton);
  answer.agreed = request.agreeCheckBox;
  return answer;
}

AlertAnswer TerminalAlertPresenter::declining(const AlertRequest& request) {
  return decliningAnswer(request);
}

void TerminalAlertPresenter::present(const AlertRequest& request,
                                     std::function<void(const AlertAnswer&)> completion) {
  QMetaObject::invokeMethod(
      this,
      [this, request, completion = std::move(completion)]() mutable {
        pending_.push_back({request, std::move(completion)});
        if (!asking_) showNext();
      },
      Qt::QueuedConnection);
}

void TerminalAlertPresenter::showNext() {
  Q_ASSERT(isMainQueue());
  if (pending_.empty()) return;
  const AlertRequest& request = pending_.front().request;
  // Named as the command's own lines name it: by serial number where the printer has one.
  const QString who = request.serialNumber.isEmpty() ? request.printerName : request.serialNumber;
  const QString heading =
      (who.isEmpty() ? QString() : who + QStringLiteral(": ")) + plain(request.title).simplified();
  const QString message = plain(request.message);
  if (request.acceptButton < 0) {  // a message: nothing to decide
    if (outcomesTold_) {
      systemLog(heading + u' ' + message.simplified());
    } else {
      err_ << heading << '\n';
      if (!message.isEmpty()) err_ << message << '\n';
      err_.flush();
    }
    answer(declining(request));
    return;
  }
  // Answered without a person: the question and its answer on one line.
  const auto answered = [&](const QString& why, bool yes) {
    err_ << heading << ' ' << why << '\n';
    err_.flush();
    answer(yes ? accepting(request) : declining(request));
  };
  // Never a change to a printer the command line did not name, nor any after Ctrl+C.
  if (stopped_ || (!scope_.isEmpty() && !scope_.contains(request.serialNumber)))
    return answered(stopped_ ? tr("(stopping: no)") : tr("(not a printer named on the command line: no)"),
                    false);
  const bool removesSettings = request.acceptRemovesSettings;
  if (removesSettings && (policy_.removeQueues || policy_.keepQueues))
    return answered(
        policy_.removeQueues ? QStringLiteral("(--remove-queues)") : QStringLiteral("(--keep-queues)"),
        policy_.removeQueues);
  if (policy_.yes && !removesSettings)
    return answered(tr("(--yes: %1)").arg(plain(request.buttons.value(request.acceptButton))), true);
  if (!policy_.interactive) {
    ++declinedUnasked_;
    return answered(policy_.yes
                        ? tr("(not done: this removes settings; give --remove-queues or --keep-queues)")
                        : tr("(not done: no terminal to ask; give --yes to answer yes)"),
                    false);
  }
  err_ << heading << '\n';
  if (!message.isEmpty()) err_ << message << '\n';
  // Ask, and read the answer without blocking the main thread.
  asking_ = true;
  err_ << plain(request.buttons.value(request.acceptButton)) << "? [y/N] ";
  err_.flush();
  if (!input_) {
    input_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(input_.get(), &QSocketNotifier::activated, this, &TerminalAlertPresenter::readAnswerLine);
  }
  input_->setEnabled(true);
}

void TerminalAlertPresenter::stopAsking() {
  Q_ASSERT(isMainQueue());
  stopped_ = true;
  if (!asking_) return;
  input_->setEnabled(false);
  err_ << '\n';
  answer(declining(pending_.front().request));
}

void TerminalAlertPresenter::readAnswerLine() {
  char buffer[256];
  const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (n > 0) inputLine_.append(buffer, n);
  const qsizetype newline = inputLine_.indexOf('\n');
  if (n > 0 && newline < 0) return;  // the rest of the line is still coming
  // A line, or the end of the input (which answers no).
  const QString reply =
      QString::fromLocal8Bit(inputLine_.left(newline < 0 ? inputLine_.size() : newline)).trimmed().toLower();
  inputLine_.remove(0, newline < 0 ? inputLine_.size() : newline + 1);
  input_->setEnabled(false);
  const AlertRequest& request = pending_.front().request;
  const bool yes = reply == QLatin1String("y") || reply == QLatin1String("yes");
  if (n <= 0) err_ << '\n';
  err_.flush();
  answer(yes ? accepting(request) : declining(request));
}

void TerminalAlertPresenter::answer(const AlertAnswer& answer) {
  Q_ASSERT(!pending_.empty());
  Pending done = std::move(pending_.front());
  pending_.pop_front();
  asking_ = false;
  if (done.request.acceptButton >= 0 &&
      answer.returnCode != pm::kAlertFirstButtonReturn + done.request.acceptButton)
    ++declined_;
  if (done.completion) done.completion(answer);
  if (!asking_) showNext();
}

}  // namespace pm::cli
