#pragma once
// The alert presenter of printer-maintenance-cli: every question the window would ask is asked on
// the terminal instead ("y/N", no by default), and every message is written to standard error. A
// question answered without a person (by an option, or declined for want of a terminal) is one line.
// Without a terminal, or with --yes, questions are answered from the command line's policy:
//  - --yes presses each alert's accept button (and ticks its "I Agree" box), except where going
//    ahead removes the user's own configuration (print queues), which only --remove-queues does;
//  - otherwise, and with --keep-queues for the queues, the question is declined; a question
//    declined because nobody could be asked is counted, so the program can exit "refused".
// Questions are asked one at a time, in the order they come; the answer is read from standard
// input without blocking the main thread (printers' queues may wait for it).
//
// Threads: [main] for every member; present() may be called from any thread (it is posted).

#include <deque>
#include <functional>
#include <memory>

#include <QObject>
#include <QSocketNotifier>
#include <QTextStream>

#include "support/AlertPresenter.h"

namespace pm::cli {

struct AnswerPolicy {
  bool yes = false;           // --yes
  bool removeQueues = false;  // --remove-queues
  bool keepQueues = false;    // --keep-queues
  bool interactive = false;   // standard input and standard error are a terminal
};

class TerminalAlertPresenter final : public QObject, public AlertPresenter {
  Q_OBJECT

 public:
  explicit TerminalAlertPresenter(AnswerPolicy policy, QObject* parent = nullptr);
  ~TerminalAlertPresenter() override;

  void present(const AlertRequest& request, std::function<void(const AlertAnswer&)> completion) override;

  // Questions declined because there was no terminal to ask and no option answered them.
  int declinedUnasked() const { return declinedUnasked_; }
  // Questions the person at the terminal or the policy declined.
  int declined() const { return declined_; }
  // Only questions about these printers (serial numbers) may go ahead; those about any other
  // printer are declined unasked. Empty: every printer.
  void setScope(const QStringList& serialNumbers) { scope_ = serialNumbers; }
  // The command says each printer's end itself: messages (alerts with nothing to decide) go to the
  // system log only, so that standard error has each event once.
  void setOutcomesTold(bool told) { outcomesTold_ = told; }
  // From now on every question is declined without asking, the one being asked included (Ctrl+C).
  void stopAsking();

  // How `request` is answered when going ahead (true) or not; public for the tests. [any]
  static AlertAnswer accepting(const AlertRequest& request);
  static AlertAnswer declining(const AlertRequest& request);

 private:
  struct Pending {
    AlertRequest request;
    std::function<void(const AlertAnswer&)> completion;
  };
  void showNext();
  void answer(const AlertAnswer& answer);
  void readAnswerLine();

  AnswerPolicy policy_;
  QTextStream err_;
  std::deque<Pending> pending_;
  bool asking_ = false;
  std::unique_ptr<QSocketNotifier> input_;
  QByteArray inputLine_;
  QStringList scope_;
  bool stopped_ = false;
  bool outcomesTold_ = false;
  int declinedUnasked_ = 0;
  int declined_ = 0;
};

}  // namespace pm::cli
