// The logger: standard error, the buffer before a log file exists and its cap, the log file and
// its roll, announcements, whole lines from many threads (also through the system
// log), and e-mail address checks.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <cstring>
#include <thread>
#include <vector>

#include "support/SystemLog.h"
#include "support/TextUtilities.h"
#include "support/ZOVRAN_Log.h"
#include "tests/common/TestFiles.h"

namespace {

constexpr qsizetype kMiB = 1024 * 1024;
constexpr qsizetype kOldCap = 10 * kMiB;
const QString kStamp = QStringLiteral(R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3} [+-]\d{4}\])");

QStringList bufferLines() {
  QStringList lines = ZOVRAN_Log::pendingBuffer().value_or(QString()).split(QLatin1Char('\n'));
  lines.removeLast();  // after the final newline
  return lines;
}

// `size` bytes of numbered lines, so that any cut can be checked for its line boundary.
QByteArray lines(qsizetype size, char tag) {
  QByteArray out;
  out.reserve(size + 64);
  for (int i = 0; out.size() < size; ++i) out += tag + QByteArray::number(i).rightJustified(12, '0') + '\n';
  out.truncate(size);
  if (!out.isEmpty()) out[out.size() - 1] = '\n';
  return out;
}

// A stand-in for the system log daemon: a datagram socket bound at a temporary path.
class SystemLogDaemon {
 public:
  explicit SystemLogDaemon(const QByteArray& path)
      : path_(path), fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::memcpy(address.sun_path, path_.constData(), size_t(path_.size()));
    bound = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    pm::reviewLogDestinations(path_);
  }
  ~SystemLogDaemon() {
    ::close(fd_);
    ::unlink(path_.constData());
    pm::reviewLogDestinations();
  }
  QByteArrayList received() {  // every datagram since the last call
    QByteArrayList out;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) out += QByteArray(buffer, n);
    return out;
  }
  const QByteArray path_;
  const int fd_;
  bool bound = false;
};

uint permissionsOf(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

}  // namespace

// Points descriptor 2 at a file while it lives, so that a test can read what went to standard
// error (and megabytes of test lines stay off the console). Outside the anonymous namespace: the
// fixture holds one.
class StdErrRedirect {
 public:
  StdErrRedirect() {
    file_.open();
    saved_ = ::dup(STDERR_FILENO);
    ::dup2(file_.handle(), STDERR_FILENO);
  }
  ~StdErrRedirect() {
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }

  QByteArray contents() const { return readFile(file_.fileName()); }

 private:
  QTemporaryFile file_;
  int saved_ = -1;
};

class LogTest : public QObject {
  Q_OBJECT

  StdErrRedirect* err_ = nullptr;  // standard error of the running test
  QTemporaryDir* dir_ = nullptr;
  QString path(const QString& name) const { return dir_->filePath(name); }

 private slots:
  void init() {
    ZOVRAN_Log::resetToDefaults();
    pm::setDetailOnStandardError(true);  // as PRINTER_MAINTENANCE_DEBUG=1: every line to look at
    err_ = new StdErrRedirect;
    dir_ = new QTemporaryDir;
  }
  void cleanup() {
    ZOVRAN_Log::resetToDefaults();
    delete std::exchange(dir_, nullptr);
    delete std::exchange(err_, nullptr);
  }

  void standardErrorAndBufferLines() {
    QSignalSpy announced(ZOVRAN_LogNotifier::instance(), &ZOVRAN_LogNotifier::logFileDidUpdate);
    ZOVRAN_Log::setApplicationName(QStringLiteral("App"));
    ZOVRAN_Log::logLevel(ZOVRAN_Log::Information, QStringLiteral("hello"));
    ZOVRAN_Log::logLevel(7, QStringLiteral("high"));
    // The stamp is local time: its zone offset is the local one.
    QCOMPARE(bufferLines().value(0).mid(27, 5), pm::stringWithUTSFormat(QDateTime::currentDateTime(), "Z"));
    ZOVRAN_Log::debug(QStringLiteral("one\ntwo\n"));  // split at newlines
    const QByteArray debug = "DEBUG: App: ";
    QCOMPARE(err_->contents(),
             "INFO: hello\nDEBUG: App: high\n" + debug + "one\n" + debug + "two\n" + debug + "\n");

    ZOVRAN_Log::setShouldLogAppName(true);
    ZOVRAN_Log::err(QStringLiteral("bad"));
    QVERIFY(bufferLines().last().endsWith(QLatin1String("] App: bad")));
    ZOVRAN_Log::setShouldNotifyForLogUpdates(true);  // every line once switched on
    ZOVRAN_Log::logLevel(0, QStringLiteral("loud"));
    QCOMPARE(announced.count(), 1);
    const QString added = announced[0][1].toMap().value(QLatin1String(kZOVRAN_LogFileAddedString)).toString();
    QVERIFY(added.endsWith(QLatin1String(" loud\n")));
    // With standard error off and no file, nothing is logged at all.
    ZOVRAN_Log::setShouldLogToStdErr(false);
    const qsizetype before = bufferLines().size();
    ZOVRAN_Log::err(QStringLiteral("lost"));
    QCOMPARE(bufferLines().size(), before);

    // fatal() ends the process with status 1 once its line is out, instead of hanging its caller.
    ZOVRAN_Log::setShouldLogToStdErr(true);
    const pid_t child = ::fork();
    if (child == 0) ZOVRAN_Log::fatal(QStringLiteral("the end"));
    int status = 0;
    QVERIFY(QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 5000));
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    QVERIFY(err_->contents().contains("the end"));
  }

  void bufferShedsOldestCharactersPastAMillion() {
    // A buffer line is 35 characters around its message: "I [stamp] message\n".
    ZOVRAN_Log::logLevel(0, QString(1'000'000 - 35, QLatin1Char('a')));
    ZOVRAN_Log::logLevel(0, QStringLiteral("x"));  // buffer at 1,000,000: no trim yet
    QCOMPARE(ZOVRAN_Log::pendingBuffer()->size(), 1'000'036);
    ZOVRAN_Log::logLevel(0, QStringLiteral("y"));  // at 1,000,036: loses 10,000 first
    const QString buffer = *ZOVRAN_Log::pendingBuffer();
    QCOMPARE(buffer.size(), 1'000'036 - 10'000 + 36);
    QVERIFY(buffer.startsWith(QLatin1Char('a')) && buffer.endsWith(QLatin1String(" y\n")));
    ZOVRAN_Log::resetToDefaults();
    ZOVRAN_Log::logLevel(0, QString(1'000'001 - 35, QLatin1Char('b')));  // exactly 1,000,001
    ZOVRAN_Log::logLevel(0, QStringLiteral("z"));
    QCOMPARE(ZOVRAN_Log::pendingBuffer()->size(), 1'000'001 - 10'000 + 36);
  }

  void fileReceivesBufferLaterLinesAndStandardError() {
    const QString file = path(QStringLiteral("deep/er/app.log"));
    ZOVRAN_Log::logLevel(0, QStringLiteral("before"));
    QVERIFY(ZOVRAN_Log::setLogFile(file));
    ZOVRAN_Log::logLevel(4, QStringLiteral("after"));
    QVERIFY(!ZOVRAN_Log::setLogFile(path(QStringLiteral("other.log"))));
    QCOMPARE(ZOVRAN_Log::logFilePath(), path(QStringLiteral("other.log")));
    ZOVRAN_Log::logLevel(0, QStringLiteral("still here"));
    const QStringList lines = QString::fromUtf8(readFile(file)).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].endsWith(QLatin1String("] before")) && lines[1].startsWith(QLatin1String("W [")) &&
            lines[2].endsWith(QLatin1String("] still here")));
    QVERIFY(!QFile::exists(path(QStringLiteral("other.log"))) && permissionsOf(file) == 0664u);

    // A file that cannot be opened: the lines stay in the buffer.
    ZOVRAN_Log::resetToDefaults();
    QVERIFY(!ZOVRAN_Log::setLogFile(file + QStringLiteral("/app.log")));
    ZOVRAN_Log::logLevel(0, QStringLiteral("kept"));
    QVERIFY(ZOVRAN_Log::pendingBuffer()->endsWith(QLatin1String("] kept\n")));

    // Standard error switched off follows the file while it is open, and comes back after.
    const QString second = path(QStringLiteral("app.log"));
    struct stat before {
    }, after{};
    ::fstat(STDERR_FILENO, &before);
    ZOVRAN_Log::resetToDefaults();
    ZOVRAN_Log::setShouldLogToStdErr(false);
    QVERIFY(ZOVRAN_Log::setLogFile(second));
    QCOMPARE(::write(STDERR_FILENO, "raw line\n", 9), 9);
    ZOVRAN_Log::logLevel(0, QStringLiteral("logged"));
    ZOVRAN_Log::resetToDefaults();
    ::fstat(STDERR_FILENO, &after);
    QCOMPARE(after.st_ino, before.st_ino);
    QVERIFY(readFile(second).startsWith("raw line\nI [") && readFile(second).endsWith("] logged\n"));
  }

  void concurrentLinesStayWhole() {
    constexpr int kThreads = 6, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t] {
        const QString payload(500 + t, QChar(u'a' + t));
        for (int i = 0; i < kLines; ++i) {
          if (i % 10 == 0) ZOVRAN_Log::logData(QByteArray(40, static_cast<char>('A' + t)));
          else if (i % 10 == 5)
            pm::systemLog(QStringLiteral("thread %1 ").arg(t) + QString(300, QChar(u'a' + t)));
          else ZOVRAN_Log::logLevel(0, QStringLiteral("t%1 ").arg(t) + payload);
        }
      });
    }
    for (std::thread& t : threads) t.join();
    // The system log's lines on standard error, among the others there, stay whole as well.
    int systemLines = 0;
    for (const QByteArray& line : err_->contents().split('\n')) {
      if (!line.contains("] thread ")) continue;
      QVERIFY(line.endsWith(" " + QByteArray(300, line.back())));
      ++systemLines;
    }
    QCOMPARE(systemLines, kThreads * kLines / 10);
    // Each line is one thread's whole message (500 + t times its letter) or one hex row.
    const QRegularExpression whole(
        QStringLiteral("^(I %1 t(\\d) ([a-f])\\3+|D %1 000000[0-2]0  .*\\|)$").arg(kStamp));
    const QStringList lines = ZOVRAN_Log::pendingBuffer()->split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), kThreads * (kLines / 10 * 3 + kLines * 8 / 10));
    for (const QString& line : lines) {
      const QRegularExpressionMatch m = whole.match(line);
      QVERIFY2(m.hasMatch(), qPrintable(line.left(120)));
      if (!m.captured(2).isEmpty())
        QCOMPARE(line.size(), line.indexOf(QLatin1String(" t")) + 4 + 500 + m.captured(2).toInt());
    }
  }

  // Each line reaches the system log with its priority (user facility: 8 + syslog priority), so
  // `journalctl -p err` finds the errors; a line ends at its newline, and standard error's copy
  // starts with the local time, process name, pid and thread id. When standard error is the
  // journal's own stream, a line is recorded once, through the socket, and still lands on standard
  // error when the socket is gone; JOURNAL_STREAM inherited by a process whose standard error
  // points elsewhere is ignored. (That the lines reach the test sink, formatted: the printer
  // transport test waits for its interest-message and open-retry lines there.)
  void systemLogPrioritiesAndTheJournal() {
    SystemLogDaemon daemon(QFile::encodeName(path(QStringLiteral("log"))));
    QVERIFY(daemon.bound);
    qunsetenv("JOURNAL_STREAM");
    pm::systemLog(QStringLiteral("ERROR: writeToInterfaceWithData: [e00002bc]"));
    pm::systemLog(QStringLiteral("failed to verify firmware archive\n"));
    pm::systemLogf("%s printer attached", "demo");
    pm::systemLog(pm::LogPriority::Error, QStringLiteral("stated"));
    ZOVRAN_Log::err(QStringLiteral("not the system log's"));
    const QString stamped =
        QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} log_unittest\[%1:%2\] ERROR: )");
    QVERIFY2(QString::fromUtf8(err_->contents())
                 .contains(QRegularExpression(stamped.arg(::getpid()).arg(::gettid()))),
             err_->contents().constData());
    const QByteArrayList plain = daemon.received();
    QStringList priorities;
    for (const QByteArray& line : plain) priorities += QString::fromLatin1(line.left(line.indexOf('>') + 1));
    QCOMPARE(priorities, QStringList({"<11>", "<12>", "<15>", "<11>"}));
    const QRegularExpression datagram(
        QStringLiteral(R"(^<11>\w{3} [ \d]\d \d\d:\d\d:\d\d log_unittest\[%1\]: ERROR: )").arg(::getpid()));
    QVERIFY2(QString::fromUtf8(plain[0]).contains(datagram), plain[0].constData());
    QVERIFY2(plain[2].endsWith("]: demo printer attached"), plain[2].constData());

    struct stat info {};
    QVERIFY(::fstat(STDERR_FILENO, &info) == 0);
    qputenv("JOURNAL_STREAM",
            QByteArray::number(qulonglong(info.st_dev)) + ':' + QByteArray::number(qulonglong(info.st_ino)));
    pm::reviewLogDestinations(daemon.path_);
    pm::systemLog(QStringLiteral("once"));
    ZOVRAN_Log::err(QStringLiteral("by level"));
    ZOVRAN_Log::logLevel(ZOVRAN_Log::Warning, QStringLiteral("warned"));
    QCOMPARE(daemon.received().size(), 3);
    QCOMPARE(err_->contents().count("\n"), 5);
    pm::reviewLogDestinations(QFile::encodeName(path(QStringLiteral("nobody-listens"))));
    pm::systemLog(QStringLiteral("kept"));
    QVERIFY(err_->contents().endsWith(" kept\n"));
    qputenv("JOURNAL_STREAM", "1:1");
    pm::reviewLogDestinations(daemon.path_);
    pm::systemLog(QStringLiteral("elsewhere"));
    QVERIFY(err_->contents().endsWith(" elsewhere\n"));
    qunsetenv("JOURNAL_STREAM");

    // A user's terminal: warnings and errors only, one line each; the detail still reaches the
    // system log, at debug priority.
    pm::reviewLogDestinations(daemon.path_);
    pm::setDetailOnStandardError(false);
    const qsizetype before = err_->contents().size();
    daemon.received();
    pm::systemLogf("%s", "-[TBPrinters awakeFromNib]");
    ZOVRAN_Log::debug(QStringLiteral("++++ 0000: 1b 50 01"));
    pm::systemLog(QStringLiteral("could not write the state file\nit is read-only"));
    QCOMPARE(err_->contents().mid(before).count('\n'), 1);
    QVERIFY2(err_->contents().endsWith("] could not write the state file | it is read-only\n"),
             err_->contents().mid(before).constData());
    const QByteArrayList quiet = daemon.received();
    QVERIFY(quiet.size() == 3 && quiet[0].startsWith("<15>") && quiet[1].startsWith("<15>"));

    // Started with standard error closed, the first descriptor opened must not become it.
    const int saved = ::dup(STDERR_FILENO);
    ::close(STDERR_FILENO);
    pm::openClosedStandardDescriptors();
    struct stat nowErr {
    }, null{};
    const bool isNull = ::fstat(STDERR_FILENO, &nowErr) == 0 && ::stat("/dev/null", &null) == 0 &&
                        nowErr.st_rdev == null.st_rdev;
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    QVERIFY(isNull);
  }

  // The log rolls past 1 MiB only, into "<name>_old<.ext>" (".log" without one); the current log
  // is emptied only once the old file has been written. The old file keeps at most 10 MiB: the
  // cut is the first line boundary that fits.
  void rollsPastTheThresholdIntoACappedOldFile() {
    const QString file = path(QStringLiteral("app.log")), old = path(QStringLiteral("app_old.log"));
    const auto roll = [&](const QByteArray& previous, const QByteArray& current) {
      const bool written = writeFile(old, previous) && writeFile(file, current);
      ZOVRAN_Log::rollLogFileIfNecessary(file);
      return written;
    };
    QVERIFY(roll("previous\n", lines(kMiB - 1, 'a')));
    QVERIFY(readFile(file).size() == kMiB - 1 && readFile(old) == "previous\n");
    const QByteArray current = lines(2 * kMiB, 'b');
    QVERIFY(roll("previous\n", current));
    QVERIFY(readFile(file).isEmpty() && readFile(old) == "previous\n" + current &&
            permissionsOf(old) == 0664u);
    QVERIFY(writeFile(path(QStringLiteral("session")), "line\n"));
    ZOVRAN_Log::rollLogFile(path(QStringLiteral("session")), QString(), 1);
    QCOMPARE(readFile(path(QStringLiteral("session_old.log"))), QByteArray("line\n"));

    QVERIFY(writeFile(file, current));
    ZOVRAN_Log::rollLogFile(file, path(QStringLiteral("missing/dir/app_old.log")), kMiB);
    QCOMPARE(readFile(file), current);

    const QString text = path(QStringLiteral("app.txt"));  // opening an oversized log rolls it first
    QVERIFY(writeFile(text, lines(kMiB + 10, 'o')));
    ZOVRAN_Log::logLevel(0, QStringLiteral("buffered"));
    QVERIFY(ZOVRAN_Log::setLogFile(text));
    QCOMPARE(readFile(path(QStringLiteral("app_old.txt"))).size(), kMiB + 10);

    const QByteArray previous = lines(kOldCap - 100, 'p');
    QVERIFY(roll(previous, current));
    const QByteArray combined = previous + current, kept = readFile(old);
    QVERIFY(kept.size() <= kOldCap && kept.endsWith(current) && combined.endsWith(kept));
    const qsizetype cut = combined.size() - kept.size();
    QCOMPARE(combined[cut - 1], '\n');
    QVERIFY(combined.size() - (combined.lastIndexOf('\n', cut - 2) + 1) >
            kOldCap);  // one line more would not fit
    // A combined text without any newline past the cut point leaves nothing.
    QVERIFY(roll(QByteArray(kOldCap, 'x'), QByteArray(kMiB, 'y')));
    QCOMPARE(readFile(old), QByteArray());
  }

  void emailAddresses() {
    const std::pair<const char*, bool> rows[] = {
        {"John.Doe@Example.COM", true},     {"\"odd@name\"@[192.168.0.1]", true},
        {"john.example.com", false},        {"john@example.com trailing", false},
        {"john@[256.1.1.1]", false},        {"john..doe@example.com", false},
        {"\"odd name\"@example.com", false}};
    for (const auto& [address, valid] : rows)
      QVERIFY2(ZOVRAN_Log::validateEmailAddress(QString::fromLatin1(address)) == valid, address);
  }
};

QTEST_GUILESS_MAIN(LogTest)
#include "log_unittest.moc"
