// The shell's texts: menu localisation through the string table, and the colour-table cell and
// tool tip of the printer table.

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTranslator>
#include <QtTest>

#include "app/ColorTableSummary.h"
#include "app/MenuLocalization.h"

namespace {

// Translates a few texts and records every look-up in order.
class RecordingTranslator final : public QTranslator {
 public:
  QString translate(const char* context, const char* source, const char*, int) const override {
    if (QByteArray(context) != "PrinterMaintenance") return {};
    lookups.append(QString::fromUtf8(source));
    static const QHash<QString, QString> table{
        {QStringLiteral("Printer"), QStringLiteral("Drucker")},
        {QStringLiteral("Reset Counter"), QStringLiteral("Zähler zurücksetzen")},
        {QStringLiteral("Counter A"), QStringLiteral("Zähler A")},
        {QStringLiteral("Reads the printer again"), QStringLiteral("Liest den Drucker neu")},
    };
    return table.value(QString::fromUtf8(source));
  }
  bool isEmpty() const override { return false; }
  mutable QStringList lookups;
};

}  // namespace

class ShellTextsTest : public QObject {
  Q_OBJECT

 private slots:
  void menusAreLocalisedSubmenusFirst() {
    QMenuBar bar;
    QMenu* printer = bar.addMenu(QStringLiteral("Printer"));
    QAction* refresh = printer->addAction(QStringLiteral("Refresh"));
    refresh->setToolTip(QStringLiteral("Reads the printer again"));
    printer->addSeparator();
    QMenu* reset = printer->addMenu(QStringLiteral("Reset Counter"));
    QAction* counterA = reset->addAction(QStringLiteral("Counter A"));

    RecordingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    pm::localizeItemsInMenu(&bar);
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(printer->title(), QStringLiteral("Drucker"));
    QCOMPARE(refresh->text(), QStringLiteral("Refresh"));  // no translation: kept
    QCOMPARE(refresh->toolTip(), QStringLiteral("Liest den Drucker neu"));
    QCOMPARE(reset->title(), QStringLiteral("Zähler zurücksetzen"));
    QCOMPARE(counterA->text(), QStringLiteral("Zähler A"));
    const QStringList& order = translator.lookups;
    QVERIFY(order.indexOf(QStringLiteral("Counter A")) < order.indexOf(QStringLiteral("Reset Counter")));
    QVERIFY(!order.contains(QString()));  // separators are skipped
  }

  // One common version and the number of tables, or the distinct versions; the checksums sit
  // beside their tables (the older models' whole-set version with the one stored under 300).
  void colourTableCellAndToolTip() {
    pm::ColorTableSummary summary = pm::ColorTableSummary::fromDeviceInfo(
        {{QStringLiteral("colorTableVersion300SD"), QStringLiteral("0100")},
         {QStringLiteral("colorTableVersion310SD"), QStringLiteral("0100")},
         {QStringLiteral("colorTableChecksum300SD"), QStringLiteral("8F3A")},
         {QStringLiteral("firmwareVersion"), QStringLiteral("PZA 01.00")}});
    QCOMPARE(summary.compact(), QStringLiteral("0100 (2 tables)"));
    QCOMPARE(summary.details(), QStringLiteral("300 SD: 0100, checksum 8F3A\n310 SD: 0100"));
    summary = pm::ColorTableSummary::fromDeviceInfo({{QStringLiteral("colorTableVersion"), QStringLiteral("0161")},
                                                     {QStringLiteral("colorTableChecksum300"), QStringLiteral("12AB")},
                                                     {QStringLiteral("colorTableVersion600"), QStringLiteral("0160")}});
    QCOMPARE(summary.compact(), QStringLiteral("0161 / 0160"));
    QVERIFY(summary.details().startsWith(QStringLiteral("300: 0161, checksum 12AB")));
    QVERIFY(pm::ColorTableSummary::fromDeviceInfo({}).isEmpty());
  }
};

QTEST_MAIN(ShellTextsTest)
#include "shell_texts_unittest.moc"
