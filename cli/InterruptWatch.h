#pragma once
// Turns SIGINT and SIGTERM into a Qt signal on the main thread (a self-pipe read by a socket
// notifier), so that Ctrl+C during an update is handled between USB commands instead of killing
// the process in the middle of one. A second Ctrl+C while the first is being handled is only
// counted. SIGHUP (the terminal or the SSH session went away) becomes `hungUp`: a printer being
// changed is never left half-way because its operator's connection dropped. The handlers are
// installed for the watch's lifetime, one watch per process.
//
// Threads: [main] for every member.

#include <memory>

#include <QObject>
#include <QSocketNotifier>

namespace pm::cli {

class InterruptWatch final : public QObject {
  Q_OBJECT

 public:
  explicit InterruptWatch(QObject* parent = nullptr);
  ~InterruptWatch() override;

  int count() const { return count_; }

 signals:
  void interrupted(int count);
  void hungUp();

 private:
  void readPipe();

  int pipe_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
  int count_ = 0;
};

}  // namespace pm::cli
