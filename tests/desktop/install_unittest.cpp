// The application installed into a prefix (cmake --install) and packaged (cpack, Debian) finds
// its resources there: the installed and the unpacked binary's self-check (PM_SELFTEST=1), in
// demo mode, offscreen. The build tree keeps finding the source tree's resources. Installing the
// package system-wide is left to CI.

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kBinaryDir = QStringLiteral(PM_BINARY_DIR);
const QString kAppId = QStringLiteral("io.github.printermaintenance.PrinterMaintenance");

struct Result {
  int exitCode = -1;
  QString out;
};

Result run(const QString& program, const QStringList& arguments,
           const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
  QProcess process;
  process.setProcessEnvironment(env);
  process.start(program, arguments);
  if (!process.waitForFinished(240000)) return {};
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())};
}

// The environment a user's session would give: none of the test's own resource override.
Result selfCheck(const QString& program, const QString& language) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove(QStringLiteral("PM_RESOURCE_DIR"));
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"}) env.remove(QLatin1String(name));
  env.insert(QStringLiteral("PM_SELFTEST"), QStringLiteral("1"));
  env.insert(QStringLiteral("PRINTER_MAINTENANCE_SIMULATE"), QStringLiteral("PZA"));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("LANG"), language);
  return run(program, {}, env);
}

// What the self-check cannot see, below the prefix: the desktop integration files and what Debian
// asks of every package.
const QStringList kInstalledFiles{QStringLiteral("bin/printer-maintenance-cli"),
                                  QStringLiteral("lib/udev/rules.d/70-printer-maintenance.rules"),
                                  QStringLiteral("share/applications/%1.desktop").arg(kAppId),
                                  QStringLiteral("share/metainfo/%1.metainfo.xml").arg(kAppId),
                                  QStringLiteral("share/icons/hicolor/scalable/apps/printer-maintenance.svg"),
                                  QStringLiteral("share/icons/hicolor/256x256/apps/printer-maintenance.png"),
                                  QStringLiteral("share/doc/printer-maintenance/copyright"),
                                  QStringLiteral("share/doc/printer-maintenance/changelog.gz"),
                                  QStringLiteral("share/doc/printer-maintenance/examples/models.conf"),
                                  QStringLiteral("share/man/man1/printer-maintenance.1.gz"),
                                  QStringLiteral("share/man/man1/printer-maintenance-cli.1.gz")};

}  // namespace

class InstallTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(prefix_.isValid());
    const Result install =
        run(QStringLiteral(PM_CMAKE_COMMAND),
            {QStringLiteral("--install"), kBinaryDir, QStringLiteral("--prefix"), prefix_.path()});
    QVERIFY2(install.exitCode == 0, qPrintable(install.out));
    root_ = QDir(prefix_.path()).canonicalPath();
  }

  // The files the self-check cannot see are installed, and no picture sources. The self-check of the
  // build tree's binary (the source tree's resources) and of the installed one with an archive file
  // gone (the check is worth having only if it notices what is missing); the whole installed one
  // passes in the package case.
  void selfCheckFindsTheResources() {
    const QDir root(root_);
    for (const QString& file : kInstalledFiles) QVERIFY2(root.exists(file), qPrintable(file));
    QVERIFY(!root.exists(QStringLiteral("share/printer-maintenance/pictures/PZA.svg")));
    const QString installed = root_ + QStringLiteral("/bin/printer-maintenance");
    const QString data = root_ + QStringLiteral("/share/printer-maintenance");
    const QString table = data + QStringLiteral("/firmware/PZA_SD_310_0100.cwd");
    const struct {
      QString program;
      bool tableAway;  // and the locale C
      QStringList lines;
    } rows[] = {
        {kBinaryDir + "/printer-maintenance", false, {"resource directory: " PM_SOURCE_DIR "/resources\n"}},
        {installed,
         true,
         {"archive PZA: FAILED", "archive KTA: verified", "translation: none for C",
          "self-check: FAILED: archive PZA\n"}}};
    for (const auto& row : rows) {
      if (row.tableAway) QVERIFY(QFile::rename(table, table + QStringLiteral(".away")));
      const Result check = selfCheck(row.program, row.tableAway ? "C" : "de_DE.UTF-8");
      if (row.tableAway) QVERIFY(QFile::rename(table + QStringLiteral(".away"), table));
      QVERIFY2(check.exitCode == (row.tableAway ? 1 : 0), qPrintable(check.out));
      for (const QString& line : row.lines) QVERIFY2(check.out.contains(line), qPrintable(check.out));
      // Beside the report only warnings and errors: the detailed log stays off the terminal.
      static const QRegularExpression report(
          QStringLiteral(R"(^(resource directory|translation|archive \w+|picture \w+|self-check): )"));
      static const QRegularExpression warning(
          QStringLiteral(R"(\] (ERROR|Error|error|FAILED|Bad |WARN|failed|could not|no permission))"));
      for (const QString& line : check.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        QVERIFY2(report.match(line).hasMatch() || warning.match(line).hasMatch(), qPrintable(line));
    }
  }

  // The Debian package: the dependencies it declares, its maintainer scripts, and the application
  // unpacked from it passing its self-check in German (its files are the install rules' that the
  // prefix case checks).
  void debianPackage() {
    const QString dpkgDeb = QStandardPaths::findExecutable(QStringLiteral("dpkg-deb"));
    if (dpkgDeb.isEmpty()) QSKIP("dpkg-deb is not installed");
    QTemporaryDir out;
    const Result made =
        run(QStringLiteral(PM_CPACK_COMMAND),
            {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
             QStringLiteral(PM_BINARY_DIR "/CPackConfig.cmake"), QStringLiteral("-B"), out.path()});
    QVERIFY2(made.exitCode == 0, qPrintable(made.out));
    // The program, and its firmware and pictures for every architecture.
    const QStringList debs = QDir(out.path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 2);
    const QString deb =
        QDir(out.path()).filePath(debs.filter(QStringLiteral("printer-maintenance_")).value(0));
    const QString dataDeb = QDir(out.path()).filePath(debs.filter(QStringLiteral("-data_")).value(0));
    const auto fieldOf = [&](const QString& package, const char* name) {
      return run(dpkgDeb, {QStringLiteral("-f"), package, QString::fromLatin1(name)}).out.trimmed();
    };
    const auto field = [&](const char* name) { return fieldOf(deb, name); };
    QCOMPARE(fieldOf(dataDeb, "Architecture"), QStringLiteral("all"));
    QVERIFY2(field("Depends").contains(QStringLiteral("printer-maintenance-data (= " PM_VERSION ")")),
             qPrintable(field("Depends")));
    QVERIFY(!run(dpkgDeb, {QStringLiteral("-c"), deb}).out.contains(QStringLiteral("/firmware/")));
    for (const char* needed : {"libqt6widgets6", "libqt6core6", "libusb-1.0-0", "qt6-qpa-plugins"})
      QVERIFY2(field("Depends").contains(QLatin1String(needed)), needed);
    // Qt's own translations make the dialogs' buttons German; nothing fails without them.
    QVERIFY(!field("Depends").contains(QStringLiteral("qt6-translations-l10n")));
    QVERIFY(field("Recommends").contains(QStringLiteral("cups-client")) &&
            field("Recommends").contains(QStringLiteral("qt6-translations-l10n")));
    const QString info = run(dpkgDeb, {QStringLiteral("-I"), deb}).out;
    QVERIFY2(info.contains(QStringLiteral("postinst")) && info.contains(QStringLiteral("postrm")),
             qPrintable(info));
    // lintian at its default level finds nothing (errors and warnings).
    if (const QString lintian = QStandardPaths::findExecutable(QStringLiteral("lintian"));
        !lintian.isEmpty()) {
      const Result lint =
          run(lintian, {QStringLiteral("--fail-on"), QStringLiteral("error,warning"), deb, dataDeb});
      QVERIFY2(lint.exitCode == 0, qPrintable(lint.out));
    }

    QTemporaryDir root;
    for (const QString& package : {deb, dataDeb})
      QCOMPARE(run(dpkgDeb, {QStringLiteral("-x"), package, root.path()}).exitCode, 0);
    const QString data = QDir(root.path()).canonicalPath() + QStringLiteral("/usr/share/printer-maintenance");
    const Result check = selfCheck(root.filePath(QStringLiteral("usr/bin/printer-maintenance")),
                                   QStringLiteral("de_DE.UTF-8"));
    QVERIFY2(check.exitCode == 0, qPrintable(check.out));
    QVERIFY2(check.out.contains("resource directory: " + data + '\n') &&
                 check.out.contains("translation: " + data + "/translations/"),
             qPrintable(check.out));
  }

 private:
  QTemporaryDir prefix_;
  QString root_;
};

QTEST_GUILESS_MAIN(InstallTest)
#include "install_unittest.moc"
