// The KTC print-queue clean-up: the `lpstat -v` parser, and the removal against a private CUPS
// scheduler that this test starts and stops, with queue names that would mean something to a
// shell.

#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

#include "update/PrintQueues.h"

namespace {

const QString kMarker = QString::fromLatin1(pm::kKTCDeviceURIMarker);

// A scheduler of our own: its socket, spool and logs live in a temporary directory, and clients
// reach it through CUPS_SERVER. Any system scheduler is left alone.
class PrivateScheduler {
 public:
  bool start() {
    if (!dir_.isValid()) return false;
    QDir root(dir_.path());
    for (const char* sub : {"cache", "state", "spool", "log", "ppd"}) root.mkpath(QLatin1String(sub));
    const QString socket = root.filePath(QStringLiteral("cups.sock"));
    write(QStringLiteral("cupsd.conf"),
          QStringLiteral("Listen %1\nLogLevel warn\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                         "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n")
              .arg(socket));
    write(QStringLiteral("cups-files.conf"),
          QStringLiteral("ServerRoot %1\nRequestRoot %1/spool\nCacheDir %1/cache\nStateDir %1/state\n"
                         "ErrorLog %1/log/error_log\nAccessLog %1/log/access_log\nPageLog %1/log/page_log\n"
                         "ServerBin /usr/lib/cups\nDataDir /usr/share/cups\nPrintcap %1/printcap\n")
              .arg(dir_.path()));
    qputenv("CUPS_SERVER", socket.toLocal8Bit());
    cupsd_.start(QStringLiteral("/usr/sbin/cupsd"),
                 {QStringLiteral("-f"), QStringLiteral("-c"), root.filePath(QStringLiteral("cupsd.conf")),
                  QStringLiteral("-s"), root.filePath(QStringLiteral("cups-files.conf"))});
    if (!cupsd_.waitForStarted(5000)) return false;
    return QTest::qWaitFor([] { return run(QStringLiteral("lpstat"), {QStringLiteral("-r")}).contains("is running"); },
                           10000);
  }

  ~PrivateScheduler() {
    if (cupsd_.state() != QProcess::NotRunning) {
      cupsd_.terminate();
      if (!cupsd_.waitForFinished(5000)) {
        cupsd_.kill();
        cupsd_.waitForFinished(2000);
      }
    }
    qunsetenv("CUPS_SERVER");
  }

  static QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return process.readAllStandardOutput();
  }

  static bool addQueue(const QString& name, const QString& uri) {
    QProcess process;
    process.start(QStringLiteral("lpadmin"), {QStringLiteral("-p"), name, QStringLiteral("-v"), uri, QStringLiteral("-E")});
    return process.waitForFinished(10000) && process.exitCode() == 0;
  }

 private:
  void write(const QString& name, const QString& text) {
    QFile file(QDir(dir_.path()).filePath(name));
    if (file.open(QIODevice::WriteOnly)) file.write(text.toUtf8());
  }

  QTemporaryDir dir_;
  QProcess cupsd_;
};

}  // namespace

class PrintQueuesTest : public QObject {
  Q_OBJECT

 private slots:
  void parser() {
    const QByteArray listing =
        "device for ktc_1: usb://Varnholt/RM-KTC?serial=1\n"
        "device for ktc_plain: usb://Varnholt/RM-KTC\n"          // no serial part: kept
        "device for pza: usb://Varnholt/RM-PZA?serial=9\r\n"
        "device for RM-KTC?x: ipp://host/queue\n"               // the marker in the name only
        "device for a:b: usb://Varnholt/RM-KTC?serial=2\n"      // a colon in the name
        "device for ktc_1: usb://Varnholt/RM-KTC?serial=1\n"    // listed twice, named once
        "device for ktc_crlf: usb://Varnholt/RM-KTC?serial=3\r\n"
        "lpstat: No destinations added.\n"
        "device for : usb://Varnholt/RM-KTC?serial=4\n"
        "garbage RM-KTC?\n";
    QCOMPARE(pm::printQueuesForDeviceURIMarker(listing, kMarker),
             (QStringList{QStringLiteral("ktc_1"), QStringLiteral("a:b"), QStringLiteral("ktc_crlf")}));
    QVERIFY(pm::printQueuesForDeviceURIMarker({}, kMarker).isEmpty());
    QVERIFY(pm::printQueuesForDeviceURIMarker(listing, QString()).isEmpty());
  }

  void removesOnlyKTCQueuesWithoutAShell() {
    if (!QFile::exists(QStringLiteral("/usr/sbin/cupsd")) || QStandardPaths::findExecutable(QStringLiteral("lpadmin")).isEmpty())
      QSKIP("the CUPS scheduler (cupsd) and its tools are not installed");
    PrivateScheduler scheduler;
    QVERIFY(scheduler.start());

    QTemporaryDir workDir;
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(workDir.path());
    const QStringList doomed{QStringLiteral("ktc;touch${IFS}PWNED"), QStringLiteral("ktc$(touch_PWNED2)"),
                             QStringLiteral("ktc*")};
    for (const QString& name : doomed)
      QVERIFY2(PrivateScheduler::addQueue(name, QStringLiteral("usb://Varnholt/RM-KTC?serial=") + QString::number(name.size())),
               qPrintable(name));
    QVERIFY(PrivateScheduler::addQueue(QStringLiteral("ktc_no_serial"), QStringLiteral("usb://Varnholt/RM-KTC")));
    QVERIFY(PrivateScheduler::addQueue(QStringLiteral("pza"), QStringLiteral("usb://Varnholt/RM-PZA?serial=7")));

    QStringList removed = pm::removePrintQueuesForDeviceURIMarker(kMarker);
    removed.sort();
    QStringList expected = doomed;
    expected.sort();
    QCOMPARE(removed, expected);

    const QByteArray left = PrivateScheduler::run(QStringLiteral("lpstat"), {QStringLiteral("-v")});
    QDir::setCurrent(previousDir);
    QCOMPARE(pm::printQueuesForDeviceURIMarker(left, kMarker), QStringList());
    QVERIFY(left.contains("device for ktc_no_serial:"));
    QVERIFY(left.contains("device for pza:"));
    QVERIFY(QDir(workDir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
  }
};

QTEST_GUILESS_MAIN(PrintQueuesTest)
#include "print_queues_unittest.moc"
