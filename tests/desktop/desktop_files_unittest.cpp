// The files that make the application a desktop citizen: the desktop entry and the AppStream
// metadata pass their validators (where installed) and agree with each other, the icon has every
// size it claims, and the udev rule covers every model's IDs. The German translation: what the
// user reads changes language, and the table is complete and in step with the sources.
// The application as a process ends at once when told to quit, whatever its printers do.

#include <time.h>

#include <utility>

#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

#include "app/Translations.h"
#include "olm/model/ModelConfig.h"
#include "olm/model/UdevRule.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "sim/VirtualPrinter.h"
#include "tests/common/PrinterTestRig.h"
#include "tests/common/Slowdown.h"
#include "tests/common/TestFiles.h"
#include "usb/UsbPermission.h"

namespace {

const QString kPackaging = QStringLiteral(PM_SOURCE_DIR "/packaging");
const QString kAppId = QStringLiteral("io.github.printermaintenance.PrinterMaintenance");

QString packagingFile(const QString& suffix) {
  return QDir(kPackaging).filePath(suffix.startsWith(u'.') ? kAppId + suffix : suffix);
}

struct Message {
  QString context, source, translation, type;
};

QList<Message> readTs(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QList<Message> messages;
  QXmlStreamReader xml(&file);
  QString context;
  Message current;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == u"name") context = xml.readElementText();
    if (xml.name() == u"message") current = Message{context, {}, {}, {}};
    if (xml.name() == u"source") current.source = xml.readElementText();
    if (xml.name() != u"translation") continue;
    current.type = xml.attributes().value(QLatin1String("type")).toString();
    current.translation = xml.readElementText();
    messages.append(current);
  }
  return xml.hasError() ? QList<Message>() : messages;
}

// Placeholders (%1, %d, %n ...) and markup tags of a text, sorted: a translation may reorder them.
QStringList tokens(const QString& text) {
  static const QRegularExpression token(QStringLiteral("%(\\d+|d|n|s)|</?[a-z]+>"));
  QStringList found;
  for (const QRegularExpressionMatch& m : token.globalMatch(text)) found << m.captured();
  found.sort();
  return found;
}

}  // namespace

constexpr qint64 kQuitAfterMs = 1000;

class DesktopFilesTest : public QObject {
  Q_OBJECT

 private slots:
  // The entry and the metadata pass their validators (where installed) and agree with the icons;
  // the metadata names every admitted vendor.
  void entryMetainfoAndIconAgree() {
    const std::pair<const char*, QStringList> tools[] = {
        {"desktop-file-validate", {packagingFile(".desktop")}},
        {"appstreamcli", {"validate", "--no-net", packagingFile(".metainfo.xml")}}};
    for (const auto& [tool, arguments] : tools) {
      const QString program = QStandardPaths::findExecutable(QLatin1String(tool));
      if (program.isEmpty()) continue;  // the validator is not installed
      QProcess process;
      process.setProcessChannelMode(QProcess::MergedChannels);
      process.start(program, arguments);
      QVERIFY(process.waitForFinished(60000));
      QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
               process.readAll().constData());
    }
    QSettings entry(packagingFile(".desktop"), QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    QCOMPARE(entry.value(QStringLiteral("Exec")).toString(), QStringLiteral("printer-maintenance"));
    QVERIFY(QFileInfo::exists(packagingFile(
        QStringLiteral("icons/hicolor/scalable/apps/%1.svg").arg(entry.value("Icon").toString()))));
    const QString metainfo = QString::fromUtf8(readFile(packagingFile(".metainfo.xml")));
    QStringList expected{
        QStringLiteral("<id>%1</id>").arg(kAppId), "<binary>printer-maintenance</binary>",
        QStringLiteral("<launchable type=\"desktop-id\">%1.desktop</launchable>").arg(kAppId)};
    for (const uint16_t vendor : TBUSBPrinterOLM::supportedVendorIDs())
      expected << QStringLiteral("<modalias>usb:v%1p*d*</modalias>").arg(QString::asprintf("%04X", vendor));
    for (const QString& text : expected) QVERIFY2(metainfo.contains(text), qPrintable(text));
    // Every screenshot it names is one of the project's own.
    static const QRegularExpression image(
        QStringLiteral("<image>[^<]*/packaging/screenshots/([^<]+)</image>"));
    int screenshots = 0;
    for (const QRegularExpressionMatch& m : image.globalMatch(metainfo)) {
      QVERIFY2(QFileInfo::exists(packagingFile(QStringLiteral("screenshots/") + m.captured(1))),
               qPrintable(m.captured(1)));
      ++screenshots;
    }
    // The release is the changelog's: its version, and the date of its trailer line.
    static const QRegularExpression trailer(QStringLiteral("\n -- [^\n]*>  ([^\n]+)"));
    const QDateTime released = QDateTime::fromString(
        trailer.match(QString::fromUtf8(readFile(packagingFile(QStringLiteral("debian/changelog")))))
            .captured(1),
        Qt::RFC2822Date);
    QVERIFY(released.isValid() && screenshots > 0);
    QVERIFY2(metainfo.contains(QStringLiteral("<release version=\"" PM_VERSION "\" date=\"%1\"")
                                   .arg(released.toString(QStringLiteral("yyyy-MM-dd")))),
             qPrintable(released.toString(Qt::ISODate)));
    for (const int size : {48, 64, 128, 256}) {
      const QImage png(
          packagingFile(QStringLiteral("icons/hicolor/%1x%1/apps/printer-maintenance.png").arg(size)));
      QVERIFY2(png.size() == QSize(size, size) && png.hasAlphaChannel(), qPrintable(QString::number(size)));
    }
  }

  // The rule the log names is the rule installed: written from the model table at build time, it
  // lets the seat's user at every model's printers. The deployer's model configuration: good lines
  // change the IDs in force, each bad line is skipped whole and named with its file, line and
  // reason; a later file overrides an earlier one setting by setting. The program prints the rule
  // for the user's file's IDs, and its other options (--help, --version, a wrong one) answer without
  // a window.
  void udevRuleAndModelConfiguration() {
    const QByteArray rule = readFile(QStringLiteral(PM_BINARY_DIR "/") + QLatin1String(pm::kUdevRuleName));
    for (const pm::ModelTraits& traits : pm::allModelTraits())
      QVERIFY(rule.contains(
          QString::asprintf("SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"%04x\", "
                            "ATTR{idProduct}==\"%04x\", TAG+=\"uaccess\"\n",
                            traits.vendorId, traits.productId)
              .toLatin1()));

    QTemporaryDir dir;
    const QString system = dir.filePath(QStringLiteral("system.conf")),
                  user = dir.filePath(QStringLiteral("user.conf"));
    QVERIFY(writeFile(system,
                      "# the studio's printers\n"
                      "PZA vendor=0x04f9 product=0x0042 admitted=yes\n"
                      " ktc\tadmitted=YES product=15  # the old one too\n"
                      "XYZ admitted=yes\nKTA\nKTB colour=red\nKTB vendor=0x1 vendor=0x2\nKTD admitted=maybe\n"
                      "KTD product=0x10000\nKTD vendor=0\nVLA product=0x0042 admitted=yes\n"));
    QVERIFY(writeFile(user, "PZA product=0x0043\r\nKTC vendor=1234\n"));
    const pm::ModelConfig config =
        pm::readModelConfig({dir.filePath(QStringLiteral("none.conf")), dir.path(), system, user});
    const QStringList reasons{dir.path() + ": cannot be read (not a file)",
                              system + " line 4: unknown model \"XYZ\" (known: KTA,",
                              system + " line 5: nothing to set for KTA",
                              system + " line 6: \"colour=red\" is not a setting",
                              system + " line 7: vendor is given twice",
                              system + " line 8: admitted \"maybe\" is neither yes nor no",
                              system + " line 9: product \"0x10000\" is not a USB ID",
                              system + " line 10: vendor \"0\" is not a USB ID",
                              system + " line 11: product ID 0x0042 is already PZA's"};
    QCOMPARE(config.problems.size(), reasons.size());
    for (qsizetype i = 0; i < reasons.size(); ++i)
      QVERIFY2(config.problems[i].startsWith(reasons[i]), qPrintable(config.problems[i]));
    pm::ModelIdTable expected = pm::builtInIds();
    expected[size_t(pm::PrinterModel::PZA)] = {0x04f9, 0x0043, true};
    expected[size_t(pm::PrinterModel::KTC)] = {0x1234, 0x0015, true};
    QVERIFY(config.ids == expected);
    // The shipped example changes nothing as installed, and each of its example lines, uncommented,
    // is a good line.
    const QByteArray example = readFile(packagingFile(QStringLiteral("models.conf")));
    pm::ModelIdTable ids = pm::builtInIds();
    QStringList problems;
    pm::applyModelConfig(example, QStringLiteral("example"), ids, problems);
    QVERIFY(problems.isEmpty() && ids == pm::builtInIds());
    static const QRegularExpression exampleLine(QStringLiteral("(?m)^#([A-Z]+ [a-z]+=.*)$"));
    int uncommented = 0;
    for (const QRegularExpressionMatch& m : exampleLine.globalMatch(QString::fromUtf8(example))) {
      pm::applyModelConfig(m.captured(1).toUtf8(), QStringLiteral("example"), ids, problems);
      ++uncommented;
    }
    QVERIFY2(uncommented == 3 && problems.isEmpty(), qPrintable(problems.join(u'\n')));

    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("printer-maintenance")) &&
            writeFile(dir.filePath(QStringLiteral("printer-maintenance/models.conf")),
                      "PZA vendor=0x04f9 product=0x0042\n"));
    const ScopedEnv configHome("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    // The other options answer without a window too; an unknown one is a usage error in one line.
    for (const auto& [option, exitCode, out, err] :
         {std::tuple{"--help", 0, "Usage: printer-maintenance ", ""},
          {"--version", 0, "printer-maintenance " PM_VERSION "\n", ""},
          {"--frobnicate", 3, "", "printer-maintenance: unknown option --frobnicate (see --help)\n"}}) {
      QProcess asked;
      asked.start(QStringLiteral(PM_BINARY_DIR "/printer-maintenance"), {QString::fromLatin1(option)});
      QVERIFY2(asked.waitForFinished(10000) && asked.exitCode() == exitCode, option);
      QVERIFY2(asked.readAllStandardOutput().startsWith(out) && asked.readAllStandardError() == err, option);
    }
    QProcess program;
    program.start(QStringLiteral(PM_BINARY_DIR "/printer-maintenance"),
                  {QStringLiteral("--print-udev-rule")});
    QVERIFY(program.waitForFinished(10000) && program.exitCode() == 0);
    const QByteArray printed = program.readAllStandardOutput();
    QCOMPARE(printed, QByteArray(rule).replace("\"2b3c\", ATTR{idProduct}==\"0017\"",
                                               "\"04f9\", ATTR{idProduct}==\"0042\""));
  }

  // The application as built, in demo mode with a printer held by another program, one with an
  // exchange in flight (its replies take two seconds) and one that answers nothing: told to quit
  // a second after its window showed, it ends within 200 ms, cleanly (this debug build would
  // abort on a broken thread rule). Its terminal meanwhile sees warnings and errors only, one line
  // each: the frames, method names and dumps are the system log's.
  void quitEndsTheProcessAtOnce() {
    QTemporaryDir config;
    const ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    const ScopedEnv home("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const ScopedEnv simulate("PRINTER_MAINTENANCE_SIMULATE", "PZA:busy,PZA:latency=2s,PZA:deaf");
    const ScopedEnv report("PRINTER_MAINTENANCE_REPORT_SHOWN", QByteArray::number(kQuitAfterMs));
    const QString terminal = config.filePath(QStringLiteral("stderr"));
    QProcess app;
    app.setStandardErrorFile(terminal);
    app.start(QStringLiteral(PM_BINARY_DIR "/printer-maintenance"), {});
    QVERIFY(app.waitForStarted());
    QVERIFY(QTest::qWaitFor([&] { return app.canReadLine(); }, 60000));
    const QByteArray shown = app.readLine();
    QVERIFY2(shown.startsWith("shown "), shown.constData());
    QVERIFY(QTest::qWaitFor([&] { return app.state() == QProcess::NotRunning; }, 30000));
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const qint64 quitMs =
        (qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000 - shown.mid(6).trimmed().toLongLong()) / 1000 -
        kQuitAfterMs;
    // The sanitizer runtimes' own exit work takes about a second on a busy machine.
    const qint64 boundMs = kSlowdown == 1 ? 200 : 3000;
    QVERIFY2(quitMs < boundMs, qPrintable(QStringLiteral("quit took %1 ms").arg(quitMs)));
    QCOMPARE((std::pair{app.exitStatus(), app.exitCode()}), (std::pair{QProcess::NormalExit, 0}));
    static const QRegularExpression warningOrError(QStringLiteral(
        R"(^\d{4}-\d\d-\d\d [\d:.]+ \S+\[\d+:\d+\] (ERROR|Error|error|FAILED|Bad |WARN|failed|)"
        R"(could not|no permission))"));
    for (const QString& line : QString::fromUtf8(readFile(terminal)).split(u'\n', Qt::SkipEmptyParts))
      QVERIFY2(warningOrError.match(line).hasMatch(), qPrintable(line));
  }

  // Installed for German (the file found from the locale in the resource directory's
  // translations, here the build's), our texts and Qt's own buttons speak German (the package
  // depends on Qt's translations).
  void germanFollowsTheLocale() {
    const ScopedEnv resourceDir("PM_RESOURCE_DIR", PM_QM_DIR "/..");

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    pm::installTranslations(*QCoreApplication::instance());
    QLocale::setDefault(QLocale::c());
    const auto uninstall = qScopeGuard([] {
      for (QTranslator* installed : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
      }
    });
    PrinterTestRig rig;
    const auto printer = rig.attachAndWait(sim::VirtualPrinterConfig{});
    QVERIFY(printer && PrinterTestRig::settle(printer));
    printer->dialogs().showPrinterBusyAlert();
    QTRY_COMPARE(rig.alerts().count(), 1);
    QCOMPARE(
        (QStringList{QCoreApplication::translate("QPlatformTheme", "Cancel"), rig.alerts().titles().first()}),
        (QStringList{"Abbrechen", "Der ausgewählte Drucker ist nicht verfügbar. (Belegt)"}));
  }

  // Every message translated, with the same placeholders and markup as its source; a text added
  // to the sources without a translation fails here (lupdate finds it).
  void germanTableIsCompleteAndCoversTheSources() {
    const QList<Message> messages =
        readTs(QStringLiteral(PM_SOURCE_DIR "/resources/translations/printer-maintenance_de.ts"));
    QVERIFY(messages.size() > 50);
    QSet<QString> inTable;
    for (const Message& m : messages) {
      const QByteArray where = (m.context + QStringLiteral(": ") + m.source).toUtf8();
      QVERIFY2(m.type.isEmpty(), where.constData());  // not unfinished, obsolete or vanished
      QVERIFY2(!m.translation.trimmed().isEmpty() && tokens(m.translation) == tokens(m.source),
               where.constData());
      inTable << m.context + u'|' + m.source;
    }

    const QString lupdate = QStringLiteral(PM_LUPDATE_COMMAND);
    if (lupdate.isEmpty()) QSKIP("lupdate (qt6-l10n-tools) is not installed");
    QStringList sources;
    for (const char* dir : {"app", "app/main", "cli", "usb", "olm/model", "olm/protocol", "olm/printer",
                            "olm/update", "support"}) {
      QDirIterator it(QStringLiteral(PM_SOURCE_DIR "/") + QLatin1String(dir),
                      {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files);
      QVERIFY2(it.hasNext(), dir);  // a folder moved away must not leave its texts unscanned
      while (it.hasNext()) sources << it.next();
    }
    QTemporaryDir out;
    const QString fresh = out.filePath(QStringLiteral("fresh_de.ts"));
    QProcess process;
    // Headers are found as the compiler finds them, so classes declare their contexts.
    process.start(lupdate, QStringList{"-silent", "-locations", "none", "-I", PM_SOURCE_DIR}
                               << sources << QStringList{"-ts", fresh});
    QVERIFY(process.waitForFinished(120000) && process.exitCode() == 0);
    const QList<Message> inSources = readTs(fresh);
    QVERIFY(!inSources.isEmpty());
    for (const Message& m : inSources)
      QVERIFY2(inTable.contains(m.context + u'|' + m.source),
               qPrintable(QStringLiteral("not translated: ") + m.source));
  }
};

QTEST_MAIN(DesktopFilesTest)
#include "desktop_files_unittest.moc"
