#include <sys/stat.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>
#include <vector>

#include "support/TextUtilities.h"
#include "support/ZOVRAN_Log.h"
#include "tests/support/StdErrRedirect.h"

namespace {

const QString kStamp = QStringLiteral(R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3} [+-]\d{4}\])");

QStringList bufferLines() {
  QStringList lines = ZOVRAN_Log::pendingBuffer().value_or(QString()).split(QLatin1Char('\n'));
  lines.removeLast();  // after the final newline
  return lines;
}

QByteArray readFile(const QString& path) {
  QFile f(path);
  f.open(QIODevice::ReadOnly);
  return f.readAll();
}

}  // namespace

class ZovranLogTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { ZOVRAN_Log::resetToDefaults(); }
  void cleanup() { ZOVRAN_Log::resetToDefaults(); }

  void standardErrorAndBufferLines() {
    StdErrRedirect err;
    ZOVRAN_Log::setApplicationName(QStringLiteral("App"));
    ZOVRAN_Log::logLevel(ZOVRAN_Log::Information, QStringLiteral("hello"));
    ZOVRAN_Log::logLevel(7, QStringLiteral("high"));
    QCOMPARE(err.contents(), QByteArray("INFO: hello\nDEBUG: App: high\n"));
    QStringList lines = bufferLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY(QRegularExpression(QStringLiteral("^I ") + kStamp + QStringLiteral(" hello$")).match(lines[0]).hasMatch());
    QVERIFY(lines[1].startsWith(QLatin1String("D [")));

    ZOVRAN_Log::setShouldLogAppName(true);
    ZOVRAN_Log::err(QStringLiteral("bad"));
    lines = bufferLines();
    QVERIFY2(QRegularExpression(QStringLiteral("^E ") + kStamp + QStringLiteral(" App: bad$")).match(lines.last()).hasMatch(),
             qPrintable(lines.last()));

    // With standard error off and no file, nothing is logged at all.
    ZOVRAN_Log::setShouldLogToStdErr(false);
    ZOVRAN_Log::err(QStringLiteral("lost"));
    QCOMPARE(bufferLines().size(), 3);
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

  void debugSplitsAtNewlines() {
    StdErrRedirect err;
    ZOVRAN_Log::debug(QStringLiteral("one\ntwo"));
    ZOVRAN_Log::debug(QStringLiteral("three\n"));
    QCOMPARE(err.contents(), QByteArray("DEBUG: " + ZOVRAN_Log::processName().toUtf8() + ": one\n"
                                        "DEBUG: " + ZOVRAN_Log::processName().toUtf8() + ": two\n"
                                        "DEBUG: " + ZOVRAN_Log::processName().toUtf8() + ": three\n"
                                        "DEBUG: " + ZOVRAN_Log::processName().toUtf8() + ": \n"));
  }

  void bufferShedsOldestCharactersPastAMillion() {
    StdErrRedirect err;
    // A buffer line is 35 characters around its message: "I [stamp] message\n".
    ZOVRAN_Log::logLevel(0, QString(1'000'000 - 35, QLatin1Char('a')));
    ZOVRAN_Log::logLevel(0, QStringLiteral("x"));  // buffer at 1,000,000: no trim yet
    QCOMPARE(ZOVRAN_Log::pendingBuffer()->size(), 1'000'036);
    ZOVRAN_Log::logLevel(0, QStringLiteral("y"));  // at 1,000,036: loses 10,000 first
    const QString buffer = *ZOVRAN_Log::pendingBuffer();
    QCOMPARE(buffer.size(), 1'000'036 - 10'000 + 36);
    QVERIFY(buffer.startsWith(QString(100, QLatin1Char('a'))));
    QVERIFY(buffer.endsWith(QLatin1String(" y\n")));

    ZOVRAN_Log::resetToDefaults();
    ZOVRAN_Log::logLevel(0, QString(1'000'001 - 35, QLatin1Char('b')));  // exactly 1,000,001
    ZOVRAN_Log::logLevel(0, QStringLiteral("z"));
    QCOMPARE(ZOVRAN_Log::pendingBuffer()->size(), 1'000'001 - 10'000 + 36);
  }

  void hexRows() {
    StdErrRedirect err;
    ZOVRAN_Log::logData(QByteArray("abc"));
    QByteArray seventeen;
    for (int i = 0; i < 17; ++i) seventeen.append(static_cast<char>(i == 1 ? '%' : 0x30 + i));
    ZOVRAN_Log::logData(seventeen);
    ZOVRAN_Log::logData(QByteArray());
    const QStringList lines = bufferLines();
    QCOMPARE(lines.size(), 3);
    const QString abc = QStringLiteral("00000000  61 62 63                                          |abc|");
    QCOMPARE(abc.size(), 65);
    QVERIFY(lines[0].endsWith(QLatin1Char(' ') + abc));
    QVERIFY(lines[1].endsWith(QStringLiteral(
        " 00000000  30 25 32 33 34 35 36 37  38 39 3a 3b 3c 3d 3e 3f  |0%%23456789:;<=>?|")));
    QVERIFY(lines[2].endsWith(QStringLiteral(
        " 00000010  40                                                |@|")));
    QCOMPARE(ZOVRAN_Log::asciiHexForData(QByteArray("\x00\xff", 2)), QStringLiteral("00 ff "));
    QCOMPARE(ZOVRAN_Log::asciiHexForData(QByteArray()), QString());
  }

  void fileReceivesBufferAndLaterLines() {
    StdErrRedirect err;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("deep/er/app.log"));
    ZOVRAN_Log::logLevel(0, QStringLiteral("before"));
    QVERIFY(ZOVRAN_Log::setLogFile(path));
    QVERIFY(!ZOVRAN_Log::pendingBuffer());
    ZOVRAN_Log::logLevel(4, QStringLiteral("after"));
    QVERIFY(!ZOVRAN_Log::setLogFile(dir.filePath(QStringLiteral("other.log"))));
    QCOMPARE(ZOVRAN_Log::logFilePath(), dir.filePath(QStringLiteral("other.log")));
    ZOVRAN_Log::logLevel(0, QStringLiteral("still here"));

    const QStringList lines = QString::fromUtf8(readFile(path)).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].startsWith(QLatin1String("I [")) && lines[0].endsWith(QLatin1String("] before")));
    QVERIFY(lines[1].startsWith(QLatin1String("W [")) && lines[1].endsWith(QLatin1String("] after")));
    QVERIFY(lines[2].endsWith(QLatin1String("] still here")));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("other.log"))));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0664u);
  }

  void failedOpenKeepsBuffering() {
    StdErrRedirect err;
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("notadir")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(!ZOVRAN_Log::setLogFile(dir.filePath(QStringLiteral("notadir/app.log"))));
    QVERIFY(ZOVRAN_Log::pendingBuffer()->contains(QLatin1String("Failed to open log file at ")));
    ZOVRAN_Log::logLevel(0, QStringLiteral("kept"));
    QVERIFY(ZOVRAN_Log::pendingBuffer()->contains(QLatin1String("] kept\n")));
  }

  void standardErrorFollowsTheFileWhenSwitchedOff() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("app.log"));
    struct stat before {};
    ::fstat(STDERR_FILENO, &before);
    ZOVRAN_Log::setShouldLogToStdErr(false);
    QVERIFY(ZOVRAN_Log::setLogFile(path));
    ::write(STDERR_FILENO, "raw line\n", 9);
    ZOVRAN_Log::logLevel(0, QStringLiteral("logged"));
    ZOVRAN_Log::resetToDefaults();
    struct stat after {};
    ::fstat(STDERR_FILENO, &after);
    QCOMPARE(after.st_ino, before.st_ino);
    const QByteArray content = readFile(path);
    QVERIFY(content.startsWith("raw line\nI ["));
    QVERIFY(content.endsWith("] logged\n"));
  }

  void announcesEveryLine() {
    StdErrRedirect err;
    QSignalSpy spy(ZOVRAN_LogNotifier::instance(), &ZOVRAN_LogNotifier::logFileDidUpdate);
    ZOVRAN_Log::logLevel(0, QStringLiteral("quiet"));
    QCOMPARE(spy.count(), 0);
    ZOVRAN_Log::setShouldNotifyForLogUpdates(true);
    ZOVRAN_Log::logLevel(0, QStringLiteral("loud"));
    QCOMPARE(spy.count(), 1);
    QVERIFY(spy[0][0].toString().isNull());
    const QVariantMap info = spy[0][1].toMap();
    QCOMPARE(info.size(), 1);
    const QString added = info.value(QLatin1String(kZOVRAN_LogFileAddedString)).toString();
    QVERIFY(added.startsWith(QLatin1String("I [")) && added.endsWith(QLatin1String("] loud\n")));
  }

  void concurrentLinesStayWhole_data() {
    QTest::addColumn<bool>("toFile");
    QTest::newRow("buffer") << false;
    QTest::newRow("file") << true;
  }

  void concurrentLinesStayWhole() {
    QFETCH(bool, toFile);
    StdErrRedirect err;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("app.log"));
    if (toFile) QVERIFY(ZOVRAN_Log::setLogFile(path));
    constexpr int kThreads = 6;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t] {
        const QString payload(500 + t, QChar(u'a' + t));
        for (int i = 0; i < kLines; ++i) {
          if (i % 10 == 0) {
            ZOVRAN_Log::logData(QByteArray(40, static_cast<char>('A' + t)));
          } else {
            ZOVRAN_Log::logLevel(0, QStringLiteral("t%1 ").arg(t) + payload);
          }
        }
      });
    }
    for (std::thread& t : threads) t.join();

    const QRegularExpression plain(QStringLiteral("^I ") + kStamp + QStringLiteral(" t(\\d) ([a-f])+$"));
    const QRegularExpression hex(QStringLiteral("^D ") + kStamp + QStringLiteral(" 000000[0-2]0  .*\\|$"));
    const QString text = toFile ? QString::fromUtf8(readFile(path)) : *ZOVRAN_Log::pendingBuffer();
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

  void emailAddresses() {
    QVERIFY(ZOVRAN_Log::validateEmailAddress(QStringLiteral("John.Doe@Example.COM")));
    QVERIFY(ZOVRAN_Log::validateEmailAddress(QStringLiteral("\"odd@name\"@[192.168.0.1]")));
    QVERIFY(!ZOVRAN_Log::validateEmailAddress(QStringLiteral("john.example.com")));
    QVERIFY(!ZOVRAN_Log::validateEmailAddress(QStringLiteral("john@example.com trailing")));
    QVERIFY(!ZOVRAN_Log::validateEmailAddress(QStringLiteral("john@[256.1.1.1]")));
    QVERIFY(!ZOVRAN_Log::validateEmailAddress(QStringLiteral("john..doe@example.com")));
    QVERIFY(!ZOVRAN_Log::validateEmailAddress(QStringLiteral("\"odd name\"@example.com")));  // blank not allowed
  }
};

QTEST_GUILESS_MAIN(ZovranLogTest)
#include "zovran_log_unittest.moc"
