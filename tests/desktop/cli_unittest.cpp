// printer-maintenance-cli as a script runs it: the built binary in demo mode, its exit statuses,
// its JSON parsed, the history file as the update code writes it and as a crash may leave it.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "cli/CliOptions.h"
#include "update/UpdateHistory.h"

namespace {

struct Run {
  int exitCode = -1;
  QByteArray out;
  QByteArray err;
};

class CliTest : public QObject {
  Q_OBJECT

  QTemporaryDir state_;

  Run cli(const QStringList& arguments, const QString& simulate = QString()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), state_.path());
    env.remove(QStringLiteral("PRINTER_MAINTENANCE_DEBUG"));
    if (simulate.isEmpty()) env.remove(QStringLiteral("PRINTER_MAINTENANCE_SIMULATE"));
    else env.insert(QStringLiteral("PRINTER_MAINTENANCE_SIMULATE"), simulate);
    QProcess process;
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral(PM_BINARY_DIR "/printer-maintenance-cli"), arguments);
    if (!process.waitForFinished(60000)) return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
  }

 private slots:
  // The names scripts depend on, and one clear line (exit 3) for everything else.
  void commandLine() {
    using pm::cli::parseArguments;
    const auto ok = [](const QStringList& args) { return std::holds_alternative<pm::cli::Options>(parseArguments(args)); };
    QVERIFY(ok({QStringLiteral("list"), QStringLiteral("--json"), QStringLiteral("--wait"), QStringLiteral("5")}));
    QVERIFY(ok({QStringLiteral("update"), QStringLiteral("--printer"), QStringLiteral("A1"), QStringLiteral("--printer=B2"), QStringLiteral("--yes"), QStringLiteral("--allow-older"), QStringLiteral("--json")}));
    QVERIFY(ok({QStringLiteral("reset-counter"), QStringLiteral("--printer"), QStringLiteral("A1"), QStringLiteral("--counter"), QStringLiteral("m")}));
    QVERIFY(ok({QStringLiteral("usb-serial"), QStringLiteral("off"), QStringLiteral("--printer"), QStringLiteral("A1"), QStringLiteral("--remove-queues")}));
    const auto options = std::get<pm::cli::Options>(parseArguments({QStringLiteral("update"), QStringLiteral("--printer"), QStringLiteral("A1"), QStringLiteral("--printer=B2")}));
    QCOMPARE(options.printers, (QStringList{QStringLiteral("A1"), QStringLiteral("B2")}));
    for (const QStringList& wrong : QList<QStringList>{
             {},
             {QStringLiteral("frobnicate")},
             {QStringLiteral("list"), QStringLiteral("--wait"), QStringLiteral("soon")},
             {QStringLiteral("list"), QStringLiteral("--yes")},
             {QStringLiteral("update")},
             {QStringLiteral("update"), QStringLiteral("--all"), QStringLiteral("--printer"), QStringLiteral("A1")},
             {QStringLiteral("update"), QStringLiteral("--printer")},
             {QStringLiteral("reset-counter"), QStringLiteral("--printer"), QStringLiteral("A1"), QStringLiteral("--counter"), QStringLiteral("Q")},
             {QStringLiteral("usb-serial"), QStringLiteral("maybe"), QStringLiteral("--printer"), QStringLiteral("A1")},
             {QStringLiteral("usb-serial"), QStringLiteral("on"), QStringLiteral("--printer"), QStringLiteral("A1"), QStringLiteral("--remove-queues"), QStringLiteral("--keep-queues")},
             {QStringLiteral("history"), QStringLiteral("--json=yes")}})
      QVERIFY2(!ok(wrong), qPrintable(wrong.join(QLatin1Char(' '))));

    const Run usage = cli({QStringLiteral("list"), QStringLiteral("--frobnicate")});
    QCOMPARE(usage.exitCode, 3);
    QCOMPARE(usage.err.count('\n'), 1);
    QVERIFY(usage.out.isEmpty());
    QCOMPARE(cli({QStringLiteral("--version")}).out, QByteArray("printer-maintenance-cli " PM_VERSION "\n"));
  }

  // list --json: one document, every printer present read before it is printed, values never
  // read are null, and the diagnostics stay off standard error. A printer held by another program
  // is listed at once with what is known of it.
  void listsPrintersAsJson() {
    QElapsedTimer clock;
    clock.start();
    const Run run = cli({QStringLiteral("list"), QStringLiteral("--json")}, QStringLiteral("PZA:fw=01.10,PZA,PZA:busy"));
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(clock.elapsed() < 15000, "a busy printer must not hold the listing to its bound");
    QVERIFY2(run.err.isEmpty(), run.err.constData());
    QJsonParseError error;
    const QJsonArray printers = QJsonDocument::fromJson(run.out, &error).object().value(QStringLiteral("printers")).toArray();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(printers.size(), 3);
    const QJsonObject current = printers[0].toObject();
    const QJsonObject older = printers[1].toObject();
    const QJsonObject busy = printers[2].toObject();
    QCOMPARE(current.value(QStringLiteral("serial")).toString(), QStringLiteral("SIM0001"));
    QCOMPARE(current.value(QStringLiteral("firmwareState")).toString(), QStringLiteral("up-to-date"));
    QCOMPARE(older.value(QStringLiteral("firmware")).toString(), QStringLiteral("PZA 01.00"));
    QCOMPARE(older.value(QStringLiteral("availableFirmware")).toString(), QStringLiteral("PZA 01.10"));
    QCOMPARE(older.value(QStringLiteral("firmwareState")).toString(), QStringLiteral("newer-available"));
    QCOMPARE(older.value(QStringLiteral("lifetimeCounter")).toString(), QStringLiteral("1234"));
    QVERIFY(older.value(QStringLiteral("usbSerialNumber")).isBool());
    QVERIFY(older.value(QStringLiteral("updateStage")).isNull());
    QCOMPARE(older.value(QStringLiteral("deviceKey")).toString().size(), 16);
    QVERIFY(!older.value(QStringLiteral("colourTables")).toArray().isEmpty());
    for (const QJsonValue& table : older.value(QStringLiteral("colourTables")).toArray())
      QVERIFY(!table.toObject().value(QStringLiteral("version")).toString().isEmpty());
    // What a printer held by another program could not tell is null, not a placeholder text.
    for (const char* key : {"firmware", "lifetimeCounter", "usbSerialNumber"})
      QVERIFY2(busy.value(QLatin1String(key)).isNull(), key);
    QVERIFY(!busy.value(QStringLiteral("usbStatus")).toString().isEmpty());
    QVERIFY(!run.out.contains("<NULL>") && !run.out.contains("\"NULL\""));

    QCOMPARE(cli({QStringLiteral("list")}, QStringLiteral("PZA")).out.count('\n'), 2);  // header + one printer
  }

  // The history: what the update code appends, in order, and nothing of a torn or foreign line.
  void history() {
    const QString file = state_.filePath(QStringLiteral("printer-maintenance/history.jsonl"));
    pm::UpdateHistory::setFilePath(file);
    const QDateTime t = QDateTime::fromString(QStringLiteral("2026-12-06T10:00:00Z"), Qt::ISODate);
    pm::UpdateHistory::append({QStringLiteral("SIM0001"), QStringLiteral("PZA"), QStringLiteral("PZA 01.00"),
                               QStringLiteral("PZA 01.10"), QStringLiteral("success"), QStringLiteral("done"), t});
    QFile torn(file);
    QVERIFY(torn.open(QIODevice::Append));
    torn.write("{\"printer\": \"X\", \"result\": \"maybe\"}\n{\"printer\":\"SIM0002\",\"res");
    torn.close();
    pm::UpdateHistory::append({QStringLiteral("SIM0002"), QStringLiteral("PZA"), QString(), QStringLiteral("PZA 01.10"),
                               QStringLiteral("failed"), QStringLiteral("the printer did not come back"), t.addSecs(60)});
    pm::UpdateHistory::setFilePath({});

    const Run run = cli({QStringLiteral("history"), QStringLiteral("--json")});
    QCOMPARE(run.exitCode, 0);
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
    const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
    QCOMPARE(first.value(QStringLiteral("printer")).toString(), QStringLiteral("SIM0001"));
    QCOMPARE(first.value(QStringLiteral("result")).toString(), QStringLiteral("success"));
    QCOMPARE(first.value(QStringLiteral("to")).toString(), QStringLiteral("PZA 01.10"));
    QCOMPARE(second.value(QStringLiteral("result")).toString(), QStringLiteral("failed"));
    QVERIFY(cli({QStringLiteral("history")}).out.contains("SIM0002"));
  }
};

}  // namespace

QTEST_GUILESS_MAIN(CliTest)
#include "cli_unittest.moc"
