// The KTC print-queue clean-up: the `lpstat -v` parser, and the removal through stand-in `lpstat`
// and `lpadmin` tools that record their arguments, with queue names that would mean something to
// a shell.

#include <QtTest>

#include <QTemporaryDir>

#include "update/PrintQueues.h"

namespace {

const QString kMarker = QString::fromLatin1(pm::kKTCDeviceURIMarker);

void writeFile(const QString& path, const QByteArray& text, bool executable = false) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
  if (executable) file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

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

  // Each queue is removed by one `lpadmin -x NAME` with the name as one argument, never through a
  // shell: nothing in the names is run.
  void removesOnlyKTCQueuesWithoutAShell() {
    QTemporaryDir tools;
    const QStringList doomed{QStringLiteral("ktc;touch${IFS}PWNED"), QStringLiteral("ktc$(touch${IFS}PWNED2)"),
                             QStringLiteral("ktc*"), QStringLiteral("`touch${IFS}PWNED3`")};
    QByteArray listing = "device for ktc_no_serial: usb://Varnholt/RM-KTC\ndevice for pza: usb://Varnholt/RM-PZA?serial=7\n";
    for (const QString& name : doomed) listing += "device for " + name.toUtf8() + ": usb://Varnholt/RM-KTC?serial=1\n";
    writeFile(tools.filePath(QStringLiteral("listing")), listing);
    writeFile(tools.filePath(QStringLiteral("lpstat")), "#!/bin/sh\n[ \"$*\" = -v ] && cat \"$(dirname \"$0\")/listing\"\n", true);
    writeFile(tools.filePath(QStringLiteral("lpadmin")),
              "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"$(dirname \"$0\")/calls\"\n", true);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", tools.path().toLocal8Bit() + ':' + path);
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(tools.path());

    const QStringList removed = pm::removePrintQueuesForDeviceURIMarker(kMarker);
    QDir::setCurrent(previousDir);
    qputenv("PATH", path);
    QCOMPARE(removed, doomed);
    QFile calls(tools.filePath(QStringLiteral("calls")));
    QVERIFY(calls.open(QIODevice::ReadOnly));
    QStringList expected;
    for (const QString& name : doomed) expected << QStringLiteral("-x") << name;
    QCOMPARE(QString::fromUtf8(calls.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
    QCOMPARE(QDir(tools.path()).entryList({QStringLiteral("PWNED*")}, QDir::Files), QStringList());
  }
};

QTEST_GUILESS_MAIN(PrintQueuesTest)
#include "print_queues_unittest.moc"
