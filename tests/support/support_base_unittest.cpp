// Support functions: C strings in every encoding, sub-string edits, comparisons, path
// extensions, hex dumps, date formats, the name tables at their borders, safe temporary files and
// running command-line tools.

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <future>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "support/NameTables.h"
#include "support/TextUtilities.h"
#include "support/ToolProcess.h"
#include "support/ZOVRAN_Base.h"

using pm::StringEncoding;

class SupportBaseTest : public QObject {
  Q_OBJECT
 private slots:
  // Text from C strings: a byte-order mark is dropped (and decides UTF-16's byte order), the
  // limit counts bytes and cuts only whole units, a NUL ends the text, bad bytes give no text.
  void cStrings() {
    using E = StringEncoding;
    const std::tuple<QByteArray, int, E, std::optional<QString>> rows[] = {
        {"\xEF\xBB\xBFhello", 0, E::UTF8, "hello"},
        {"\xEF\xBB\xBFhello", 5, E::UTF8, "he"},                    // the mark counts toward the limit
        {"\xEF\xBB\xBFhello", 3, E::UTF8, QString(QChar(0xFEFF))},  // below four bytes the mark is text
        {QByteArray("hello\0world", 11), 8, E::UTF8, "hello"},
        {"", 0, E::UTF8, QLatin1String("")},
        {"\xC3(", 0, E::UTF8, std::nullopt},
        {"caf\xC3\xA9", 4, E::UTF8, std::nullopt},  // cut inside a character
        {"caf\xE9", 0, E::ASCII, std::nullopt},
        {"caf\xE9", 0, E::Latin1, QStringLiteral("caf\u00e9")},
        {"abc", 0, static_cast<E>(12345), std::nullopt},
        {QByteArray("h\0i\0\0\0x\0", 8), 0, E::UTF16, "hi"},  // host order
        {QByteArray("h\0i\0\0\0x\0", 8), 3, E::UTF16LittleEndian, "h"},
        {QByteArray("h\0i\0\0\0x\0", 8), 1, E::UTF16LittleEndian, std::nullopt},
        {QByteArray("\xFE\xFF\0h\0i\0\0", 8), 0, E::UTF16LittleEndian, "hi"},
        {QByteArray("\xFF\xFEh\0i\0\0\0", 8), 0, E::UTF16BigEndian, "hi"},
        {QByteArray("\xFF\xFE\0\0", 4), 0, E::UTF16, QLatin1String("")},
        {QByteArray("\x00\xD8\0\0", 4), 0, E::UTF16LittleEndian, QString(QChar(0xD800))},  // kept, not lost
        {QByteArray("\0\0\xFE\xFF\0\x01\xF6\x00\0\0\0\0", 12), 0, E::UTF32, QString::fromUcs4(U"\U0001F600")},
        {QByteArray("A\0\0\0\0\0\0\0", 8), 0, E::UTF32LittleEndian, "A"},
        {QByteArray("A\0\0\0\0\0\0\0", 8), 3, E::UTF32LittleEndian, std::nullopt}};
    for (const auto& [bytes, limit, encoding, text] : rows) {
      const std::optional<QString> read = pm::stringWithCString(bytes.constData(), limit, encoding);
      QVERIFY2(read == text, bytes.toHex().constData());
    }
    QVERIFY(!pm::stringWithCString(nullptr, 0, E::UTF8));
  }

  void textEditsComparisonsAndFormats() {
    using pm::stringByReplacingSubStrings;
    // Only the middle part is edited; extra searches without values are deleted; later
    // replacements see earlier results.
    QCOMPARE(stringByReplacingSubStrings("aXbXc|XaX|aXb", {"X", "a"}, {"-"}, Qt::CaseSensitive, 6, 3),
             QStringLiteral("aXbXc|--|aXb"));
    QCOMPARE(stringByReplacingSubStrings("one", {"one", "two"}, {"two", "three"}, Qt::CaseSensitive, 0, 3),
             QStringLiteral("three"));
    QCOMPARE(stringByReplacingSubStrings("AbAB", {"ab"}, {"x"}, Qt::CaseInsensitive, 0, 4),
             QStringLiteral("xx"));
    QCOMPARE(stringByReplacingSubStrings("abc", {"", "b"}, {"!", "B"}, Qt::CaseSensitive, 0, 99),
             QStringLiteral("aBc"));
    const QString text = QStringLiteral("a-b_c\U0001F600d");
    QCOMPARE(pm::stringByDeletingCharactersInSet(text, QStringLiteral("-_\U0001F600")),
             QStringLiteral("abcd"));
    QCOMPARE(pm::stringByDeletingCharactersInSet(text, [](char32_t c) { return c > 0xFFFF; }),
             QStringLiteral("a-b_cd"));
    const std::tuple<const char*, const char*, pm::ComparisonResult> orders[] = {
        {"file9", "file10", pm::OrderedAscending},
        {"file010", "File10", pm::OrderedSame},
        {"a2b10", "A2b9", pm::OrderedDescending},
        {"abc", "abcd", pm::OrderedAscending}};
    for (const auto& [a, b, order] : orders) QCOMPARE(pm::numericalCaseInsensitiveCompare(a, b), order);
    QCOMPARE(pm::myLocalizedCompare("/x/Report.txt", "y/report.pdf"), pm::OrderedSame);
    QCOMPARE((QStringList{pm::pathExtension("a/b.tar.gz"), pm::pathExtension("a.d/.profile"),
                          pm::stringByDeletingPathExtension("a.d/app"),
                          pm::stringByDeletingPathExtension("a/app.log")}),
             (QStringList{"gz", "", "a.d/app", "a/app"}));

    // Hex dumps collapse repeated rows; dates in the Unicode date patterns.
    const QByteArray data = "0123456789abcdef" + QByteArray(48, 'z') + "%";
    const QStringList rows = pm::hexdump(data, 0, data.size()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[2], QStringLiteral("* last line repeated 2 times"));
    QCOMPARE(rows[3], QStringLiteral("00000040  25                                                |%|"));
    QVERIFY(pm::hexdump(data, 4, 2)
                .startsWith(QLatin1String("00000004  34 35 ")));  // offsets from the data's start
    QCOMPARE(pm::hexdump(data, 500, 10), QString());
    const QDateTime date(QDate(2024, 3, 5), QTime(7, 8, 9, 987), Qt::OffsetFromUTC, 5 * 3600 + 1800);
    QCOMPARE(pm::stringWithUTSFormat(date, "[YYYY/MM/dd HH:mm:ss.SSS Z]"),
             QStringLiteral("[2024/03/05 07:08:09.987 +0530]"));
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
    QCOMPARE(
        (QStringList{stringForIOReturn(PM_IORETURN(0xE0004061)), stringForIOReturn(PM_IORETURN(0xE0004062)),
                     stringForIOReturn(PM_IORETURN(0xE0004004)), stringForIOMessage(0xE0000340),
                     stringForCFStreamStatus(8), stringForCFStreamEvent(3), stringForErrno(EPROTONOSUPPORT),
                     stringForSignal(SIGUSR2),
                     // By this system's numbers: a logged errno or signal names what happened.
                     stringForErrno(EAGAIN), stringForErrno(EDEADLK), stringForErrno(EINPROGRESS),
                     stringForSignal(SIGUSR1), stringForSignal(SIGBUS), stringForSignal(SIGIO)}),
        (QStringList{"kIOUSBUnknownPipeErr", "kIOReturnError", "kIOReturnError", "kIOMessageUnknown",
                     "kCFStreamStatusUnknown", "kCFStreamEventUnknown",
                     "EPROTONOSUPPORT - Protocol not supported", "USeR 2",
                     "EAGAIN - Resource temporarily unavailable; Operation would block",
                     "EDEADLK - Resource deadlock avoided", "EINPROGRESS - Operation now in progress",
                     "USeR 1", "BUS error", "Input/Output possible signal"}));
    for (const int past : {0, -1, ENOTSUP, 200}) QCOMPARE(stringForErrno(past), "unknown");
    for (const int past : {0, SIGSTKFLT, SIGPWR, SIGRTMIN, 65}) QCOMPARE(stringForSignal(past), "unknown");
  }

  void safeTempFile() {
    QTemporaryDir dir;
    qputenv("TMPDIR", QFile::encodeName(dir.path()));
    int fd = -1;
    const QString path = ZOVRAN_Base::safeTempFile(&fd);
    QVERIFY(fd >= 0 && QFileInfo(path).absolutePath() == dir.path());
    QCOMPARE(::write(fd, "x", 1), 1);
    ::close(fd);
    QCOMPARE(QFileInfo(path).size(), 1);
    const QString second = ZOVRAN_Base::safeTempFile(nullptr);
    QVERIFY(QFile::exists(second) && second != path);
    qputenv("TMPDIR", QFile::encodeName(dir.filePath(QStringLiteral("missing"))));
    fd = 0;
    QVERIFY(ZOVRAN_Base::safeTempFile(&fd).isNull() && fd < 0);
    qunsetenv("TMPDIR");
  }

  // A tool's output, exit status and environment come back; a missing tool, one that hangs, one
  // that closes its output but keeps running and one whose own child hangs end within the
  // time-out, never later, and leave nothing running; at quit a running tool ends at once and no
  // new one starts.
  void runningTools() {
    const auto sh = [](const char* script, int timeoutMs = 10000) {
      return pm::runTool(QStringLiteral("sh"), {QStringLiteral("-c"), QString::fromLatin1(script)}, timeoutMs,
                         {QByteArrayLiteral("LC_ALL=C"), QByteArrayLiteral("PM_PROBE=a b")});
    };
    // (A failing tool's standard error and exit: the print-queue removal's "Not removed" words.)
    const pm::ToolResult ran = sh("printf '%s|%s' \"$LC_ALL\" \"$PM_PROBE\"; exit 3");
    QCOMPARE(ran.exitCode, 3);
    QCOMPARE(ran.standardOutput, QByteArray("C|a b"));
    QCOMPARE(sh("head -c 200000 /dev/zero").standardOutput.size(), 200000);  // more than a pipe holds
    QCOMPARE(sh("kill -TERM $$").exitCode, 128 + SIGTERM);

    const pm::ToolResult missing = pm::runTool(QStringLiteral("pm-no-such-tool"), {}, 10000);
    QVERIFY(!missing.started && !missing.error.isEmpty());

    for (const char* stuck : {"sleep 20", "exec >&- 2>&-; sleep 20", "sleep 23.25; true"}) {
      QElapsedTimer clock;
      clock.start();
      const pm::ToolResult result = sh(stuck, 300);
      QVERIFY2(result.started && !result.finished && !result.error.isEmpty(), stuck);
      QVERIFY2(clock.elapsed() < 10000, stuck);
    }
    // SIGKILL is delivered asynchronously: the killed child may still be listed for a moment.
    QTRY_VERIFY2_WITH_TIMEOUT(!running("sleep 23.25"), "the tool's child was left running", 3000);

    QElapsedTimer clock;
    clock.start();
    auto quitting = std::async(std::launch::async, [&] { return sh("sleep 24.25; true", 20000); });
    QTRY_VERIFY(running("sleep 24.25"));
    QCOMPARE(pm::endRunningTools(), 1);
    const pm::ToolResult ended = quitting.get();
    QVERIFY(ended.started && !ended.finished && clock.elapsed() < 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!running("sleep 24.25"), 3000);
    QVERIFY(!sh("true").started);
  }

 private:
  // Whether a process of this user runs with exactly this command line (words joined by blanks).
  static bool running(const QByteArray& commandLine) {
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
      QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
      if (file.open(QIODevice::ReadOnly) && file.readAll().replace('\0', ' ').trimmed() == commandLine)
        return true;
    }
    return false;
  }
};

QTEST_GUILESS_MAIN(SupportBaseTest)
#include "support_base_unittest.moc"
