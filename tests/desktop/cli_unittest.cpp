// printer-maintenance-cli as a script runs it: the built binary in demo mode, its exit statuses,
// its JSON parsed and held to the published schema (docs/cli-output.schema.json), its metrics
// parsed as Prometheus reads them, the history as the update code records it (demo mode in its own
// store), and the shipped Ansible playbook run for real where ansible-playbook is installed.
// Demo printers restart in 50 ms here ("restart=50ms"); each process starts them afresh
// (PRINTER_MAINTENANCE_SIMULATE_RESET=1) unless a test shows what they remember.

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "cli/CliOptions.h"
#include "olm/update/UpdateJournal.h"
#include "tests/common/TestFiles.h"

// Every JSON line of `out` is one of the shapes docs/cli-output.schema.json publishes.
#define VERIFY_SCHEMA(out)                              \
  do {                                                  \
    const QString problems = schemaProblems(out);       \
    QVERIFY2(problems.isEmpty(), qPrintable(problems)); \
  } while (false)

namespace {

struct Run {
  int exitCode = -1;
  QByteArray out;
  QByteArray err;
};

class CliTest : public QObject {
  Q_OBJECT

  QTemporaryDir state_;
  bool remember_ = false;  // demo printers as the last process left them

  // `language`: the locale the program runs in (English unless given).
  void start(QProcess& process, const QStringList& arguments, const QString& simulate,
             const QString& stateDir, const QString& language = QStringLiteral("C.UTF-8")) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), stateDir.isEmpty() ? state_.path() : stateDir);
    env.remove(QStringLiteral("PRINTER_MAINTENANCE_DEBUG"));
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"}) env.remove(QLatin1String(name));
    env.insert(QStringLiteral("LANG"), language);
    if (simulate.isEmpty()) env.remove(QStringLiteral("PRINTER_MAINTENANCE_SIMULATE"));
    else env.insert(QStringLiteral("PRINTER_MAINTENANCE_SIMULATE"), simulate);
    if (remember_) env.remove(QStringLiteral("PRINTER_MAINTENANCE_SIMULATE_RESET"));
    else env.insert(QStringLiteral("PRINTER_MAINTENANCE_SIMULATE_RESET"), QStringLiteral("1"));
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral(PM_BINARY_DIR "/printer-maintenance-cli"), arguments);
  }

  Run finish(QProcess& process) {
    if (!process.waitForFinished(60000)) return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
  }

  Run cli(const QStringList& arguments, const QString& simulate = QString(),
          const QString& stateDir = QString(), const QString& language = QStringLiteral("C.UTF-8")) {
    QProcess process;
    start(process, arguments, simulate, stateDir, language);
    return finish(process);
  }

  // The program with its standard input and error on a terminal (a pseudo-terminal), a person
  // typing `typed` at its first question; `err` is what the terminal showed.
  Run onTerminal(const QStringList& arguments, const QString& simulate, const QByteArray& typed) {
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return {};
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    QProcess process;
    process.setChildProcessModifier([slave] {
      ::dup2(slave, STDIN_FILENO);
      ::dup2(slave, STDERR_FILENO);
    });
    start(process, arguments, simulate, QString());
    ::close(slave);
    QByteArray shown;
    const auto drain = [&] {
      char buffer[512];
      for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
    };
    if (QTest::qWaitFor(
            [&] {
              drain();
              return shown.contains("[y/N]") || process.state() == QProcess::NotRunning;
            },
            60000))
      (void)!::write(master, typed.constData(), typed.size());
    Run run = finish(process);
    drain();
    ::close(master);
    run.err = shown;
    return run;
  }

  // update --json: every line one JSON object; the events, then the one result of each printer.
  static QList<QJsonObject> jsonLines(const QByteArray& out) {
    QList<QJsonObject> lines;
    for (const QByteArray& line : out.split('\n')) {
      if (line.isEmpty()) continue;
      QJsonParseError error;
      lines.append(QJsonDocument::fromJson(line, &error).object());
      if (error.error != QJsonParseError::NoError) qWarning("not JSON: %s", line.constData());
    }
    return lines;
  }
  // What Debian's python3 (python3-jsonschema, python3-prometheus-client) says of `text`: the
  // lines it finds wrong, empty when none; nullopt when it cannot run here.
  static std::optional<QString> python(const char* script, const QByteArray& text) {
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral("-c"), QString::fromLatin1(script), QStringLiteral(PM_SOURCE_DIR)});
    if (!process.waitForStarted(10000)) return std::nullopt;
    process.write(text);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitCode() == 77) return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
  }
  // Every JSON line of `out` against the published schema.
  static QString schemaProblems(const QByteArray& out) {
    static const char* const script = R"(
import json, sys
try:
    import jsonschema
except ImportError:
    sys.exit(77)
schema = json.load(open(sys.argv[1] + "/docs/cli-output.schema.json"))
validator = jsonschema.Draft202012Validator(schema)
for line in sys.stdin.read().splitlines():
    if line.strip():
        for error in validator.iter_errors(json.loads(line)):
            print(line[:200], "->", error.message[:200])
)";
    const std::optional<QString> said = python(script, out);
    if (!said) qWarning("python3-jsonschema is not installed: the JSON is not checked against its schema");
    return said.value_or(QString());
  }
  static QList<QJsonObject> resultLines(const QList<QJsonObject>& lines) {
    QList<QJsonObject> out;
    for (const QJsonObject& line : lines)
      if (line.contains(QStringLiteral("result"))) out.append(line);
    return out;
  }

 private slots:
  // The names scripts depend on, and one clear line (exit 3) for everything else.
  void commandLine() {
    using pm::cli::parseArguments;
    // Each line one command line, its words separated by blanks.
    const auto ok = [](const char* line) {
      return std::holds_alternative<pm::cli::Options>(
          parseArguments(QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts)));
    };
    for (const char* right :
         {"list --json --wait 5", "reset-counter --printer A1 --counter m",
          "usb-serial off --printer A1 --remove-queues", "history --printer A1 --since 2026-12-01 --limit=5",
          "history --since 2026-12-01T10:00:00Z", "metrics --output=/run/m.prom"})
      QVERIFY2(ok(right), right);
    for (const char* wrong :
         {"", "frobnicate", "list --wait soon", "list --yes", "update", "update --all --printer A1",
          "update --printer", "reset-counter --printer A1 --counter Q", "usb-serial maybe --printer A1",
          "usb-serial on --printer A1 --remove-queues --keep-queues", "history --json=yes",
          "history --limit 0", "history --since yesterday", "history --printer A --printer B",
          "metrics --json", "metrics --output"})
      QVERIFY2(!ok(wrong), wrong);

    // The line is in the user's language, from the window's catalogue.
    const Run usage = cli({QStringLiteral("list"), QStringLiteral("--frobnicate")}, {}, {}, "de_DE.UTF-8");
    QVERIFY(usage.exitCode == 3 && usage.out.isEmpty());
    QCOMPARE(usage.err, QByteArray("printer-maintenance-cli: list kennt die Option --frobnicate nicht\n"));
    QCOMPARE(cli({QStringLiteral("--version")}).out, QByteArray("printer-maintenance-cli " PM_VERSION "\n"));
  }

  // list --json: one document, every printer present read before it is printed, values never
  // read are null, and the diagnostics stay off standard error. A printer held by another program
  // is listed at once with what is known of it; one slow to say who it is is waited for; --wait
  // looks that many seconds longer.
  void listsPrintersAsJson() {
    QElapsedTimer clock;
    clock.start();
    const Run run = cli({QStringLiteral("list"), QStringLiteral("--json"), QStringLiteral("--wait=2")},
                        QStringLiteral("PZA:fw=01.10,PZA:idlatency=300ms,PZA:busy"));
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(clock.elapsed() >= 2000 && clock.elapsed() < 15000,
             "--wait 2 looks two seconds longer, and a busy printer must not hold the listing to its bound");
    QVERIFY2(run.err.isEmpty(), run.err.constData());
    VERIFY_SCHEMA(run.out);
    const QJsonArray printers =
        QJsonDocument::fromJson(run.out).object().value(QStringLiteral("printers")).toArray();
    QCOMPARE(printers.size(), 3);
    const QJsonObject older = printers[1].toObject(), busy = printers[2].toObject();
    const std::tuple<int, const char*, const char*> values[] = {{0, "serial", "SIM0001"},
                                                                {0, "firmwareState", "up-to-date"},
                                                                {1, "firmware", "PZA 01.00"},
                                                                {1, "availableFirmware", "PZA 01.10"},
                                                                {1, "firmwareState", "newer-available"},
                                                                {1, "model", "PZA"}};
    for (const auto& [row, key, value] : values)
      QCOMPARE(printers[row].toObject().value(QLatin1String(key)).toString(), QLatin1String(value));
    QVERIFY(older.value(QStringLiteral("lifetimeCounter")).isDouble() &&
            older.value(QStringLiteral("lifetimeCounter")).toInteger() == 1234);
    QVERIFY(older.value(QStringLiteral("usbSerialNumber")).isBool() &&
            older.value(QStringLiteral("updateStage")).isNull());
    QVERIFY(!older.value(QStringLiteral("colourTables")).toArray().isEmpty());
    for (const QJsonValue& table : older.value(QStringLiteral("colourTables")).toArray())
      QVERIFY(!table.toObject().value(QStringLiteral("version")).toString().isEmpty());
    // What a printer held by another program could not tell is null, not a placeholder text.
    for (const char* key : {"firmware", "lifetimeCounter", "usbSerialNumber"})
      QVERIFY2(busy.value(QLatin1String(key)).isNull(), key);
    QVERIFY(!busy.value(QStringLiteral("usbStatus")).toString().isEmpty());

    QCOMPARE(cli({QStringLiteral("list")}, QStringLiteral("PZA")).out.count('\n'),
             2);  // header + one printer
  }

  // update: a whole update per printer, several at once, and each way it does not go ahead; each
  // printer has exactly one result, the summary comes last and the exit status is the verdict
  // over all of them (0 all updated or up to date, 1 any failed/busy/not found, 2 declined, 4
  // none matched).
  void update_data() {
    QTest::addColumn<QString>("simulate");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("results");  // per printer, in serial-number order
    QTest::addColumn<QString>("message");      // in the first result's message
    const QString older = QStringLiteral("PZA:fw=01.00:restart=50ms");
    const QStringList yesAll{QStringLiteral("--all"), QStringLiteral("--yes")};
    QTest::newRow("two in parallel, one up to date")
        << older + u',' + older + QStringLiteral(",PZA:fw=01.10") << yesAll << 0
        << QStringList{QStringLiteral("updated"), QStringLiteral("updated"), QStringLiteral("up-to-date")}
        << QStringLiteral("updated from PZA 01.00 to PZA 01.10");
    QTest::newRow("same version allowed")
        << QStringLiteral("PZA:fw=01.10:restart=50ms")
        << yesAll + QStringList{QStringLiteral("--allow-older")} << 0
        << QStringList{QStringLiteral("updated")} << QStringLiteral("PZA 01.10");
    QTest::newRow("no terminal, no --yes")
        << older << QStringList{QStringLiteral("--printer"), QStringLiteral("SIM0001")} << 2
        << QStringList{QStringLiteral("declined")} << QStringLiteral("declined");
    QTest::newRow("one busy, one updated")
        << older + u',' + older + QStringLiteral(":busy") << yesAll << 1
        << QStringList{QStringLiteral("updated"), QStringLiteral("busy")} << QString();
    QTest::newRow("only the named one, and a stranger")
        << older + u',' + older
        << QStringList{QStringLiteral("--printer=SIM0002"), QStringLiteral("--printer"),
                       QStringLiteral("NOPE"), QStringLiteral("--yes")}
        << 1 << QStringList{QStringLiteral("not-found"), QStringLiteral("updated")} << QString();
    QTest::newRow("none named is there")
        << older << QStringList{QStringLiteral("--printer"), QStringLiteral("NOPE")} << 4
        << QStringList{QStringLiteral("not-found")} << QString();
  }
  void update() {
    QFETCH(QString, simulate);
    QFETCH(QStringList, arguments);
    QTemporaryDir state;
    const Run run = cli(QStringList{QStringLiteral("update"), QStringLiteral("--json")} + arguments, simulate,
                        state.path());
    QFETCH(int, exitCode);
    QVERIFY2(run.exitCode == exitCode, run.err.constData());
    const QList<QJsonObject> lines = jsonLines(run.out);
    QList<QJsonObject> ends = resultLines(lines);
    std::sort(ends.begin(), ends.end(), [](const QJsonObject& a, const QJsonObject& b) {
      return a.value(QStringLiteral("printer")).toString() < b.value(QStringLiteral("printer")).toString();
    });
    VERIFY_SCHEMA(run.out);
    QFETCH(QStringList, results);
    QCOMPARE(ends.size(), results.size());
    QJsonObject summary;
    for (const char* word : {"updated", "up-to-date", "busy", "declined", "failed", "stopped", "not-found"})
      summary.insert(QLatin1String(word), int(results.count(QString::fromLatin1(word))));
    QCOMPARE(lines.last(), (QJsonObject{{QStringLiteral("summary"), summary}}));
    // Standard error: each printer's result once, then the summary; no dialog text twice.
    for (qsizetype i = 0; i < ends.size(); ++i) {
      QCOMPARE(ends[i].value(QStringLiteral("result")).toString(), results[i]);
      const QString said =
          ends[i].value(QStringLiteral("printer")).toString() + QStringLiteral(": ") + results[i];
      QCOMPARE(run.err.count(said.toUtf8()), results[i] == QLatin1String("not-found") ? 0 : 1);
    }
    QVERIFY2(run.err.trimmed().split('\n').last().startsWith("Summary: "), run.err.constData());
    QCOMPARE(run.err.count("successful"), 0);
    QFETCH(QString, message);
    QVERIFY2(ends[0].value(QStringLiteral("message")).toString().contains(message, Qt::CaseInsensitive),
             qPrintable(ends[0].value(QStringLiteral("message")).toString()));
    // Refused: nothing was written. Done: every phase was told, and the history has it.
    QStringList events;
    for (const QJsonObject& line : lines)
      if (line.value(QStringLiteral("printer")) == ends[0].value(QStringLiteral("printer")) &&
          line.contains(QStringLiteral("event")))
        events.append(line.value(QStringLiteral("event")).toString() +
                      QString::number(line.value(QStringLiteral("phase")).toInt()));
    QCOMPARE(
        events.join(QLatin1Char(' ')),
        results[0] != QLatin1String("updated")
            ? QString()
            : QStringLiteral("phase-started1 restarting1 back1 phase-started2 bytes-sent2 restarting2 back2 "
                             "phase-started3 tables-written3"));
    // The history has every outcome (a page of one printer's, here); demo mode kept it in its own
    // store and never wrote the real one.
    const QString printer = ends[0].value(QStringLiteral("printer")).toString();
    const Run history = cli({QStringLiteral("history"), QStringLiteral("--json"), QStringLiteral("--limit"),
                             QStringLiteral("9"), QStringLiteral("--printer"), printer},
                            simulate, state.path());
    QCOMPARE(history.exitCode, 0);
    const QList<QJsonObject> recorded = resultLines(jsonLines(history.out));
    VERIFY_SCHEMA(history.out);
    QCOMPARE(recorded.size(), results[0] == QLatin1String("not-found") ? 0 : 1);
    if (!recorded.isEmpty())
      QCOMPARE(recorded[0].value(QStringLiteral("result")), ends[0].value(QStringLiteral("result")));
    QCOMPARE(
        resultLines(
            jsonLines(cli({QStringLiteral("history"), QStringLiteral("--json")}, simulate, state.path()).out))
            .size(),
        ends.size() - results.count(QStringLiteral("not-found")));
    QVERIFY(QFile::exists(state.filePath(QStringLiteral("printer-maintenance/demo/state.db"))));
    QVERIFY(!QFile::exists(state.filePath(QStringLiteral("printer-maintenance/state.db"))));
    QCOMPARE(cli({QStringLiteral("history")}, {}, state.path()).out,
             QByteArray("No update has been recorded on this machine.\n"));
  }

  // An unfinished update whose printer has not been seen for a week is told once and goes to the
  // history as abandoned; asked for, the printer is simply not connected (no wait for its return).
  void abandonedUpdateIsToldOnce() {
    QTemporaryDir state;
    pm::UpdateJournal::setFilePath(state.filePath(QStringLiteral("printer-maintenance/demo/state.db")));
    pm::UpdateRecord record;
    record.serialNumber = QStringLiteral("SIM0007");
    record.deviceKey = QStringLiteral("0000000000000007");
    record.productID = 0x1234;
    record.model = QStringLiteral("PZA");
    record.targetVersion = QStringLiteral("PZA 01.10");
    pm::UpdateJournal::put(record);
    pm::UpdateJournal::touch(record.serialNumber, record.deviceKey, record.productID,
                             QDateTime::currentDateTimeUtc().addDays(-8));
    pm::UpdateJournal::setFilePath({});
    const QStringList update{QStringLiteral("update"), QStringLiteral("--printer"),
                             QStringLiteral("SIM0007")};
    const Run first = cli(update, QStringLiteral("PZA"), state.path());
    QVERIFY2(first.exitCode == 4 && first.err.contains("SIM0007"), first.err.constData());
    const Run second = cli(update, QStringLiteral("PZA"), state.path());
    QVERIFY2(second.exitCode == 4 && !second.err.contains("abandoned"), second.err.constData());
    const QList<QJsonObject> recorded = resultLines(jsonLines(
        cli({QStringLiteral("history"), QStringLiteral("--json")}, QStringLiteral("PZA"), state.path()).out));
    QCOMPARE(recorded.size(), 1);
    QCOMPARE(recorded[0].value(QStringLiteral("result")).toString(), QStringLiteral("abandoned"));
  }

  // Ctrl+C asks nothing and stops at the next safe point, saying where the printer is left; the
  // next run finishes the update. Once the tables are being written, the update ends first.
  // A dropped terminal (SIGHUP) and a reader gone (a closed pipe) end nothing: the update runs to
  // its verified end. Between the runs a listing sees the unfinished update and leaves it alone.
  void interruptThenFinish_data() {
    QTest::addColumn<int>("phase");
    QTest::addColumn<QString>("returnsAs");  // the printer as the stop left it
    QTest::addColumn<int>("firstExit");
    QTest::addColumn<int>("signal");
    QTest::newRow("phase 1") << 1 << QStringLiteral("PZA:fw=01.00:loader:restart=50ms") << 1 << SIGINT;
    QTest::newRow("phase 2") << 2 << QStringLiteral("PZA:fw=01.10:restart=50ms") << 1 << SIGINT;
    QTest::newRow("phase 3") << 3 << QString() << 0 << SIGTERM;
    QTest::newRow("hang-up, pipe closed") << 1 << QString() << 0 << SIGHUP;
  }
  void interruptThenFinish() {
    QFETCH(int, phase);
    QFETCH(QString, returnsAs);
    QTemporaryDir state;
    QProcess process;
    start(process,
          {QStringLiteral("update"), QStringLiteral("--all"), QStringLiteral("--yes"),
           QStringLiteral("--json")},
          QStringLiteral("PZA:fw=01.00:restart=300ms"), state.path());
    const QByteArray mark = QStringLiteral("\"event\":\"phase-started\",\"phase\":%1").arg(phase).toUtf8();
    QByteArray seen;
    while (!seen.contains(mark) && process.waitForReadyRead(20000)) seen += process.readAllStandardOutput();
    QVERIFY2(seen.contains(mark), seen.constData());
    QFETCH(int, signal);
    if (signal == SIGHUP) process.closeReadChannel(QProcess::StandardOutput);
    ::kill(static_cast<pid_t>(process.processId()), signal);
    Run first = finish(process);
    first.out.prepend(seen);
    QFETCH(int, firstExit);
    QVERIFY2(first.exitCode == firstExit, first.err.constData());
    if (signal == SIGHUP) return;  // nobody reads its output any more
    const QJsonObject stopped = resultLines(jsonLines(first.out)).value(0);
    VERIFY_SCHEMA(first.out);
    QCOMPARE(stopped.value(QStringLiteral("result")).toString(),
             firstExit == 0 ? QStringLiteral("updated") : QStringLiteral("stopped"));
    if (firstExit == 0) return;
    QVERIFY2(
        stopped.value(QStringLiteral("message")).toString().contains(QStringLiteral("run the update again")),
        qPrintable(stopped.value(QStringLiteral("message")).toString()));
    // Reading never writes: the listing reports the stage and leaves the update and the history
    // as they were (it used to finish or abandon the update, and record it).
    const auto historyLines = [&] {
      return cli({QStringLiteral("history"), QStringLiteral("--json")}, {}, state.path()).out.count('\n');
    };
    const qsizetype recorded = historyLines();
    const Run listing = cli({QStringLiteral("list"), QStringLiteral("--json")}, returnsAs, state.path());
    QCOMPARE(QJsonDocument::fromJson(listing.out)
                 .object()
                 .value(QStringLiteral("printers"))[0]
                 .toObject()
                 .value(QStringLiteral("updateStage"))
                 .toInt(),
             phase);
    QCOMPARE(historyLines(), recorded);
    const Run second = cli({QStringLiteral("update"), QStringLiteral("--printer"), QStringLiteral("SIM0001"),
                            QStringLiteral("--json")},
                           returnsAs, state.path());
    QVERIFY2(second.exitCode == 0, second.err.constData());
    QCOMPARE(resultLines(jsonLines(second.out)).value(0).value(QStringLiteral("to")).toString(),
             QStringLiteral("PZA 01.10"));
  }

  // One owner per printer: while another process holds it (here a reset-counter waiting at its
  // question) a listing shows it as such without touching it, and update and reset-counter leave it
  // alone as "busy". The kernel frees the printer with the process that held it.
  void anotherProcessOwnsThePrinter() {
    QTemporaryDir state;
    int master = -1;
    int slave = -1;
    QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    QProcess holder;
    holder.setChildProcessModifier([slave] {
      ::dup2(slave, STDIN_FILENO);
      ::dup2(slave, STDERR_FILENO);
    });
    const QString printer = QStringLiteral("PZA:fw=01.00:restart=50ms");
    start(holder,
          {QStringLiteral("reset-counter"), QStringLiteral("--printer"), QStringLiteral("SIM0001"),
           QStringLiteral("--counter"), QStringLiteral("A")},
          printer, state.path());
    ::close(slave);
    QByteArray shown;
    QVERIFY(QTest::qWaitFor(
        [&] {
          char buffer[512];
          for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
          return shown.contains("[y/N]");
        },
        30000));

    const Run listing = cli({QStringLiteral("list"), QStringLiteral("--json")}, printer, state.path());
    QCOMPARE(listing.exitCode, 0);
    const QJsonObject listed =
        QJsonDocument::fromJson(listing.out).object().value(QStringLiteral("printers"))[0].toObject();
    QVERIFY2(listed.value(QStringLiteral("status")).toString().contains(QStringLiteral("another program")),
             listing.out.constData());
    QVERIFY(listed.value(QStringLiteral("firmware")).isNull());
    const Run update = cli({QStringLiteral("update"), QStringLiteral("--all"), QStringLiteral("--yes"),
                            QStringLiteral("--json")},
                           printer, state.path());
    QCOMPARE(update.exitCode, 1);
    QCOMPARE(jsonLines(update.out).size(), 2);  // the result and the summary: no phase began
    QCOMPARE(resultLines(jsonLines(update.out)).value(0).value(QStringLiteral("result")).toString(),
             QStringLiteral("busy"));
    const Run reset =
        cli({QStringLiteral("reset-counter"), QStringLiteral("--printer"), QStringLiteral("SIM0001"),
             QStringLiteral("--counter"), QStringLiteral("B"), QStringLiteral("--yes")},
            printer, state.path());
    QVERIFY2(reset.exitCode == 1 && reset.err.contains("another program"), reset.err.constData());
    QVERIFY(cli({QStringLiteral("history"), QStringLiteral("--json")}, {}, state.path()).out.isEmpty());

    holder.kill();
    holder.waitForFinished();
    ::close(master);
    const Run after = cli({QStringLiteral("update"), QStringLiteral("--all"), QStringLiteral("--yes")},
                          printer, state.path());
    QVERIFY2(after.exitCode == 0, after.err.constData());
  }

  // Demo printers keep what the last process left (firmware, counters, settings) until they are
  // reset; metrics reads the printers and the history as Prometheus's own parser reads the file.
  void demoPrintersRememberAndMetrics() {
    QTemporaryDir state;
    const QString demo = QStringLiteral("PZA:fw=01.00:restart=50ms");
    remember_ = true;
    const auto cleanup = qScopeGuard([this] { remember_ = false; });
    QCOMPARE(
        cli({QStringLiteral("update"), QStringLiteral("--all"), QStringLiteral("--yes")}, demo, state.path())
            .exitCode,
        0);
    QCOMPARE(cli({QStringLiteral("reset-counter"), QStringLiteral("--printer"), QStringLiteral("SIM0001"),
                  QStringLiteral("--counter"), QStringLiteral("A"), QStringLiteral("--yes")},
                 demo, state.path())
                 .exitCode,
             0);
    const QString file = state.filePath(QStringLiteral("metrics.prom"));
    const Run metrics =
        cli({QStringLiteral("metrics"), QStringLiteral("--output"), file}, demo, state.path());
    QVERIFY2(metrics.exitCode == 0 && metrics.out.isEmpty(), metrics.err.constData());
    const Run listed = cli({QStringLiteral("list")}, demo, state.path());
    QVERIFY2(listed.out.contains("PZA 01.10") && !listed.out.contains("PZA 01.00"), listed.out.constData());
    // The update changed nothing else: a second one finds the printer up to date.
    QCOMPARE(
        cli({QStringLiteral("update"), QStringLiteral("--all"), QStringLiteral("--yes")}, demo, state.path())
            .exitCode,
        0);
    remember_ = false;
    QVERIFY(cli({QStringLiteral("list")}, demo, state.path()).out.contains("PZA 01.00"));

    static const char* const parse = R"(
import sys
try:
    from prometheus_client.parser import text_string_to_metric_families
except ImportError:
    sys.exit(77)
for family in text_string_to_metric_families(sys.stdin.read()):
    for sample in family.samples:
        labels = ",".join("%s=%s" % item for item in sorted(sample.labels.items()))
        print("%s{%s} %g" % (sample.name, labels, sample.value))
)";
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const std::optional<QString> samples = python(parse, written.readAll());
    if (!samples) QSKIP("python3-prometheus-client is not installed");
    for (const char* sample :
         {"printer_maintenance_printers{} 1\n",
          "printer_maintenance_printer_status_code{model=PZA,serial=SIM0001} 0\n",
          "printer_maintenance_printer_firmware_info{available=PZA 01.10,firmware=PZA "
          "01.10,model=PZA,serial=SIM0001} 1\n",
          "printer_maintenance_printer_newer_firmware_available{model=PZA,serial=SIM0001} 0\n",
          "printer_maintenance_printer_lifetime_counter{model=PZA,serial=SIM0001} 1234\n",
          "printer_maintenance_printer_update_stage{model=PZA,serial=SIM0001} 0\n",
          "printer_maintenance_printer_last_update_result{model=PZA,result=updated,serial=SIM0001} 1\n",
          "printer_maintenance_printer_last_update_timestamp_seconds{model=PZA,serial=SIM0001} "})
      QVERIFY2(samples->contains(QLatin1String(sample)), qPrintable(*samples));
  }

  // The shipped playbook, run as an administrator runs it, against demo printers on this machine:
  // changed the first time, unchanged the second, the busy printer failed beside the one updated,
  // and a kiosk without printers failed.
  void ansiblePlaybook_data() {
    QTest::addColumn<QStringList>("runs");  // each a PRINTER_MAINTENANCE_SIMULATE, on the same printers
    QTest::addColumn<QStringList>("recaps");
    QTest::addColumn<QStringList>("items");  // in the last run
    const QString older = QStringLiteral("PZA:fw=01.00:restart=50ms");
    QTest::newRow("twice") << QStringList{older + u',' + older, older + u',' + older}
                           << QStringList{QStringLiteral("changed=1 "), QStringLiteral("changed=0 ")}
                           << QStringList{QStringLiteral("ok: [localhost] => (item=SIM0001 up-to-date)")};
    QTest::newRow("one busy") << QStringList{older + u',' + older + QStringLiteral(":busy")}
                              << QStringList{QStringLiteral("failed=1 ")}
                              << QStringList{QStringLiteral("changed: [localhost] => (item=SIM0001 updated)"),
                                             QStringLiteral("failed: [localhost] (item=SIM0002 busy)")};
    QTest::newRow("no printer") << QStringList{QStringLiteral("KTC")}
                                << QStringList{QStringLiteral("failed=1 ")}
                                << QStringList{QStringLiteral("No supported printer is attached")};
  }
  void ansiblePlaybook() {
    const QString ansible = QStandardPaths::findExecutable(QStringLiteral("ansible-playbook"));
    if (ansible.isEmpty()) QSKIP("ansible-playbook is not installed (Debian: ansible-core)");
    QFETCH(QStringList, runs);
    QFETCH(QStringList, recaps);
    QFETCH(QStringList, items);
    QTemporaryDir home;
    QByteArray shown;
    for (qsizetype i = 0; i < runs.size(); ++i) {
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert(QStringLiteral("PATH"),
                 QStringLiteral(PM_BINARY_DIR ":") + env.value(QStringLiteral("PATH")));
      env.insert(QStringLiteral("HOME"), home.path());
      env.insert(QStringLiteral("XDG_STATE_HOME"), home.path());
      env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
      env.insert(QStringLiteral("ANSIBLE_NOCOLOR"), QStringLiteral("1"));
      env.insert(QStringLiteral("PRINTER_MAINTENANCE_SIMULATE"), runs[i]);
      env.remove(QStringLiteral("PRINTER_MAINTENANCE_SIMULATE_RESET"));
      QProcess process;
      process.setProcessEnvironment(env);
      process.setProcessChannelMode(QProcess::MergedChannels);
      process.start(ansible,
                    {QStringLiteral("-i"), QStringLiteral("localhost,"), QStringLiteral("-c"),
                     QStringLiteral("local"), QStringLiteral("-e"), QStringLiteral("printer_hosts=localhost"),
                     QStringLiteral(PM_SOURCE_DIR "/examples/ansible/update-printers.yml")});
      QVERIFY(process.waitForFinished(120000));
      shown = process.readAll();
      const QByteArray recap = shown.mid(shown.lastIndexOf("localhost"));
      QVERIFY2(recap.contains(recaps[i].toUtf8()), shown.constData());
    }
    for (const QString& item : items) QVERIFY2(shown.contains(item.toUtf8()), shown.constData());
  }

  // reset-counter and usb-serial: asked first (on a terminal y goes on, Enter or n declines and
  // nothing is written; --yes answers yes), read back after, and the exit status says which.
  void printerActions_data() {
    QTest::addColumn<QString>("simulate");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("typed");  // at the question on a terminal; null: no terminal
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");
    const QStringList reset{QStringLiteral("reset-counter"), QStringLiteral("--printer"),
                            QStringLiteral("SIM0001"), QStringLiteral("--counter"), QStringLiteral("B")};
    const QStringList serialOff{QStringLiteral("usb-serial"), QStringLiteral("off"),
                                QStringLiteral("--printer"), QStringLiteral("SIM0001")};
    const QStringList yes{QStringLiteral("--yes")};
    QTest::newRow("reset, y typed") << QStringLiteral("PZA") << reset << QByteArray("y\n") << 0
                                    << QStringLiteral("reset to zero");
    QTest::newRow("reset, Enter typed")
        << QStringLiteral("PZA") << reset << QByteArray("\n") << 2 << QStringLiteral("not reset");
    // Held by another program is not the user's choice (1); no such printer matched (4).
    QTest::newRow("reset, busy") << QStringLiteral("PZA:busy") << reset + yes << QByteArray() << 1
                                 << QStringLiteral("not reset");
    QTest::newRow("usb serial, busy") << QStringLiteral("PZA:busy") << serialOff + yes << QByteArray() << 1
                                      << QStringLiteral("In use by other application");
    QTest::newRow("reset, no such printer")
        << QStringLiteral("PZA:serial=X") << reset << QByteArray() << 4 << QStringLiteral("SIM0001");
    QTest::newRow("usb serial off") << QStringLiteral("PZA") << serialOff + yes << QByteArray() << 0
                                    << QStringLiteral("is now off");
    QTest::newRow("usb serial, n typed")
        << QStringLiteral("PZA") << serialOff << QByteArray("n\n") << 2 << QStringLiteral("not changed");
  }
  void printerActions() {
    QFETCH(QString, simulate);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, typed);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    const Run run = typed.isNull() ? cli(arguments, simulate) : onTerminal(arguments, simulate, typed);
    QVERIFY2(run.exitCode == exitCode, run.err.constData());
    QVERIFY2(run.err.contains(said.toUtf8()), run.err.constData());
    // The question is shown on a terminal only.
    QCOMPARE(run.err.contains("[y/N]"), !typed.isNull());
  }
};

}  // namespace

QTEST_GUILESS_MAIN(CliTest)
#include "cli_unittest.moc"
