// The Debian package made from this build directory: its control fields, its files, and the
// application unpacked from it finding its resources (installing it system-wide is left to CI).

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Result {
  int exitCode = -1;
  QString out;
};

Result run(const QString& program, const QStringList& arguments,
           const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
           int timeoutMs = 240000) {
  QProcess process;
  process.setProcessEnvironment(env);
  process.start(program, arguments);
  if (!process.waitForFinished(timeoutMs)) return {};
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())};
}

}  // namespace

class PackageTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    dpkgDeb_ = QStandardPaths::findExecutable(QStringLiteral("dpkg-deb"));
    if (dpkgDeb_.isEmpty()) QSKIP("dpkg-deb is not installed");
    QVERIFY(out_.isValid());
    const Result made = run(QStringLiteral(PM_CPACK_COMMAND),
                            {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                             QStringLiteral(PM_BINARY_DIR "/CPackConfig.cmake"), QStringLiteral("-B"),
                             out_.path()});
    QVERIFY2(made.exitCode == 0, qPrintable(made.out));
    const QStringList debs = QDir(out_.path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    deb_ = QDir(out_.path()).filePath(debs.first());
  }

  void controlFields() {
    const auto field = [this](const char* name) {
      return run(dpkgDeb_, {QStringLiteral("-f"), deb_, QString::fromLatin1(name)}).out.trimmed();
    };
    QCOMPARE(field("Package"), QStringLiteral("printer-maintenance"));
    QCOMPARE(field("Version"), QStringLiteral("1.0.0"));
    const QString depends = field("Depends");
    for (const char* needed : {"libqt6widgets6", "libqt6core6", "libusb-1.0-0", "qt6-qpa-plugins"})
      QVERIFY2(depends.contains(QLatin1String(needed)), qPrintable(depends));
    QVERIFY(field("Recommends").contains(QStringLiteral("cups-client")));
    QVERIFY(!field("Maintainer").isEmpty());

    const QString info = run(dpkgDeb_, {QStringLiteral("-I"), deb_}).out;
    QVERIFY2(info.contains(QStringLiteral("postinst")) && info.contains(QStringLiteral("postrm")),
             qPrintable(info));
  }

  void contents() {
    const QString listing = run(dpkgDeb_, {QStringLiteral("-c"), deb_}).out;
    // The unpacked application's self-check below sees the rest.
    for (const char* path : {"./usr/lib/udev/rules.d/70-printer-maintenance.rules",
                             "./usr/share/metainfo/io.github.printermaintenance.PrinterMaintenance.metainfo.xml",
                             "./usr/share/applications/io.github.printermaintenance.PrinterMaintenance.desktop",
                             "./usr/share/icons/hicolor/128x128/apps/printer-maintenance.png"})
      QVERIFY2(listing.contains(QLatin1String(path)), path);
  }

  void unpackedApplicationFindsItsResources() {
    QTemporaryDir root;
    QVERIFY(run(dpkgDeb_, {QStringLiteral("-x"), deb_, root.path()}).exitCode == 0);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("PM_RESOURCE_DIR"));
    env.insert(QStringLiteral("PM_SELFTEST"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const Result check = run(root.filePath(QStringLiteral("usr/bin/printer-maintenance")), {}, env, 60000);
    QVERIFY2(check.exitCode == 0, qPrintable(check.out));
    QVERIFY(check.out.contains(QStringLiteral("resource directory: ") +
                               QDir(root.path()).canonicalPath() +
                               QStringLiteral("/usr/share/printer-maintenance")));
  }

 private:
  QTemporaryDir out_;
  QString dpkgDeb_;
  QString deb_;
};

QTEST_GUILESS_MAIN(PackageTest)
#include "package_unittest.moc"
