#include "olm/update/PrinterLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "olm/update/StateLocation.h"
#include "support/SystemLog.h"

namespace pm {

namespace {

struct Held {
  int fd = -1;
  int takers = 0;
};

struct LockState {
  std::mutex lock;
  std::map<QString, Held> held;
};

LockState& lockState() {
  static LockState s;
  return s;
}

struct LockTexts {
  Q_DECLARE_TR_FUNCTIONS(TBUSBPrinterOLM)
};

// A directory we may keep lock files in: a real directory (never a symlink), made when missing.
// `shared`: writable by every user, sticky, as /run/lock is.
bool usableDirectory(const QString& path, bool shared) {
  const QByteArray native = QFile::encodeName(path);
  struct stat st {};
  if (::lstat(native.constData(), &st) != 0) {
    if (errno != ENOENT) return false;
    if (!QDir().mkpath(QFileInfo(path).path())) return false;
    if (::mkdir(native.constData(), shared ? 01777 : 0700) != 0 && errno != EEXIST) return false;
    if (shared) ::chmod(native.constData(), 01777);  // the umask took some bits away
    if (::lstat(native.constData(), &st) != 0) return false;
  }
  return S_ISDIR(st.st_mode) && ::access(native.constData(), W_OK | X_OK) == 0;
}

// Characters a file name keeps as they are; every other byte is written %XX, so two keys never
// share a file and no key leaves the directory.
QString fileNameFor(const QString& key) {
  QString name = QStringLiteral("printer-");
  for (const char c : key.toUtf8()) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '-' || u == '_')
      name += QLatin1Char(c);
    else name += QStringLiteral("%%1").arg(u, 2, 16, QLatin1Char('0'));
  }
  return name + QStringLiteral(".lock");
}

QString ownCommandLine() {
  QFile file(QStringLiteral("/proc/self/cmdline"));
  if (!file.open(QIODevice::ReadOnly)) return QCoreApplication::applicationName();
  QByteArray bytes = file.read(4096);
  while (bytes.endsWith('\0')) bytes.chop(1);
  bytes.replace('\0', ' ');
  return QString::fromLocal8Bit(bytes).simplified();
}

LockHolder readHolder(int fd) {
  char buffer[1024];
  const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
  LockHolder holder;
  if (n <= 0) return holder;
  const QStringList lines = QString::fromUtf8(buffer, static_cast<int>(n)).split(QLatin1Char('\n'));
  holder.pid = lines.value(0).trimmed().toLongLong();
  holder.command = lines.value(1).trimmed().left(200);
  return holder;
}

struct flock wholeFile(short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 0;
  return range;
}

// Opens the lock file without following a symlink; -1 when it is not a regular file.
int openLockFile(const QString& path, int flags) {
  const int fd = ::open(QFile::encodeName(path).constData(), flags | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

}  // namespace

QString LockHolder::describe() const {
  if (pid <= 0) return command.isEmpty() ? LockTexts::tr("another program") : command;
  if (command.isEmpty()) return LockTexts::tr("process %1").arg(pid);
  return LockTexts::tr("process %1 (%2)").arg(pid).arg(command);
}

QString PrinterLock::keyFor(const QString& serialNumber, const QString& deviceKey) {
  const QString serial = serialNumber.trimmed();
  return serial.isEmpty() ? QStringLiteral("port-") + deviceKey : serial;
}

QString PrinterLock::directory() {
  const QString overridden = qEnvironmentVariable("PRINTER_MAINTENANCE_LOCK_DIR");
  if (!overridden.isEmpty()) return usableDirectory(overridden, false) ? overridden : QString();
  // Demo printers are not the machine's printers: their locks stay with the demo's state (the
  // state directory is demo mode's own then).
  if (qEnvironmentVariable("PRINTER_MAINTENANCE_SIMULATE").trimmed().isEmpty()) {
    const QString shared = QStringLiteral("/run/lock/printer-maintenance");
    if (usableDirectory(shared, true)) return shared;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && usableDirectory(runtime + QStringLiteral("/printer-maintenance-locks"), false))
      return runtime + QStringLiteral("/printer-maintenance-locks");
  }
  const QString own = stateDirectory() + QStringLiteral("/locks");
  return usableDirectory(own, false) ? own : QString();
}

std::optional<LockHolder> PrinterLock::take(const QString& key) {
  LockState& state = lockState();
  const std::lock_guard guard(state.lock);
  if (auto it = state.held.find(key); it != state.held.end()) {
    ++it->second.takers;
    return std::nullopt;
  }
  const QString dir = directory();
  if (dir.isEmpty()) {
    systemLog(QStringLiteral("no directory for the printer locks; %1 is not changed").arg(key));
    return LockHolder{0, LockTexts::tr("no lock directory could be made")};
  }
  const QString path = dir + QLatin1Char('/') + fileNameFor(key);
  const int fd = openLockFile(path, O_RDWR | O_CREAT);
  if (fd < 0) {
    const QString why = QString::fromLocal8Bit(std::strerror(errno));
    systemLog(QStringLiteral("cannot open the lock file %1: %2").arg(path, why));
    return LockHolder{0, LockTexts::tr("the lock file %1 cannot be opened (%2)").arg(path, why)};
  }
  ::fchmod(fd, 0666);  // other users' processes must be able to take it in turn (fails unless ours)
  struct flock range = wholeFile(F_WRLCK);
  if (::fcntl(fd, F_OFD_SETLK, &range) != 0) {
    const LockHolder holder = readHolder(fd);
    ::close(fd);
    systemLog(QStringLiteral("printer %1 is locked by %2").arg(key, holder.describe()));
    return holder;
  }
  const QByteArray text = QByteArray::number(::getpid()) + '\n' + ownCommandLine().toUtf8() + '\n';
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, text.constData(), text.size(), 0) != text.size())
    systemLog(QStringLiteral("could not note this process in the lock file %1").arg(path));
  state.held[key] = Held{fd, 1};
  systemLog(QStringLiteral("took the lock of printer %1").arg(key));
  return std::nullopt;
}

void PrinterLock::release(const QString& key) {
  LockState& state = lockState();
  const std::lock_guard guard(state.lock);
  const auto it = state.held.find(key);
  if (it == state.held.end()) return;
  if (--it->second.takers > 0) return;
  // The text goes first: whoever takes the lock next writes its own.
  (void)!::ftruncate(it->second.fd, 0);
  ::close(it->second.fd);
  state.held.erase(it);
  systemLog(QStringLiteral("released the lock of printer %1").arg(key));
}

bool PrinterLock::heldHere(const QString& key) {
  LockState& state = lockState();
  const std::lock_guard guard(state.lock);
  return state.held.count(key) > 0;
}

std::optional<LockHolder> PrinterLock::heldElsewhere(const QString& key) {
  if (heldHere(key)) return std::nullopt;
  const QString dir = directory();
  if (dir.isEmpty()) return std::nullopt;
  const int fd = openLockFile(dir + QLatin1Char('/') + fileNameFor(key), O_RDONLY);
  if (fd < 0) return std::nullopt;  // never made: nobody ever held it
  // Asking for a read lock finds any holder's write lock, and takes nothing.
  struct flock range = wholeFile(F_RDLCK);
  std::optional<LockHolder> holder;
  if (::fcntl(fd, F_OFD_GETLK, &range) == 0 && range.l_type != F_UNLCK) holder = readHolder(fd);
  ::close(fd);
  return holder;
}

}  // namespace pm
