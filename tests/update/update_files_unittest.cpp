// What the update reads and keeps besides the printer: the firmware archive (the digests' form,
// loading whole or refusing, the S-record check's edge cases, padding, checksum and version
// numbers), and the state store of its records and history (processes writing at once, the files
// of earlier versions, what it refuses to open, the history's pages and bounds, abandoned records).

#include <sys/stat.h>

#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

#include "olm/model/ModelTraits.h"
#include "olm/update/FirmwareArchive.h"
#include "olm/update/StateLocation.h"
#include "olm/update/UpdateHistory.h"
#include "olm/update/UpdateJournal.h"
#include "support/Resources.h"
#include "tests/common/LogCapture.h"
#include "tests/common/TestFiles.h"

using pm::FirmwareArchive;
using pm::UpdateHistory;
using pm::UpdateJournal;

namespace {

// A record an update could have written, for the printer with this serial number.
pm::UpdateRecord recordOf(const QString& serial) {
  pm::UpdateRecord record;
  record.serialNumber = serial;
  record.deviceKey = QStringLiteral("0000000000000001");
  record.productID = 0x1234;
  record.model = QStringLiteral("PZA");
  record.targetVersion = QStringLiteral("PZA 01.10");
  record.started = QDateTime::currentDateTimeUtc();
  return record;
}

pm::UpdateOutcome outcomeOf(const QString& printer, const QDateTime& time,
                            const QString& result = "success") {
  return {printer,
          QStringLiteral("PZA"),
          QStringLiteral("PZA 01.00"),
          QStringLiteral("PZA 01.10"),
          result,
          QString(),
          time,
          {},
          {}};
}

// The writer a second process runs (main() below): `count` records and history entries, one
// transaction each, with serial numbers `prefix`0, `prefix`1, ...
int writeRecords(const QString& store, const QString& prefix, int count) {
  UpdateJournal::setFilePath(store);
  for (int i = 0; i < count; ++i) {
    UpdateJournal::put(recordOf(prefix + QString::number(i)));
    UpdateHistory::append(outcomeOf(prefix + QString::number(i), QDateTime::currentDateTimeUtc()));
  }
  return 0;
}

}  // namespace

class UpdateFilesTest : public QObject {
  Q_OBJECT

 private slots:
  // Every model's update sends the shipped files only once they pass their compiled digests (the
  // update test, and the printer list's for every model; an empty file has none: below); here a
  // product without an archive, then the loading of an archive.
  void digestsAndArchiveLoads() {
    QVERIFY(!FirmwareArchive::verifyFirmwareArchiveForProductID(0x0042));

    // The archive is whole or nothing: every file must be there and intact, the first bad one names
    // itself and ends the reading (what loads is exactly the files' bytes: the update test compares
    // them with what the printer received).
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("firmware")));
    const auto firmwareFile = [&](const QString& name) {
      return dir.filePath(QStringLiteral("firmware/") + name);
    };
    const QString shippedTable =
        FirmwareArchive::resourcePathForArchiveFile(QStringLiteral("KTA_300_0161.cwd"));
    for (const char* name :
         {"KTA 01.61.fw", "KTA_600_0161.cwd", "PZA_PD_300_0100.cwd", "PZA_SD_300_0100.cwd"})
      QVERIFY(QFile::copy(FirmwareArchive::resourcePathForArchiveFile(QLatin1String(name)),
                          firmwareFile(QLatin1String(name))));
    const ScopedEnv resourceDir("PM_RESOURCE_DIR", dir.path().toLocal8Bit());

    // First file absent: the reading stops there. (A table missing refuses the load, naming it,
    // and the update with it: the update test's "missing colour table".)
    LogCapture log;
    QVERIFY(
        !FirmwareArchive::loadArchiveForProductID(pm::modelTraits(pm::PrinterModel::PZA).productId).archive);
    QVERIFY(!log.contains(QStringLiteral("verifying PZA_SD_300_0100.cwd")));

    // One bit changed fails; so does a present but empty file (it has no digest). (The whole archive
    // copied loads: the update test's.)
    QVERIFY(QFile::copy(shippedTable, firmwareFile(QStringLiteral("KTA_300_0161.cwd"))));
    const uint16_t ktaProduct = pm::modelTraits(pm::PrinterModel::KTA).productId;
    QByteArray bytes = readFile(firmwareFile(QStringLiteral("KTA_600_0161.cwd")));
    bytes[1000] = char(bytes[1000] ^ 0x01);
    QVERIFY(writeFile(firmwareFile(QStringLiteral("KTA_600_0161.cwd")), bytes));
    QCOMPARE(FirmwareArchive::loadArchiveForProductID(ktaProduct).problem, QStringLiteral("digest mismatch"));
    QVERIFY(writeFile(firmwareFile(QStringLiteral("KTA_600_0161.cwd")), {}));
    QCOMPARE(FirmwareArchive::loadArchiveForProductID(ktaProduct).failedFile,
             QStringLiteral("KTA_600_0161.cwd"));
  }

  // (CR LF line ends, lower-case hex, S9 records and a text that ends at its NUL: the S-record
  // fuzzer's seeds, which the printer's own check accepts.)
  void sRecordLines() {
    const QByteArray record = "S1130000285F245F2212226A000424290008237C2A";
    const std::tuple<const char*, QByteArray, bool> rows[] = {
        {"one bad checksum", record + "\n" + record.chopped(1) + "B", false},
        {"shortest with wrong checksum", "S001FF", false},
        {"odd trailing character", "S001FEX", true},
        {"one character short", "S001F", false},
        {"3 characters", "S00", false},
        {"4 characters, count 0", "S000", false},
        {"4 characters, count FF", "S0FF", false},
        {"lone S", "S", false},
        {"record type not a digit", "SX01FE", false},
        {"not starting with S", "s001FE", false},
        {"blank", QByteArray(), false},
        {"invalid UTF-8 after good lines", "S001FE\n\xFF\n", false},
        {"overlong UTF-8", "S001FE\n\xC0\xAF", false},
        {"UTF-8 surrogate", "S001FE\n\xED\xA0\x80", false},
        {"truncated UTF-8", "S001FE\xE2\x80", false},
        {"U+2028, U+2029 and U+0085 end lines", "S001FE\xE2\x80\xA8S001FE\xE2\x80\xA9S001FE\xC2\x85S001FE",
         true},
        {"VT and FF end lines", "S001FE\vS001FE\fS001FE\r", true},
        // Lengths count UTF-8 bytes: the two-byte letter makes the count of 2 match 8 bytes, and a
        // non-hex byte reads as 0 in the checksum loop.
        {"multi-byte character in a record",
         "S002\xC3\xA9"
         "FD",
         true}};
    for (const auto& [name, text, passes] : rows)
      QVERIFY2(FirmwareArchive::verifySRecData(text) == passes, name);
    // A whole file, by path or local URL; a colour table is not S-record text.
    const QString path = FirmwareArchive::resourcePathForArchiveFile(QStringLiteral("PZA 01.10.fw"));
    QVERIFY(FirmwareArchive::verifyMotorolaSFile(QUrl::fromLocalFile(path)));
    QVERIFY(!FirmwareArchive::verifyMotorolaSFileAtPath(path + ".missing"));
    QVERIFY(!FirmwareArchive::verifyMotorolaSFile(QUrl(QStringLiteral("https://example.com/x.fw"))));
    QVERIFY(!FirmwareArchive::verifyMotorolaSFileAtPath(
        FirmwareArchive::resourcePathForArchiveFile(QStringLiteral("PZA_PD_300_0100.cwd"))));
  }

  // Two other processes and this one change the records at once, through the real store file:
  // nothing is lost (each change is one transaction on what is there now, not a process's copy).
  // Removing one process's records leaves the others'.
  void processesWritingAtOnceLoseNothing() {
    QTemporaryDir dir;
    const QString store = dir.filePath(QStringLiteral("state.db"));
    UpdateJournal::setFilePath(store);
    constexpr int kEach = 60;
    std::vector<std::unique_ptr<QProcess>> writers;
    for (const char* prefix : {"A", "B"}) {
      writers.push_back(std::make_unique<QProcess>());
      writers.back()->start(
          QCoreApplication::applicationFilePath(),
          {QStringLiteral("--write-records"), store, QLatin1String(prefix), QString::number(kEach)});
    }
    QVERIFY(writers.back()->waitForStarted());
    QCOMPARE(writeRecords(store, QStringLiteral("C"), kEach), 0);
    for (const auto& writer : writers)
      QVERIFY2(writer->waitForFinished(60000) && writer->exitCode() == 0, writer->readAllStandardError());
    QCOMPARE(UpdateJournal::records().size(), 3 * kEach);
    QCOMPARE(UpdateHistory::entries().size(), 3 * kEach);
    for (int i = 0; i < kEach; ++i) UpdateJournal::remove(QStringLiteral("B%1").arg(i), QString(), 0x1234);
    QCOMPARE(UpdateJournal::records().size(), 2 * kEach);
    QVERIFY(UpdateJournal::find(QStringLiteral("A7"), QString(), 0x1234));
  }

  // The files of earlier versions are taken over once, then renamed aside: records an update
  // could have written, and the history's entries (not a line torn by a crash or not of ours).
  void takesOverTheFilesOfEarlierVersions() {
    QTemporaryDir dir;
    UpdateJournal::setFilePath(dir.filePath(QStringLiteral("state.db")));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("updates.json")),
                      R"({"format":"printer-maintenance firmware updates","version":1,"updates":[
                           {"serialNumber":"OLD1","deviceKey":"0000000000000001","productID":4660,
                            "targetVersion":"PZA 01.10","stage":2,"uploads":1,"tablesToWrite":["T.cwd"]},
                           {"stage":7}, 3]})"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("history.jsonl")),
                      "{\"printer\":\"OLD1\",\"result\":\"failed\",\"time\":\"2026-12-06T10:00:00Z\"}\n"
                      "{\"printer\":\"X\",\"result\":\"maybe\",\"time\":\"2026-12-06T10:00:00Z\"}\n"
                      "{\"printer\":\"SIM0002\",\"res"));
    LogCapture log;
    for (int run = 0; run < 2; ++run) {  // the second run finds the files aside
      UpdateJournal::load();
      const QList<pm::UpdateRecord> records = UpdateJournal::records();
      QCOMPARE(records.size(), 1);
      QCOMPARE(records[0].stage, pm::UpdateStage::ImageSent);
      QCOMPARE(records[0].tablesToWrite, QStringList{QStringLiteral("T.cwd")});
      const QList<pm::UpdateOutcome> entries = UpdateHistory::entries();
      QCOMPARE(entries.size(), 1);
      QCOMPARE(entries[0].time, QDateTime(QDate(2026, 12, 6), QTime(10, 0), Qt::UTC));
    }
    QCOMPARE(log.count(QStringLiteral("ignoring the firmware update state file")), 2);
    QVERIFY(log.contains(QStringLiteral("2 unreadable line(s) skipped")));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("history.jsonl.imported"))) &&
            !QFile::exists(dir.filePath(QStringLiteral("updates.json"))));
  }

  // A store, its folder or a file of its beside it that is a link, a FIFO or a device is never
  // opened (a write through a link lands on its target, a FIFO blocks its reader): every update
  // is refused, naming it; what it points to is untouched. An old history that is a FIFO is left
  // alone, and the store works.
  void refusesLinksFifosAndDevices_data() {
    QTest::addColumn<QString>("place");  // made in the folder
    QTest::addColumn<QString>("said");   // in the reason; empty: the store is usable
    QTest::newRow("store a link to a device") << "state.db"
                                              << "a symbolic link";
    QTest::newRow("store a FIFO") << "state.db|fifo"
                                  << "a FIFO";
    QTest::newRow("its log a link") << "state.db-wal"
                                    << "a symbolic link";
    QTest::newRow("folder a link") << "folder"
                                   << "not a folder";
    QTest::newRow("old history a FIFO") << "history.jsonl|fifo"
                                        << "";
  }
  void refusesLinksFifosAndDevices() {
    QFETCH(QString, place);
    QFETCH(QString, said);
    QTemporaryDir dir;
    QString store = dir.filePath(QStringLiteral("state.db"));
    const QString made = dir.filePath(place.section(u'|', 0, 0));
    if (place.endsWith(QLatin1String("|fifo"))) {
      QCOMPARE(::mkfifo(QFile::encodeName(made).constData(), 0600), 0);
    } else if (place == QLatin1String("folder")) {
      QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("real")));
      QVERIFY(QFile::link(dir.filePath(QStringLiteral("real")), made));
      store = made + QStringLiteral("/state.db");
    } else {
      QVERIFY(QFile::link(QStringLiteral("/dev/null"), made));
    }
    UpdateJournal::setFilePath(store);
    QString why;
    QCOMPARE(UpdateJournal::writable(&why), said.isEmpty());
    QVERIFY2(why.contains(said) && (said.isEmpty() || why.contains(dir.path())), qPrintable(why));
    UpdateJournal::put(recordOf(QStringLiteral("S1")));
    QCOMPARE(UpdateJournal::records().size(), said.isEmpty() ? 1 : 0);
    QVERIFY(UpdateHistory::entries().isEmpty());
    struct stat info {};
    QVERIFY(::stat("/dev/null", &info) == 0 && S_ISCHR(info.st_mode));
  }

  // Pages: newest first, by printer and from a time, at most the limit. An entry older than the
  // bound goes as the next is added, and so do the oldest beyond the count bound (the page stays
  // as quick: the figure is printed).
  void historyPagesAndBounds() {
    QTemporaryDir dir;
    UpdateJournal::setFilePath(dir.filePath(QStringLiteral("state.db")));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QVERIFY(UpdateHistory::append(
        {outcomeOf(QStringLiteral("OLD"), now.addDays(-3 * 365)),
         outcomeOf(QStringLiteral("A"), now.addDays(-3)), outcomeOf(QStringLiteral("B"), now.addDays(-2)),
         outcomeOf(QStringLiteral("A"), now.addDays(-1), QStringLiteral("failed"))}));
    const auto printers = [](const QList<pm::UpdateOutcome>& page) {
      QStringList out;
      for (const pm::UpdateOutcome& e : page) out << e.printer + u':' + e.result;
      return out.join(u' ');
    };
    QCOMPARE(printers(UpdateHistory::page({})), QStringLiteral("A:failed B:success A:success"));
    QCOMPARE(printers(UpdateHistory::page({QStringLiteral("A"), {}, 100})),
             QStringLiteral("A:failed A:success"));
    QCOMPARE(printers(UpdateHistory::page({{}, now.addDays(-2).addSecs(-1), 100})),
             QStringLiteral("A:failed B:success"));
    QCOMPARE(printers(UpdateHistory::page({{}, {}, 1})), QStringLiteral("A:failed"));

    QList<pm::UpdateOutcome> many;
    for (int i = 0; i < UpdateHistory::kMaxEntries + 2; ++i)
      many << outcomeOf(QStringLiteral("M%1").arg(i), now.addSecs(i - UpdateHistory::kMaxEntries));
    QVERIFY(UpdateHistory::append(many));
    QElapsedTimer clock;
    clock.start();
    const QList<pm::UpdateOutcome> newest = UpdateHistory::page({});
    qInfo("a page of %lld from %d entries: %lld ms", qint64(newest.size()), UpdateHistory::kMaxEntries,
          clock.elapsed());
    QCOMPARE(newest.first().printer, QStringLiteral("M%1").arg(UpdateHistory::kMaxEntries + 1));
    const QList<pm::UpdateOutcome> all = UpdateHistory::entries();
    QCOMPARE(all.size(), UpdateHistory::kMaxEntries);
    QCOMPARE(all.first().printer, QStringLiteral("M2"));
  }

  // A record whose printer has not been seen for the bound goes to the history as abandoned, once;
  // one seen since stays.
  void staleRecordsAreAbandoned() {
    QTemporaryDir dir;
    UpdateJournal::setFilePath(dir.filePath(QStringLiteral("state.db")));
    for (const char* serial : {"GONE", "BACK"}) UpdateJournal::put(recordOf(QLatin1String(serial)));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    UpdateJournal::touch(QStringLiteral("GONE"), QString(), 0x1234, now.addDays(-8));
    UpdateJournal::touch(QStringLiteral("BACK"), QString(), 0x1234, now.addDays(-6));
    const QList<pm::UpdateRecord> archived = UpdateJournal::archiveStale();
    QCOMPARE(archived.size(), 1);
    QCOMPARE(archived[0].serialNumber, QStringLiteral("GONE"));
    QVERIFY(UpdateJournal::archiveStale().isEmpty());
    QCOMPARE(UpdateJournal::records().size(), 1);
    const QList<pm::UpdateOutcome> entries = UpdateHistory::entries();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].printer + u' ' + entries[0].result, QStringLiteral("GONE abandoned"));
    QVERIFY2(entries[0].message.contains(QLatin1String("7 days")), qPrintable(entries[0].message));
  }

  void paddingChecksumAndVersionNumbers() {
    const QByteArray eight("12345678");
    QCOMPARE(FirmwareArchive::paddedData(eight).constData(), eight.constData());
    QVERIFY(FirmwareArchive::paddedData({}).isNull());
    QVERIFY(!FirmwareArchive::paddedData(QByteArray("")).isNull());
    QCOMPARE(FirmwareArchive::checksumForData(QByteArray("\x01\xFF\x80", 3)), uint16_t(0xFE7F));
    const std::pair<const char*, double> versions[] = {
        {"KTBW 1.40PRN", 1.4}, {"KTA 01.61", 1.61}, {"2.04", 2.04}, {"VLA_ALLFWU_2.05", 0.0},
        {"KTA 01.61 ", 0.0},   {"X 1e1", 10.0},     {"X 1e", 1.0},  {"X .", 0.0}};
    for (const auto& [text, number] : versions)
      QCOMPARE(pm::firmwareVersionNumber(QString::fromLatin1(text)), number);
    // The window, the update and the command line share this comparison: two texts of one
    // version are the same however the sum of their digits rounds; unknown is neither.
    using pm::ShippedFirmware;
    QCOMPARE(pm::compareShippedFirmware(0.1 + 0.2, 0.3), ShippedFirmware::Same);
    QCOMPARE(pm::compareShippedFirmware(0.0, 1.4), std::nullopt);
  }
};

// The test, or (with --write-records STORE PREFIX COUNT) the second process of the store's test.
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() == 5 && args[1] == QLatin1String("--write-records"))
    return writeRecords(args[2], args[3], args[4].toInt());
  UpdateFilesTest test;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&test, argc, argv);
}
#include "update_files_unittest.moc"
