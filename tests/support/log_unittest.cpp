// The logger: standard error, the buffer before a log file exists and its cap, the log file and
// its roll, hex rows, announcements, whole lines from many threads (also through the system
// log), and e-mail address checks.

#include <sys/stat.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>
#include <vector>

#include "support/SystemLog.h"
#include "support/TextUtilities.h"
#include "support/ZOVRAN_Log.h"
#include "tests/common/LogCapture.h"
#include "tests/support/StdErrRedirect.h"

namespace {

constexpr qsizetype kMiB = 1024 * 1024;
constexpr qsizetype kOldCap = 10 * kMiB;
const QString kStamp = QStringLiteral(R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3} [+-]\d{4}\])");

QStringList bufferLines() {
  QStringList lines = ZOVRAN_Log::pendingBuffer().value_or(QString()).split(QLatin1Char('\n'));
  lines.removeLast();  // after the final newline
  return lines;
}

QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& content) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(f.write(content), content.size());
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

uint permissionsOf(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

}  // namespace

class LogTest : public QObject {
  Q_OBJECT

  StdErrRedirect* err_ = nullptr;  // standard error of the running test
  QTemporaryDir* dir_ = nullptr;
  QString path(const QString& name) const { return dir_->filePath(name); }

 private slots:
  void init() {
    ZOVRAN_Log::resetToDefaults();
    err_ = new StdErrRedirect;
    dir_ = new QTemporaryDir;
  }
  void cleanup() {
    ZOVRAN_Log::resetToDefaults();
    delete std::exchange(dir_, nullptr);
    delete std::exchange(err_, nullptr);
  }

  void standardErrorAndBufferLines() {
    ZOVRAN_Log::setApplicationName(QStringLiteral("App"));
    ZOVRAN_Log::logLevel(ZOVRAN_Log::Information, QStringLiteral("hello"));
    ZOVRAN_Log::logLevel(7, QStringLiteral("high"));
    const QStringList lines = bufferLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY(QRegularExpression(QStringLiteral("^I ") + kStamp + QStringLiteral(" hello$")).match(lines[0]).hasMatch());
    QVERIFY(lines[1].startsWith(QLatin1String("D [")));
    ZOVRAN_Log::debug(QStringLiteral("one\ntwo\n"));  // split at newlines
    const QByteArray debug = "DEBUG: App: ";
    QCOMPARE(err_->contents(), "INFO: hello\nDEBUG: App: high\n" + debug + "one\n" + debug + "two\n" + debug + "\n");

    ZOVRAN_Log::setShouldLogAppName(true);
    ZOVRAN_Log::err(QStringLiteral("bad"));
    QVERIFY2(QRegularExpression(QStringLiteral("^E ") + kStamp + QStringLiteral(" App: bad$")).match(bufferLines().last()).hasMatch(),
             qPrintable(bufferLines().last()));
    // With standard error off and no file, nothing is logged at all.
    ZOVRAN_Log::setShouldLogToStdErr(false);
    const qsizetype before = bufferLines().size();
    ZOVRAN_Log::err(QStringLiteral("lost"));
    QCOMPARE(bufferLines().size(), before);
  }

  void bufferShedsOldestCharactersPastAMillion() {
    // A buffer line is 35 characters around its message: "I [stamp] message\n".
    ZOVRAN_Log::logLevel(0, QString(1'000'000 - 35, QLatin1Char('a')));
    ZOVRAN_Log::logLevel(0, QStringLiteral("x"));  // buffer at 1,000,000: no trim yet
    QCOMPARE(ZOVRAN_Log::pendingBuffer()->size(), 1'000'036);
    ZOVRAN_Log::logLevel(0, QStringLiteral("y"));  // at 1,000,036: loses 10,000 first
    const QString buffer = *ZOVRAN_Log::pendingBuffer();
    QCOMPARE(buffer.size(), 1'000'036 - 10'000 + 36);
    QVERIFY(buffer.startsWith(QString(100, QLatin1Char('a'))) && buffer.endsWith(QLatin1String(" y\n")));
    ZOVRAN_Log::resetToDefaults();
    ZOVRAN_Log::logLevel(0, QString(1'000'001 - 35, QLatin1Char('b')));  // exactly 1,000,001
    ZOVRAN_Log::logLevel(0, QStringLiteral("z"));
    QCOMPARE(ZOVRAN_Log::pendingBuffer()->size(), 1'000'001 - 10'000 + 36);
  }

  void hexRows() {
    ZOVRAN_Log::logData(QByteArray("abc"));
    QByteArray seventeen;
    for (int i = 0; i < 17; ++i) seventeen.append(static_cast<char>(i == 1 ? '%' : 0x30 + i));
    ZOVRAN_Log::logData(seventeen);
    ZOVRAN_Log::logData(QByteArray());
    const QStringList lines = bufferLines();
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[0].endsWith(QStringLiteral(" 00000000  61 62 63                                          |abc|")));
    QVERIFY(lines[1].endsWith(QStringLiteral(" 00000000  30 25 32 33 34 35 36 37  38 39 3a 3b 3c 3d 3e 3f  |0%%23456789:;<=>?|")));
    QVERIFY(lines[2].endsWith(QStringLiteral(" 00000010  40                                                |@|")));
    QCOMPARE(ZOVRAN_Log::asciiHexForData(QByteArray("\x00\xff", 2)), QStringLiteral("00 ff "));
  }

  void fileReceivesBufferAndLaterLines() {
    const QString file = path(QStringLiteral("deep/er/app.log"));
    ZOVRAN_Log::logLevel(0, QStringLiteral("before"));
    QVERIFY(ZOVRAN_Log::setLogFile(file));
    QVERIFY(!ZOVRAN_Log::pendingBuffer());
    ZOVRAN_Log::logLevel(4, QStringLiteral("after"));
    QVERIFY(!ZOVRAN_Log::setLogFile(path(QStringLiteral("other.log"))));
    QCOMPARE(ZOVRAN_Log::logFilePath(), path(QStringLiteral("other.log")));
    ZOVRAN_Log::logLevel(0, QStringLiteral("still here"));
    const QStringList lines = QString::fromUtf8(readFile(file)).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].startsWith(QLatin1String("I [")) && lines[0].endsWith(QLatin1String("] before")));
    QVERIFY(lines[1].startsWith(QLatin1String("W [")) && lines[1].endsWith(QLatin1String("] after")));
    QVERIFY(lines[2].endsWith(QLatin1String("] still here")));
    QVERIFY(!QFile::exists(path(QStringLiteral("other.log"))));
    QCOMPARE(permissionsOf(file), 0664u);

    // A file that cannot be opened: the lines stay in the buffer.
    ZOVRAN_Log::resetToDefaults();
    QVERIFY(!ZOVRAN_Log::setLogFile(file + QStringLiteral("/app.log")));
    ZOVRAN_Log::logLevel(0, QStringLiteral("kept"));
    QVERIFY(ZOVRAN_Log::pendingBuffer()->contains(QLatin1String("Failed to open log file at ")));
    QVERIFY(ZOVRAN_Log::pendingBuffer()->contains(QLatin1String("] kept\n")));
  }

  void standardErrorFollowsTheFileWhenSwitchedOff() {
    const QString file = path(QStringLiteral("app.log"));
    struct stat before {}, after {};
    ::fstat(STDERR_FILENO, &before);
    ZOVRAN_Log::setShouldLogToStdErr(false);
    QVERIFY(ZOVRAN_Log::setLogFile(file));
    QCOMPARE(::write(STDERR_FILENO, "raw line\n", 9), 9);
    ZOVRAN_Log::logLevel(0, QStringLiteral("logged"));
    ZOVRAN_Log::resetToDefaults();
    ::fstat(STDERR_FILENO, &after);
    QCOMPARE(after.st_ino, before.st_ino);
    const QByteArray content = readFile(file);
    QVERIFY(content.startsWith("raw line\nI [") && content.endsWith("] logged\n"));
  }

  void announcesEveryLine() {
    QSignalSpy spy(ZOVRAN_LogNotifier::instance(), &ZOVRAN_LogNotifier::logFileDidUpdate);
    ZOVRAN_Log::logLevel(0, QStringLiteral("quiet"));
    ZOVRAN_Log::setShouldNotifyForLogUpdates(true);
    ZOVRAN_Log::logLevel(0, QStringLiteral("loud"));
    QCOMPARE(spy.count(), 1);
    QVERIFY(spy[0][0].toString().isNull());
    const QString added = spy[0][1].toMap().value(QLatin1String(kZOVRAN_LogFileAddedString)).toString();
    QVERIFY(added.startsWith(QLatin1String("I [")) && added.endsWith(QLatin1String("] loud\n")));
  }

  void concurrentLinesStayWhole_data() {
    QTest::addColumn<bool>("toFile");
    QTest::newRow("buffer") << false;
    QTest::newRow("file") << true;
  }
  void concurrentLinesStayWhole() {
    QFETCH(bool, toFile);
    const QString file = path(QStringLiteral("app.log"));
    if (toFile) QVERIFY(ZOVRAN_Log::setLogFile(file));
    constexpr int kThreads = 6, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t] {
        const QString payload(500 + t, QChar(u'a' + t));
        for (int i = 0; i < kLines; ++i) {
          if (i % 10 == 0) ZOVRAN_Log::logData(QByteArray(40, static_cast<char>('A' + t)));
          else ZOVRAN_Log::logLevel(0, QStringLiteral("t%1 ").arg(t) + payload);
        }
      });
    }
    for (std::thread& t : threads) t.join();
    const QRegularExpression plain(QStringLiteral("^I ") + kStamp + QStringLiteral(" t(\\d) ([a-f])+$"));
    const QRegularExpression hex(QStringLiteral("^D ") + kStamp + QStringLiteral(" 000000[0-2]0  .*\\|$"));
    const QString text = toFile ? QString::fromUtf8(readFile(file)) : *ZOVRAN_Log::pendingBuffer();
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), kThreads * (kLines / 10 * 3 + kLines * 9 / 10));
    for (const QString& line : lines) {
      const QRegularExpressionMatch m = plain.match(line);
      if (m.hasMatch()) {
        const int t = m.captured(1).toInt();
        QCOMPARE(line.size(), line.indexOf(QLatin1String(" t")) + 4 + 500 + t);
        QCOMPARE(m.captured(2), QString(QChar(u'a' + t)));
      } else {
        QVERIFY2(hex.match(line).hasMatch(), qPrintable(line.left(120)));
      }
    }
  }

  // The line's date is the local time as QDateTime renders it, zone offset included.
  void dateIsLocalTime() {
    const QString pattern = QStringLiteral("[YYYY/MM/dd HH:mm:ss.SSS Z]");
    const QString before = pm::stringWithUTSFormat(QDateTime::currentDateTime(), pattern);
    const QString date = ZOVRAN_Log::logDateString();
    const QString after = pm::stringWithUTSFormat(QDateTime::currentDateTime(), pattern);
    QVERIFY2(before.left(24) <= date.left(24) && date.left(24) <= after.left(24), qPrintable(date));
    QCOMPARE(date.mid(24), before.mid(24));
  }

  // The system log (syslog and standard error, with the test sink) keeps lines whole as well.
  void systemLogKeepsLinesWhole() {
    LogCapture log;
    pm::systemLog(QStringLiteral("ends in newline\n"));
    pm::systemLogf("%s=%d", "value", 42);
    QCOMPARE(log.lines(), QStringList({QStringLiteral("ends in newline"), QStringLiteral("value=42")}));
    // Standard error's prefix: local time to the millisecond, process name, pid and thread id.
    const QRegularExpression prefix(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "
                                                   "log_unittest\\[%1:%2\\] ends in newline\n")
                                        .arg(::getpid()).arg(::gettid()));
    QVERIFY2(prefix.match(QString::fromUtf8(err_->contents())).hasMatch(), err_->contents().constData());
    log.clear();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([t] {
        for (int i = 0; i < 100; ++i) pm::systemLog(QStringLiteral("thread %1 ").arg(t) + QString(300, QChar(u'a' + t)));
      });
    for (std::thread& t : threads) t.join();
    QCOMPARE(log.count(QStringLiteral("thread 2 ccc")), 100);
    int whole = 0;
    for (const QByteArray& line : err_->contents().split('\n')) {
      if (!line.contains("] thread ")) continue;
      QVERIFY(line.endsWith(" " + QByteArray(300, line.back())));
      ++whole;
    }
    QCOMPARE(whole, 400);
  }

  void rollsPastTheThresholdOnly() {
    LogCapture log;
    const QString file = path(QStringLiteral("app.log")), old = path(QStringLiteral("app_old.log"));
    writeFile(file, lines(kMiB - 1, 'a'));
    ZOVRAN_Log::rollLogFileIfNecessary(file);
    QCOMPARE(readFile(file).size(), kMiB - 1);
    QVERIFY(!QFile::exists(old));
    QVERIFY(log.lines().isEmpty());

    const QByteArray current = lines(2 * kMiB, 'b');
    writeFile(old, "previous\n");
    writeFile(file, current);
    ZOVRAN_Log::rollLogFileIfNecessary(file);
    QCOMPARE(readFile(file), QByteArray());
    QCOMPARE(readFile(old), "previous\n" + current);
    QCOMPARE(permissionsOf(old), 0664u);
    QCOMPARE(log.lines(), QStringList({QStringLiteral("Rolling log file."), QStringLiteral("Rolled previous log file into ") + old,
                                       QStringLiteral("Starting new log file at ") + file}));
    // Without an extension the old file takes ".log".
    writeFile(path(QStringLiteral("session")), "line\n");
    ZOVRAN_Log::rollLogFile(path(QStringLiteral("session")), QString(), 1);
    QCOMPARE(readFile(path(QStringLiteral("session_old.log"))), QByteArray("line\n"));
  }

  void oldFileIsCappedAtALineBoundary() {
    const QString file = path(QStringLiteral("app.log")), old = path(QStringLiteral("app_old.log"));
    const QByteArray previous = lines(kOldCap - 100, 'p'), current = lines(2 * kMiB, 'c');
    writeFile(old, previous);
    writeFile(file, current);
    ZOVRAN_Log::rollLogFileIfNecessary(file);
    const QByteArray combined = previous + current, kept = readFile(old);
    QVERIFY(kept.size() <= kOldCap && kept.endsWith(current) && combined.endsWith(kept));
    const qsizetype cut = combined.size() - kept.size();
    QCOMPARE(combined[cut - 1], '\n');
    // The cut is the first line boundary that fits: one line more would pass the cap.
    QVERIFY(combined.size() - (combined.lastIndexOf('\n', cut - 2) + 1) > kOldCap);
    // A combined text without any newline past the cut point leaves nothing.
    writeFile(old, QByteArray(kOldCap, 'x'));
    writeFile(file, QByteArray(kMiB, 'y'));
    ZOVRAN_Log::rollLogFileIfNecessary(file);
    QCOMPARE(readFile(old), QByteArray());
  }

  // The current log is emptied only once the old file has been written.
  void failedOldFileKeepsTheCurrentLog() {
    LogCapture log;
    const QString file = path(QStringLiteral("app.log"));
    const QByteArray current = lines(2 * kMiB, 'k');
    writeFile(file, current);
    const QString unwritable = path(QStringLiteral("missing/dir/app_old.log"));
    ZOVRAN_Log::rollLogFile(file, unwritable, kMiB);
    QCOMPARE(readFile(file), current);
    QVERIFY(log.contains(QStringLiteral("Error writing old log file to ") + unwritable));
    QVERIFY(!log.contains(QStringLiteral("Starting new log file")));
    QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("app_old.log")));  // a directory in its place
    ZOVRAN_Log::rollLogFileIfNecessary(file);
    QCOMPARE(readFile(file), current);
  }

  void openingAnOversizedLogRollsItFirst() {
    const QString file = path(QStringLiteral("app.txt"));
    writeFile(file, lines(kMiB + 10, 'o'));
    ZOVRAN_Log::logLevel(0, QStringLiteral("buffered"));
    QVERIFY(ZOVRAN_Log::setLogFile(file));
    QCOMPARE(readFile(path(QStringLiteral("app_old.txt"))).size(), kMiB + 10);
    const QByteArray fresh = readFile(file);
    QVERIFY(fresh.startsWith("I [") && fresh.endsWith("] buffered\n"));
  }

  void emailAddresses() {
    for (const char* valid : {"John.Doe@Example.COM", "\"odd@name\"@[192.168.0.1]"})
      QVERIFY2(ZOVRAN_Log::validateEmailAddress(QString::fromLatin1(valid)), valid);
    for (const char* invalid : {"john.example.com", "john@example.com trailing", "john@[256.1.1.1]",
                                "john..doe@example.com", "\"odd name\"@example.com"})
      QVERIFY2(!ZOVRAN_Log::validateEmailAddress(QString::fromLatin1(invalid)), invalid);
  }
};

QTEST_GUILESS_MAIN(LogTest)
#include "log_unittest.moc"
