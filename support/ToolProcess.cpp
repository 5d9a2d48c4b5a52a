#include "support/ToolProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include <QDeadlineTimer>

extern char** environ;

namespace pm {

namespace {

// One owned file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }

  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  UniqueFd read;
  UniqueFd write;

  bool open() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read = UniqueFd(fds[0]);
    write = UniqueFd(fds[1]);
    return true;
  }
};

// A null-terminated array of C strings over byte arrays it keeps alive.
class CStringVector {
 public:
  void append(QByteArray text) { storage_.push_back(std::move(text)); }
  char* const* data() {
    pointers_.clear();
    for (QByteArray& text : storage_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
    return pointers_.data();
  }

 private:
  std::vector<QByteArray> storage_;
  std::vector<char*> pointers_;
};

QByteArray nameOf(const QByteArray& entry) { return entry.left(entry.indexOf('=')); }

CStringVector environmentWith(const QByteArrayList& overrides) {
  QByteArrayList replaced;
  for (const QByteArray& entry : overrides) replaced.append(nameOf(entry));
  CStringVector result;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const QByteArray text(*entry);
    if (!replaced.contains(nameOf(text))) result.append(text);
  }
  for (const QByteArray& entry : overrides) result.append(entry);
  return result;
}

int exitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

pid_t waitRetrying(pid_t pid, int* status, int options) {
  pid_t reaped;
  do {
    reaped = ::waitpid(pid, status, options);
  } while (reaped < 0 && errno == EINTR);
  return reaped;
}

// Reads both pipes until the tool closed them or the deadline passed. True when both closed.
bool drain(Pipe& out, Pipe& err, ToolResult& result, const QDeadlineTimer& deadline) {
  pollfd fds[2] = {{out.read.get(), POLLIN, 0}, {err.read.get(), POLLIN, 0}};
  QByteArray* sinks[2] = {&result.standardOutput, &result.standardError};
  int open = 2;
  while (open > 0) {
    const qint64 remaining = deadline.remainingTime();
    if (remaining == 0) return false;
    const int ready = ::poll(fds, 2, static_cast<int>(std::min<qint64>(remaining, 60000)));
    if (ready < 0 && errno != EINTR) return false;
    for (int i = 0; i < 2 && ready > 0; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, got);
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        fds[i].fd = -1;  // poll skips it from now on
        --open;
      }
    }
  }
  return true;
}

// Tools still running, by process group (each tool leads its own, so that what it started goes
// with it), so that quitting can end them. Once quitting began no tool starts.
struct RunningTools {
  std::mutex lock;
  std::set<pid_t> groups;
  bool ending = false;
};

RunningTools& runningTools() {
  static RunningTools running;
  return running;
}

// Ends the tool's whole process group and reaps the tool.
void endTool(pid_t pid, int* status) {
  ::kill(-pid, SIGKILL);
  waitRetrying(pid, status, 0);
}

// Answers whether quitting has begun (the tool was then ended, not finished).
bool forget(pid_t pid) {
  const std::lock_guard guard(runningTools().lock);
  runningTools().groups.erase(pid);
  return runningTools().ending;
}

}  // namespace

int endRunningTools() {
  RunningTools& running = runningTools();
  const std::lock_guard guard(running.lock);
  running.ending = true;
  for (const pid_t group : running.groups) ::kill(-group, SIGKILL);
  return static_cast<int>(running.groups.size());
}

ToolResult runTool(const QString& program, const QStringList& arguments, int timeoutMs,
                   const QByteArrayList& environment) {
  ToolResult result;
  const QDeadlineTimer deadline(std::max(timeoutMs, 0));
  Pipe out;
  Pipe err;
  if (!out.open() || !err.open()) {
    result.error = QString::fromLocal8Bit(std::strerror(errno));
    return result;
  }

  const QByteArray file = program.toLocal8Bit();
  CStringVector argv;
  argv.append(file);
  for (const QString& argument : arguments) argv.append(argument.toLocal8Bit());
  CStringVector envp = environmentWith(environment);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write.get(), STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  int spawned = ECANCELED;
  {
    // Started and recorded under one lock, so that quitting cannot miss it.
    const std::lock_guard guard(runningTools().lock);
    if (!runningTools().ending) {
      spawned = ::posix_spawnp(&pid, file.constData(), &actions, &attributes, argv.data(), envp.data());
      if (spawned == 0) runningTools().groups.insert(pid);
    }
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    result.error = QString::fromLocal8Bit(std::strerror(spawned));
    return result;
  }
  result.started = true;
  // Only the child keeps the write ends, so its exit ends the reads.
  out.write.reset();
  err.write.reset();

  int status = 0;
  if (drain(out, err, result, deadline)) {
    // The tool closed its output; it normally exits at once, but is not trusted to.
    for (;;) {
      const pid_t reaped = waitRetrying(pid, &status, WNOHANG);
      if (reaped == pid) {
        result.exitCode = exitCodeOf(status);
        if (forget(pid)) {
          result.error = QStringLiteral("ended: the application is quitting");
          return result;
        }
        result.finished = true;
        return result;
      }
      if (reaped < 0) {  // not ours to wait for any more: nothing left to kill
        forget(pid);
        result.error = QString::fromLocal8Bit(std::strerror(errno));
        return result;
      }
      if (deadline.hasExpired()) break;
      const timespec pause{0, 2'000'000};
      ::nanosleep(&pause, nullptr);
    }
  }
  endTool(pid, &status);
  forget(pid);
  result.error = QStringLiteral("did not finish within %1 ms").arg(timeoutMs);
  return result;
}

}  // namespace pm
