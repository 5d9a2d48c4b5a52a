// The files that make the application a desktop citizen: the desktop entry and the AppStream
// metadata pass their validators (where installed) and agree with each other, the icon has every
// size it claims, and the udev rule covers every vendor ID the application admits.

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include "usb/UsbPermission.h"
#include "vendor/TBUSBPrinterOLM.h"

namespace {

const QString kPackaging = QStringLiteral(PM_SOURCE_DIR "/packaging");
const QString kAppId = QStringLiteral("io.github.printermaintenance.PrinterMaintenance");

QString packagingFile(const QString& name) { return QDir(kPackaging).filePath(name); }

QString readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Runs a validator; skips when it is not installed.
#define RUN_VALIDATOR(tool, arguments)                                                       \
  do {                                                                                       \
    const QString program = QStandardPaths::findExecutable(QStringLiteral(tool));           \
    if (program.isEmpty()) QSKIP(tool " is not installed");                                  \
    QProcess process;                                                                        \
    process.setProcessChannelMode(QProcess::MergedChannels);                                 \
    process.start(program, arguments);                                                       \
    QVERIFY(process.waitForFinished(60000));                                                 \
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,        \
             process.readAll().constData());                                                 \
  } while (false)

}  // namespace

class DesktopFilesTest : public QObject {
  Q_OBJECT

 private slots:
  void desktopEntryValidates() {
    RUN_VALIDATOR("desktop-file-validate", QStringList{packagingFile(kAppId + QStringLiteral(".desktop"))});
  }

  void metainfoValidates() {
    RUN_VALIDATOR("appstreamcli",
                  (QStringList{QStringLiteral("validate"), QStringLiteral("--no-net"),
                               packagingFile(kAppId + QStringLiteral(".metainfo.xml"))}));
  }

  void entryMetainfoAndIconAgree() {
    QSettings entry(packagingFile(kAppId + QStringLiteral(".desktop")), QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    QCOMPARE(entry.value(QStringLiteral("Exec")).toString(), QStringLiteral("printer-maintenance"));
    const QString icon = entry.value(QStringLiteral("Icon")).toString();
    QVERIFY(QFileInfo::exists(
        packagingFile(QStringLiteral("icons/hicolor/scalable/apps/%1.svg").arg(icon))));

    const QString metainfo = readAll(packagingFile(kAppId + QStringLiteral(".metainfo.xml")));
    QVERIFY(metainfo.contains(QStringLiteral("<id>%1</id>").arg(kAppId)));
    QVERIFY(metainfo.contains(
        QStringLiteral("<launchable type=\"desktop-id\">%1.desktop</launchable>").arg(kAppId)));
    QVERIFY(metainfo.contains(QStringLiteral("<binary>printer-maintenance</binary>")));
    for (const uint16_t vendor : TBUSBPrinterOLM::supportedVendorIDs()) {
      const QString modalias = QStringLiteral("<modalias>usb:v%1p*d*</modalias>")
                                   .arg(QString::asprintf("%04X", vendor));
      QVERIFY2(metainfo.contains(modalias), qPrintable(modalias));
    }
  }

  void iconHasEverySize() {
    for (const int size : {48, 64, 128, 256}) {
      const QImage png(packagingFile(
          QStringLiteral("icons/hicolor/%1x%1/apps/printer-maintenance.png").arg(size)));
      QVERIFY2(!png.isNull(), qPrintable(QString::number(size)));
      QCOMPARE(png.size(), QSize(size, size));
      QVERIFY(png.hasAlphaChannel());
    }
  }

  // The rule the log names is the rule shipped, and it lets the seat's user at every printer
  // the application admits.
  void udevRuleCoversEveryAdmittedVendor() {
    const QString rule = readAll(packagingFile(QString::fromLatin1(pm::kUdevRuleName)));
    QVERIFY(!rule.isEmpty());
    QStringList active;
    for (const QString& line : rule.split(QLatin1Char('\n')))
      if (!line.trimmed().isEmpty() && !line.trimmed().startsWith(QLatin1Char('#'))) active << line;
    for (const uint16_t vendor : TBUSBPrinterOLM::supportedVendorIDs()) {
      const QString match = QStringLiteral("ATTR{idVendor}==\"%1\"").arg(vendor, 4, 16, QLatin1Char('0'));
      const auto line = std::find_if(active.cbegin(), active.cend(),
                                     [&](const QString& l) { return l.contains(match); });
      QVERIFY2(line != active.cend(), qPrintable(match));
      QVERIFY(line->contains(QStringLiteral("SUBSYSTEM==\"usb\"")));
      QVERIFY(line->contains(QStringLiteral("ENV{DEVTYPE}==\"usb_device\"")));
      QVERIFY(line->contains(QStringLiteral("TAG+=\"uaccess\"")));
    }
  }
};

QTEST_GUILESS_MAIN(DesktopFilesTest)
#include "desktop_files_unittest.moc"
