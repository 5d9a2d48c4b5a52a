// Support functions: C strings in every encoding, sub-string edits, comparisons, path
// extensions, hex dumps, date formats, the name tables at their borders and safe temporary files.

#include <unistd.h>

#include <QTemporaryDir>
#include <QtTest>

#include "support/NameTables.h"
#include "support/TextUtilities.h"
#include "support/ZOVRAN_Base.h"
#include "tests/common/LogCapture.h"
#include "tests/support/StdErrRedirect.h"

using pm::StringEncoding;

class SupportBaseTest : public QObject {
  Q_OBJECT
 private slots:
  void cStringUtf8() {
    using pm::stringWithCString;
    QCOMPARE(stringWithCString("\xEF\xBB\xBFhello", 0, StringEncoding::UTF8), QStringLiteral("hello"));
    // The mark counts toward the limit.
    QCOMPARE(stringWithCString("\xEF\xBB\xBFhello", 5, StringEncoding::UTF8), QStringLiteral("he"));
    // Below four bytes the mark is text.
    QCOMPARE(stringWithCString("\xEF\xBB\xBFhello", 3, StringEncoding::UTF8), QString(QChar(0xFEFF)));
    QCOMPARE(stringWithCString("hello\0world", 0, StringEncoding::UTF8), QStringLiteral("hello"));
    QCOMPARE(stringWithCString("hello\0world", 8, StringEncoding::UTF8), QStringLiteral("hello"));
    QCOMPARE(stringWithCString("hello", 3, StringEncoding::UTF8), QStringLiteral("hel"));
    QCOMPARE(stringWithCString("", 0, StringEncoding::UTF8), QString(QLatin1String("")));
    QVERIFY(stringWithCString("", 0, StringEncoding::UTF8).has_value());
    QVERIFY(!stringWithCString("\xC3(", 0, StringEncoding::UTF8));           // invalid sequence
    QVERIFY(!stringWithCString("caf\xC3\xA9", 4, StringEncoding::UTF8));     // cut inside a character
    QVERIFY(!stringWithCString("caf\xE9", 0, StringEncoding::ASCII));
    QCOMPARE(stringWithCString("caf\xE9", 0, StringEncoding::Latin1), QStringLiteral("caf\u00e9"));
    QVERIFY(!stringWithCString(nullptr, 0, StringEncoding::UTF8));
    QVERIFY(!stringWithCString("abc", 0, static_cast<StringEncoding>(12345)));
  }

  void cStringWideEncodings() {
    using pm::stringWithCString;
    const char le[] = "h\0i\0\0\0x\0";
    QCOMPARE(stringWithCString(le, 0, StringEncoding::UTF16LittleEndian), QStringLiteral("hi"));
    QCOMPARE(stringWithCString(le, 0, StringEncoding::UTF16), QStringLiteral("hi"));  // host order
    QCOMPARE(stringWithCString(le, 3, StringEncoding::UTF16LittleEndian), QStringLiteral("h"));  // whole units only
    QVERIFY(!stringWithCString(le, 1, StringEncoding::UTF16LittleEndian));  // limit below one unit
    // A mark decides the byte order, whatever the encoding says, and is dropped.
    const char markedBig[] = "\xFE\xFF\0h\0i\0\0";
    QCOMPARE(stringWithCString(markedBig, 0, StringEncoding::UTF16LittleEndian), QStringLiteral("hi"));
    const char markedLittle[] = "\xFF\xFEh\0i\0\0\0";
    QCOMPARE(stringWithCString(markedLittle, 0, StringEncoding::UTF16BigEndian), QStringLiteral("hi"));
    QCOMPARE(stringWithCString("\xFF\xFE\0\0", 0, StringEncoding::UTF16), QString(QLatin1String("")));
    // An unpaired surrogate is kept, not lost.
    QCOMPARE(stringWithCString("\x00\xD8\0\0", 0, StringEncoding::UTF16LittleEndian), QString(QChar(0xD800)));

    const char utf32[] = "\0\0\xFE\xFF\0\x01\xF6\x00\0\0\0\0";  // big-endian mark, U+1F600
    QCOMPARE(stringWithCString(utf32, 0, StringEncoding::UTF32), QString::fromUcs4(U"\U0001F600"));
    const char utf32le[] = "A\0\0\0\0\0\0\0";
    QCOMPARE(stringWithCString(utf32le, 0, StringEncoding::UTF32LittleEndian), QStringLiteral("A"));
    QVERIFY(!stringWithCString(utf32le, 3, StringEncoding::UTF32LittleEndian));
  }

  void replacingSubStrings() {
    using pm::stringByReplacingSubStrings;
    const QString text = QStringLiteral("aXbXc|XaX|aXb");
    // Only the middle part is edited; extra searches without values are deleted.
    QCOMPARE(stringByReplacingSubStrings(text, {"X", "a"}, {"-"}, Qt::CaseSensitive, 6, 3),
             QStringLiteral("aXbXc|--|aXb"));
    // Later replacements see earlier results.
    QCOMPARE(stringByReplacingSubStrings("one", {"one", "two"}, {"two", "three"}, Qt::CaseSensitive, 0, 3),
             QStringLiteral("three"));
    QCOMPARE(stringByReplacingSubStrings("AbAB", {"ab"}, {"x"}, Qt::CaseInsensitive, 0, 4), QStringLiteral("xx"));
    QCOMPARE(stringByReplacingSubStrings("abc", {"", "b"}, {"!", "B"}, Qt::CaseSensitive, 0, 99), QStringLiteral("aBc"));
  }

  void deletingCharacters() {
    const QString text = QStringLiteral("a-b_c\U0001F600d");
    QCOMPARE(pm::stringByDeletingCharactersInSet(text, QStringLiteral("-_\U0001F600")), QStringLiteral("abcd"));
    QCOMPARE(pm::stringByDeletingCharactersInSet(text, [](char32_t c) { return c > 0xFFFF; }),
             QStringLiteral("a-b_cd"));
  }

  void comparisons() {
    using pm::numericalCaseInsensitiveCompare;
    QCOMPARE(numericalCaseInsensitiveCompare("file9", "file10"), pm::OrderedAscending);
    QCOMPARE(numericalCaseInsensitiveCompare("File10", "file10"), pm::OrderedSame);
    QCOMPARE(numericalCaseInsensitiveCompare("file010", "file10"), pm::OrderedSame);
    QCOMPARE(numericalCaseInsensitiveCompare("a2b10", "A2b9"), pm::OrderedDescending);
    QCOMPARE(numericalCaseInsensitiveCompare("abc", "abcd"), pm::OrderedAscending);
    QCOMPARE(pm::myLocalizedCompare("/x/Report.txt", "y/report.pdf"), pm::OrderedSame);
    QCOMPARE(pm::myLocalizedCompare("/x/a.txt", "/a/b.txt"), pm::OrderedAscending);

    QCOMPARE(pm::pathExtension("a/b.tar.gz"), QStringLiteral("gz"));
    QCOMPARE(pm::pathExtension("a.d/.profile"), QString());
    QCOMPARE(pm::stringByDeletingPathExtension("a.d/app"), QStringLiteral("a.d/app"));
    QCOMPARE(pm::stringByDeletingPathExtension("a/app.log"), QStringLiteral("a/app"));
  }

  void hexdumpCollapsesRepeats() {
    QByteArray data("0123456789abcdef");
    data += QByteArray(48, 'z') + "%";
    const QString dump = pm::hexdump(data, 0, data.size());
    const QStringList rows = dump.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 4);
    QVERIFY(rows[0].startsWith(QLatin1String("00000000  30 31")));
    QVERIFY(rows[1].startsWith(QLatin1String("00000010  7a 7a")));
    QCOMPARE(rows[2], QStringLiteral("* last line repeated 2 times"));
    QCOMPARE(rows[3], QStringLiteral("00000040  25                                                |%|"));
    // Offsets count from the start of the data.
    QVERIFY(pm::hexdump(data, 4, 2).startsWith(QLatin1String("00000004  34 35 ")));
    QCOMPARE(pm::hexdump(data, 500, 10), QString());
  }

  void utsFormat() {
    const QDateTime date(QDate(2024, 3, 5), QTime(7, 8, 9, 987), Qt::OffsetFromUTC, 5 * 3600 + 1800);
    QCOMPARE(pm::stringWithUTSFormat(date, "[YYYY/MM/dd HH:mm:ss.SSS Z]"), QStringLiteral("[2024/03/05 07:08:09.987 +0530]"));
    QCOMPARE(pm::stringWithUTSFormat(date, "yy-M-d h:mm SS 'at' h 'o''clock' ''x"),
             QStringLiteral("24-3-5 7:08 98 at 7 o'clock '+0530"));
    QCOMPARE(pm::stringWithUTSFormat(date, "ZZZZZ|ZZZZ|DDD|D"), QStringLiteral("+05:30|GMT+05:30|065|65"));
    const QDateTime west(QDate(2023, 12, 31), QTime(23, 0), Qt::OffsetFromUTC, -8 * 3600);
    QCOMPARE(pm::stringWithUTSFormat(west, "yyyy Z k K"), QStringLiteral("2023 -0800 23 11"));
    QVERIFY(pm::stringWithUTSFormat(QDateTime(), "yyyy").isNull());
  }

  // Each table has gaps and ends; a value past them is unknown, never another entry.
  void nameTablesAtTheirBorders() {
    using namespace pm;
    QCOMPARE(stringForIOReturn(PM_IORETURN(0xE0004061)), "kIOUSBUnknownPipeErr");
    QCOMPARE(stringForIOReturn(PM_IORETURN(0xE0004062)), "kIOReturnError");
    QCOMPARE(stringForIOReturn(PM_IORETURN(0xE0004004)), "kIOReturnError");
    QCOMPARE(stringForIOMessage(0xE0000340), "kIOMessageUnknown");
    QCOMPARE(stringForCFStreamStatus(8), "kCFStreamStatusUnknown");
    QCOMPARE(stringForCFStreamEvent(3), "kCFStreamEventUnknown");
    QCOMPARE(stringForErrno(43), "EPROTONOSUPPORT - Protocol not supported");
    for (const int past : {0, -1, 44}) QCOMPARE(stringForErrno(past), "unknown");
    QCOMPARE(stringForSignal(31), "USeR 2");
    for (const int past : {0, 7, 32}) QCOMPARE(stringForSignal(past), "unknown");
  }

  void safeTempFile() {
    QTemporaryDir dir;
    qputenv("TMPDIR", QFile::encodeName(dir.path()));
    int fd = -1;
    const QString path = ZOVRAN_Base::safeTempFile(&fd);
    QVERIFY(fd >= 0);
    QCOMPARE(QFileInfo(path).absolutePath(), dir.path());
    QCOMPARE(QFileInfo(path).fileName().size(), 16);
    QCOMPARE(::write(fd, "x", 1), 1);
    ::close(fd);
    QCOMPARE(QFileInfo(path).size(), 1);
    const QString second = ZOVRAN_Base::safeTempFile(nullptr);
    QVERIFY(QFile::exists(second) && second != path);

    StdErrRedirect err;
    LogCapture log;
    qputenv("TMPDIR", QFile::encodeName(dir.filePath(QStringLiteral("missing"))));
    fd = 0;
    QVERIFY(ZOVRAN_Base::safeTempFile(&fd).isNull());
    QVERIFY(fd < 0);
    QVERIFY(log.contains(QStringLiteral("ERROR: failed to create temporary file ") + dir.filePath("missing")));
    qunsetenv("TMPDIR");
  }
};

QTEST_GUILESS_MAIN(SupportBaseTest)
#include "support_base_unittest.moc"
