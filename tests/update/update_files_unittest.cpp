// What the update reads besides the printer: the firmware archive (the digests' form, loading
// whole or refusing, the S-record check's edge cases, padding, checksum and version numbers).

#include <QtTest>

#include <QTemporaryDir>

#include "olm/model/ModelTraits.h"
#include "olm/update/FirmwareArchive.h"
#include "support/Resources.h"
#include "tests/common/LogCapture.h"
#include "tests/common/TestFiles.h"

using pm::FirmwareArchive;

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

QTEST_GUILESS_MAIN(UpdateFilesTest)
#include "update_files_unittest.moc"
