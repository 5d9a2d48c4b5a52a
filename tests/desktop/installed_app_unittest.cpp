// The application installed into a prefix finds its resources there: cmake --install into a
// temporary prefix, then the installed binary's self-check (PM_SELFTEST=1) in demo mode, offscreen.
// The build tree keeps finding the source tree's resources.

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kBinaryDir = QStringLiteral(PM_BINARY_DIR);
const QString kAppId = QStringLiteral("io.github.printermaintenance.PrinterMaintenance");

struct Run {
  int exitCode = -1;
  QString out;
};

// The environment a user's session would give: none of the test's own resource override.
Run selfCheck(const QString& program, const QString& language) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove(QStringLiteral("PM_RESOURCE_DIR"));
  env.insert(QStringLiteral("PM_SELFTEST"), QStringLiteral("1"));
  env.insert(QStringLiteral("PRINTER_MAINTENANCE_SIMULATE"), QStringLiteral("PZA"));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("LANG"), language);
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"}) env.remove(QLatin1String(name));
  QProcess process;
  process.setProcessEnvironment(env);
  process.start(program, {});
  if (!process.waitForFinished(60000)) return {};
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromUtf8(process.readAllStandardOutput())};
}

bool hasTranslations() {
  return QFileInfo::exists(kBinaryDir + QStringLiteral("/translations/printer-maintenance_de.qm"));
}

}  // namespace

class InstalledAppTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(prefix_.isValid());
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(PM_CMAKE_COMMAND),
                  {QStringLiteral("--install"), kBinaryDir, QStringLiteral("--prefix"), prefix_.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAll().constData());
    root_ = QDir(prefix_.path()).canonicalPath();
  }

  // What the self-check below cannot see: the desktop integration files, and no picture sources.
  void layoutIsComplete() {
    const QDir root(root_);
    for (const QString& file : {QStringLiteral("lib/udev/rules.d/70-printer-maintenance.rules"),
                                QStringLiteral("share/applications/%1.desktop").arg(kAppId),
                                QStringLiteral("share/metainfo/%1.metainfo.xml").arg(kAppId),
                                QStringLiteral("share/icons/hicolor/scalable/apps/printer-maintenance.svg"),
                                QStringLiteral("share/icons/hicolor/256x256/apps/printer-maintenance.png")})
      QVERIFY2(root.exists(file), qPrintable(file));
    QVERIFY(!root.exists(QStringLiteral("share/printer-maintenance/pictures/PZA.svg")));
  }

  void installedBinaryFindsItsResources() {
    const Run run = selfCheck(root_ + QStringLiteral("/bin/printer-maintenance"),
                              QStringLiteral("de_DE.UTF-8"));
    QVERIFY2(run.exitCode == 0, qPrintable(run.out));
    const QString data = root_ + QStringLiteral("/share/printer-maintenance");
    QVERIFY2(run.out.contains(QStringLiteral("resource directory: ") + data + QLatin1Char('\n')),
             qPrintable(run.out));
    QVERIFY(run.out.contains(QStringLiteral("archive PZA: verified (5 files)")));
    QVERIFY(run.out.contains(QStringLiteral("picture PZA: ") + data + QStringLiteral("/pictures/PZA.png")));
    if (hasTranslations()) {
      QVERIFY2(run.out.contains(QStringLiteral("translation: ") + data +
                                QStringLiteral("/translations/printer-maintenance_de.qm")),
               qPrintable(run.out));
    }
    QVERIFY(run.out.contains(QStringLiteral("self-check: passed")));
  }

  // The self-check is worth having only if it notices what is missing.
  void selfCheckNoticesAMissingArchiveFile() {
    const QString table = root_ + QStringLiteral("/share/printer-maintenance/firmware/PZA_SD_310_0100.cwd");
    QVERIFY(QFile::rename(table, table + QStringLiteral(".away")));
    const Run run = selfCheck(root_ + QStringLiteral("/bin/printer-maintenance"), QStringLiteral("C"));
    QVERIFY(QFile::rename(table + QStringLiteral(".away"), table));
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.out.contains(QStringLiteral("archive PZA: FAILED")));
    QVERIFY(run.out.contains(QStringLiteral("archive KTA: verified")));
    QVERIFY(run.out.contains(QStringLiteral("translation: none for C")));
    QVERIFY(run.out.contains(QStringLiteral("self-check: FAILED")));
  }

  void buildTreeUsesTheSourceResources() {
    const Run run = selfCheck(kBinaryDir + QStringLiteral("/printer-maintenance"),
                              QStringLiteral("de_DE.UTF-8"));
    QVERIFY2(run.exitCode == 0, qPrintable(run.out));
    QVERIFY(run.out.contains(QStringLiteral("resource directory: " PM_SOURCE_DIR "/resources\n")));
    if (hasTranslations()) {
      QVERIFY(run.out.contains(QStringLiteral("translation: ") + kBinaryDir +
                               QStringLiteral("/translations/printer-maintenance_de.qm")));
    }
  }

 private:
  QTemporaryDir prefix_;
  QString root_;
};

QTEST_GUILESS_MAIN(InstalledAppTest)
#include "installed_app_unittest.moc"
