#include <sys/stat.h>

#include <QTemporaryDir>
#include <QtTest>

#include "support/ZOVRAN_Log.h"
#include "tests/common/LogCapture.h"
#include "tests/support/StdErrRedirect.h"

namespace {

constexpr qsizetype kMiB = 1024 * 1024;
constexpr qsizetype kOldCap = 10 * kMiB;

// `size` bytes of numbered lines, so that any cut can be checked for its line boundary.
QByteArray lines(qsizetype size, char tag) {
  QByteArray out;
  out.reserve(size + 64);
  for (int i = 0; out.size() < size; ++i) out += tag + QByteArray::number(i).rightJustified(12, '0') + '\n';
  out.truncate(size);
  if (!out.isEmpty()) out[out.size() - 1] = '\n';
  return out;
}

void writeFile(const QString& path, const QByteArray& content) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(f.write(content), content.size());
}

QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class LogRollTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { ZOVRAN_Log::resetToDefaults(); }

  void rollsPastTheThresholdOnly() {
    StdErrRedirect err;
    LogCapture log;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("app.log"));
    const QString old = dir.filePath(QStringLiteral("app_old.log"));

    writeFile(path, lines(kMiB - 1, 'a'));
    ZOVRAN_Log::rollLogFileIfNecessary(path);
    QCOMPARE(readFile(path).size(), kMiB - 1);
    QVERIFY(!QFile::exists(old));
    QVERIFY(log.lines().isEmpty());

    const QByteArray current = lines(2 * kMiB, 'b');
    writeFile(old, "previous\n");
    writeFile(path, current);
    ZOVRAN_Log::rollLogFileIfNecessary(path);
    QCOMPARE(readFile(path), QByteArray());
    QCOMPARE(readFile(old), "previous\n" + current);
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(old).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0664u);
    QCOMPARE(log.lines(), QStringList({QStringLiteral("Rolling log file."),
                                       QStringLiteral("Rolled previous log file into ") + old,
                                       QStringLiteral("Starting new log file at ") + path}));
  }

  void oldFileIsCappedAtALineBoundary() {
    StdErrRedirect err;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("app.log"));
    const QString old = dir.filePath(QStringLiteral("app_old.log"));
    const QByteArray previous = lines(kOldCap - 100, 'p');
    const QByteArray current = lines(2 * kMiB, 'c');
    writeFile(old, previous);
    writeFile(path, current);
    ZOVRAN_Log::rollLogFileIfNecessary(path);

    const QByteArray combined = previous + current;
    const QByteArray kept = readFile(old);
    QVERIFY(kept.size() <= kOldCap);
    QVERIFY(kept.endsWith(current));
    QVERIFY(combined.endsWith(kept));
    const qsizetype cut = combined.size() - kept.size();
    QCOMPARE(combined[cut - 1], '\n');
    // The cut is the first line boundary that fits: one line more would pass the cap.
    const qsizetype previousBoundary = combined.lastIndexOf('\n', cut - 2);
    QVERIFY(combined.size() - (previousBoundary + 1) > kOldCap);

    // A combined text without any newline past the cut point leaves nothing.
    writeFile(old, QByteArray(kOldCap, 'x'));
    writeFile(path, QByteArray(kMiB, 'y'));
    ZOVRAN_Log::rollLogFileIfNecessary(path);
    QCOMPARE(readFile(old), QByteArray());
  }

  void failedOldFileKeepsTheCurrentLog() {
    StdErrRedirect err;
    LogCapture log;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("app.log"));
    const QByteArray current = lines(2 * kMiB, 'k');
    writeFile(path, current);

    const QString unwritable = dir.filePath(QStringLiteral("missing/dir/app_old.log"));
    ZOVRAN_Log::rollLogFile(path, unwritable, kMiB);
    QCOMPARE(readFile(path), current);
    QVERIFY(log.contains(QStringLiteral("Error writing old log file to ") + unwritable));
    QVERIFY(!log.contains(QStringLiteral("Starting new log file")));

    // A directory in the old file's place cannot be written either.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("app_old.log")));
    ZOVRAN_Log::rollLogFileIfNecessary(path);
    QCOMPARE(readFile(path), current);
  }

  void pathWithoutExtensionRollsIntoLogExtension() {
    StdErrRedirect err;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("session"));
    writeFile(path, "line\n");
    ZOVRAN_Log::rollLogFile(path, QString(), 1);
    QCOMPARE(readFile(dir.filePath(QStringLiteral("session_old.log"))), QByteArray("line\n"));
    QCOMPARE(readFile(path), QByteArray());
  }

  void openingAnOversizedLogRollsItFirst() {
    StdErrRedirect err;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("app.txt"));
    writeFile(path, lines(kMiB + 10, 'o'));
    ZOVRAN_Log::logLevel(0, QStringLiteral("buffered"));
    QVERIFY(ZOVRAN_Log::setLogFile(path));
    QCOMPARE(readFile(dir.filePath(QStringLiteral("app_old.txt"))).size(), kMiB + 10);
    const QByteArray fresh = readFile(path);
    QVERIFY(fresh.startsWith("I [") && fresh.endsWith("] buffered\n"));
    ZOVRAN_Log::resetToDefaults();
  }
};

QTEST_GUILESS_MAIN(LogRollTest)
#include "log_roll_unittest.moc"
