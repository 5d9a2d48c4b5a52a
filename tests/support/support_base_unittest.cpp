#include <fcntl.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>
#include <vector>

#include "support/NameTables.h"
#include "support/SystemLog.h"
#include "support/ZOVRAN_Base.h"
#include "tests/common/LogCapture.h"
#include "tests/support/StdErrRedirect.h"

using namespace pm;

class SupportBaseTest : public QObject {
  Q_OBJECT
 private slots:
  void nameTablesAtTheirBorders() {
    QCOMPARE(stringForIOReturn(0), "kIOReturnSuccess");
    QCOMPARE(stringForIOReturn(kIOReturnError), "kIOReturnError");
    QCOMPARE(stringForIOReturn(PM_IORETURN(0xE00002C6)), "kIOReturnError");
    QCOMPARE(stringForIOReturn(kIOReturnExclusiveAccess), "kIOReturnExclusiveAccess");
    QCOMPARE(stringForIOReturn(PM_IORETURN(0xE00002BD)), "kIOReturnNoMemory");
    QCOMPARE(stringForIOReturn(PM_IORETURN(0xE0004061)), "kIOUSBUnknownPipeErr");
    QCOMPARE(stringForIOReturn(PM_IORETURN(0xE0004062)), "kIOReturnError");
    QCOMPARE(stringForIOReturn(PM_IORETURN(0xE0004004)), "kIOReturnError");
    QCOMPARE(stringForIOReturn(kIOUSBPipeStalled), "kIOUSBPipeStalled");

    QCOMPARE(stringForIOMessage(kIOMessageServiceIsTerminated), "kIOMessageServiceIsTerminated");
    QCOMPARE(stringForIOMessage(0xE0000330), "kIOMessageCopyClientID");
    QCOMPARE(stringForIOMessage(0xE000400D), "kIOUSBBufferUnderrunErr");
    QCOMPARE(stringForIOMessage(0xE0000340), "kIOMessageUnknown");

    QCOMPARE(stringForCFStreamStatus(7), "kCFStreamStatusError");
    QCOMPARE(stringForCFStreamStatus(8), "kCFStreamStatusUnknown");
    QCOMPARE(stringForCFStreamEvent(16), "kCFStreamEventEndEncountered");
    QCOMPARE(stringForCFStreamEvent(3), "kCFStreamEventUnknown");

    QCOMPARE(stringForErrno(0), "unknown");
    QCOMPARE(stringForErrno(-1), "unknown");
    QCOMPARE(stringForErrno(1), "EPERM - Operation not permitted");
    QCOMPARE(stringForErrno(35), "EAGAIN - Resource temporarily unavailable; Operation would block");
    QCOMPARE(stringForErrno(43), "EPROTONOSUPPORT - Protocol not supported");
    QCOMPARE(stringForErrno(44), "unknown");
    QCOMPARE(stringForSignal(0), "unknown");
    QCOMPARE(stringForSignal(1), "HangUP");
    QCOMPARE(stringForSignal(7), "unknown");
    QCOMPARE(stringForSignal(31), "USeR 2");
    QCOMPARE(stringForSignal(32), "unknown");
  }

  void safeTempFile() {
    QTemporaryDir dir;
    qputenv("TMPDIR", QFile::encodeName(dir.path()));
    int fd = -1;
    const QString path = ZOVRAN_Base::safeTempFile(&fd);
    QVERIFY(fd >= 0);
    QCOMPARE(QFileInfo(path).absolutePath(), dir.path());
    QCOMPARE(QFileInfo(path).fileName().size(), 16);
    QCOMPARE(::write(fd, "x", 1), 1);
    ::close(fd);
    QCOMPARE(QFileInfo(path).size(), 1);
    const QString second = ZOVRAN_Base::safeTempFile(nullptr);
    QVERIFY(QFile::exists(second) && second != path);

    StdErrRedirect err;
    LogCapture log;
    qputenv("TMPDIR", QFile::encodeName(dir.filePath(QStringLiteral("missing"))));
    fd = 0;
    QVERIFY(ZOVRAN_Base::safeTempFile(&fd).isNull());
    QVERIFY(fd < 0);
    QVERIFY(log.contains(QStringLiteral("ERROR: failed to create temporary file ") + dir.filePath("missing") +
                         QStringLiteral("/XXXXXXXXXXXXXXXX (Error 2: ")));
    qunsetenv("TMPDIR");
  }

  void systemSummary() {
    const std::optional<QVariantMap> stats = ZOVRAN_Base::vmStats();
    QVERIFY(stats);
    QCOMPARE(stats->value("freeMB").toULongLong(), stats->value("freeBytes").toULongLong() >> 20);
    const QString info = ZOVRAN_Base::systemVersionInfo();
    QVERIFY2(QRegularExpression(QStringLiteral(
                                    R"(^Linux .+ foundation \(\d\.\d{3}\);\n\d+MB \(\d+MB free\); \d+ CPU; )"
                                    R"((Little|Big)Endian \(64-bit\); .+ \(.+\)$)"))
                 .match(info)
                 .hasMatch(),
             qPrintable(info));
    QVERIFY(ZOVRAN_Base::startupInfo().startsWith(QString(80, QLatin1Char('^')) + QStringLiteral("\nsupport_base_unittest starting up\nLinux ")));
    QCOMPARE(ZOVRAN_Base::pathToSelf(), QCoreApplication::applicationFilePath());
    QVERIFY(!ZOVRAN_Base::firstFoundDirectoryType(ZOVRAN_Base::CachesDirectory, ZOVRAN_Base::UserDomainMask).isEmpty());
  }

  void systemLogKeepsLinesWhole() {
    StdErrRedirect err;
    LogCapture log;
    systemLog(QStringLiteral("ends in newline\n"));
    systemLogf("%s=%d", "value", 42);
    QCOMPARE(log.lines(), QStringList({QStringLiteral("ends in newline"), QStringLiteral("value=42")}));
    // Standard error's prefix: local time to the millisecond, process name, pid and thread id.
    const QRegularExpression prefix(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "
                                                   "support_base_unittest\\[%1:%2\\] ends in newline\n")
                                        .arg(::getpid()).arg(::gettid()));
    QVERIFY2(prefix.match(QString::fromUtf8(err.contents())).hasMatch(), err.contents().constData());
    log.clear();

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([t] {
        for (int i = 0; i < 100; ++i) systemLog(QStringLiteral("thread %1 ").arg(t) + QString(300, QChar(u'a' + t)));
      });
    }
    for (std::thread& t : threads) t.join();
    QCOMPARE(log.lines().size(), 400);
    QCOMPARE(log.count(QStringLiteral("thread 2 ccc")), 100);
    // Standard error holds the same lines, each whole on its own line.
    const QList<QByteArray> written = err.contents().split('\n');
    int whole = 0;
    for (const QByteArray& line : written) {
      if (line.contains("] thread ")) {
        const char c = line.at(line.size() - 1);
        QVERIFY(line.endsWith(" " + QByteArray(300, c)));
        ++whole;
      }
    }
    QCOMPARE(whole, 400);
  }
};

QTEST_GUILESS_MAIN(SupportBaseTest)
#include "support_base_unittest.moc"
