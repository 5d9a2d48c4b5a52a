// The German translation: what the user reads changes language, what the printer says does not,
// a text without translation shows as written, and the table is complete and in step with the
// sources.

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

#include "app/MenuLocalization.h"
#include "app/Translations.h"
#include "sim/VirtualPrinter.h"
#include "support/Resources.h"
#include "tests/common/PrinterTestRig.h"
#include "vendor/TBUSBPrinterOLM.h"

namespace {

const QString kTsFile = QStringLiteral(PM_SOURCE_DIR "/resources/translations/printer-maintenance_de.ts");
const QString kQmDir = QStringLiteral(PM_QM_DIR);

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
    xml.readNext();
    if (!xml.isStartElement()) continue;
    if (xml.name() == QLatin1String("name")) context = xml.readElementText();
    if (xml.name() == QLatin1String("message")) current = Message{context, {}, {}, {}};
    if (xml.name() == QLatin1String("source")) current.source = xml.readElementText();
    if (xml.name() == QLatin1String("translation")) {
      current.type = xml.attributes().value(QLatin1String("type")).toString();
      current.translation = xml.readElementText();
      messages.append(current);
    }
  }
  return xml.hasError() ? QList<Message>() : messages;
}

// Placeholders (%1, %d, %n ...) or markup tags of a text, sorted: a translation may reorder them.
QStringList tokens(const QString& text, bool tags) {
  static const QRegularExpression placeholder(QStringLiteral("%(\\d+|d|n|s)"));
  static const QRegularExpression tag(QStringLiteral("</?[a-z]+>"));
  QStringList found;
  for (const QRegularExpressionMatch& m : (tags ? tag : placeholder).globalMatch(text)) found << m.captured();
  found.sort();
  return found;
}

}  // namespace

class TranslationTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() {
    QCoreApplication::removeTranslator(&german_);
    pm::setResourceDirectory({});
  }

  // Our texts are German, the printer's status stays in its own words, and a text the table does
  // not hold shows as written.
  void germanAlertsAndUntouchedPrinterTexts() {
    QVERIFY2(german_.load(QLocale(QLocale::German, QLocale::Germany),
                          QStringLiteral("printer-maintenance"), QStringLiteral("_"), kQmDir),
             qPrintable(kQmDir));
    QVERIFY(QCoreApplication::installTranslator(&german_));
    PrinterTestRig rig;
    const auto printer = rig.attachAndWait(sim::VirtualPrinterConfig{});
    QVERIFY(printer && PrinterTestRig::settle(printer));
    printer->showPrinterBusyAlert();
    QTRY_COMPARE(rig.alerts().count(), 1);
    QCOMPARE(rig.alerts().titles().first(), QStringLiteral("Der ausgewählte Drucker ist nicht verfügbar. (Belegt)"));
    QCOMPARE(printer->printerStatus(), QStringLiteral("Idle"));
    QCOMPARE(pm::localizedString(QStringLiteral("Not in the string table")), QStringLiteral("Not in the string table"));
    QCOMPARE(QCoreApplication::translate("MainWindow", "Update Firmware…"), QStringLiteral("Firmware aktualisieren…"));
  }

  void translationFileFollowsTheLocale() {
    QTemporaryDir resources;
    QVERIFY(QDir(resources.path()).mkpath(QStringLiteral("translations")));
    const QString target = resources.filePath(QStringLiteral("translations/printer-maintenance_de.qm"));
    QVERIFY(QFile::copy(kQmDir + QStringLiteral("/printer-maintenance_de.qm"), target));
    pm::setResourceDirectory(resources.path());
    for (const char* locale : {"de_DE", "de_AT", "en_US", "fr_FR"})
      QCOMPARE(pm::translationFile(QLocale(QLatin1String(locale))), locale[0] == 'd' ? target : QString());
  }

  // Every message translated, with the same placeholders and markup as its source.
  void germanTableIsComplete() {
    const QList<Message> messages = readTs(kTsFile);
    QVERIFY(messages.size() > 50);
    for (const Message& m : messages) {
      const QByteArray where = (m.context + QStringLiteral(": ") + m.source).toUtf8();
      QVERIFY2(m.type.isEmpty(), where.constData());  // not unfinished, obsolete or vanished
      QVERIFY2(!m.translation.trimmed().isEmpty(), where.constData());
      for (const bool tags : {false, true})
        QVERIFY2(tokens(m.translation, tags) == tokens(m.source, tags), where.constData());
    }
  }

  // A text added to the sources without a translation fails here (lupdate finds it).
  void tableCoversEverySourceText() {
    const QString lupdate = QStringLiteral(PM_LUPDATE_COMMAND);
    if (lupdate.isEmpty()) QSKIP("lupdate (qt6-l10n-tools) is not installed");
    QStringList sources;
    for (const char* dir : {"app", "app/main", "usb", "vendor", "update", "support"}) {
      QDirIterator it(QStringLiteral(PM_SOURCE_DIR "/") + QLatin1String(dir),
                      {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files);
      while (it.hasNext()) sources << it.next();
    }
    QTemporaryDir out;
    const QString fresh = out.filePath(QStringLiteral("fresh_de.ts"));
    QProcess process;
    // Headers are found as the compiler finds them, so classes declare their contexts.
    process.start(lupdate, QStringList{QStringLiteral("-silent"), QStringLiteral("-locations"),
                                       QStringLiteral("none"), QStringLiteral("-I"),
                                       QStringLiteral(PM_SOURCE_DIR)}
                               << sources << QStringList{QStringLiteral("-ts"), fresh});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 0);

    const auto keys = [](const QList<Message>& messages) {
      QStringList list;
      for (const Message& m : messages) list << m.context + QLatin1Char('|') + m.source;
      list.sort();
      return list;
    };
    const QStringList inSources = keys(readTs(fresh));
    const QStringList inTable = keys(readTs(kTsFile));
    QVERIFY(!inSources.isEmpty());
    for (const QString& key : inSources)
      QVERIFY2(inTable.contains(key), qPrintable(QStringLiteral("not translated: ") + key));
  }

 private:
  QTranslator german_;
};

QTEST_MAIN(TranslationTest)
#include "translation_unittest.moc"
