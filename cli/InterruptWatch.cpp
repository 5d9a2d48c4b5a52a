#include "cli/InterruptWatch.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "support/MainQueue.h"

namespace pm::cli {

namespace {

int g_writeEnd = -1;  // the one watch's pipe, for the signal handler

constexpr char kInterrupt = 1;
constexpr char kHangUp = 2;

extern "C" void onInterrupt(int signal) {
  const int saved = errno;
  const char byte = signal == SIGHUP ? kHangUp : kInterrupt;
  if (g_writeEnd >= 0) (void)!::write(g_writeEnd, &byte, 1);
  errno = saved;
}

}  // namespace

InterruptWatch::InterruptWatch(QObject* parent) : QObject(parent) {
  Q_ASSERT(isMainQueue());
  Q_ASSERT(g_writeEnd < 0);
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_writeEnd = pipe_[1];
  notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &InterruptWatch::readPipe);
  struct sigaction action = {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
}

InterruptWatch::~InterruptWatch() {
  Q_ASSERT(isMainQueue());
  if (pipe_[0] < 0) return;
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  ::signal(SIGHUP, SIG_DFL);
  g_writeEnd = -1;
  notifier_.reset();
  ::close(pipe_[0]);
  ::close(pipe_[1]);
}

void InterruptWatch::readPipe() {
  char bytes[16];
  ssize_t n = 0;
  while ((n = ::read(pipe_[0], bytes, sizeof bytes)) > 0) {
    for (ssize_t i = 0; i < n; ++i) {
      if (bytes[i] == kHangUp) emit hungUp();
      else emit interrupted(++count_);
    }
  }
}

}  // namespace pm::cli
