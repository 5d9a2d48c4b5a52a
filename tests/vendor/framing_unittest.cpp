// The vendor command language without a printer: frames, reply parsing, status texts, and the
// text readings the properties rely on.
#include <QRandomGenerator>
#include <QtTest>

#include "vendor/Framing.h"
#include "vendor/TBUSBPrinterOLM.h"

using namespace pm::framing;

namespace {

QByteArray header(const char* name, const char* length = "        ") {
  QByteArray h("\x1BP");
  h += QByteArray(name).leftJustified(22, ' ');
  h += QByteArray(length);
  return h;
}

QByteArray replyFor(const QByteArray& headerBytes, const QByteArray& body) {
  const std::optional<uint32_t> count = parseReplyLength(headerBytes);
  if (!count) return QByteArray();
  return replyBuffer(body, *count);
}

}  // namespace

class FramingTest : public QObject {
  Q_OBJECT

 private slots:
  void framesWithoutPayloadField() {
    QCOMPARE(buildFrame(0, {}).bytes, header("STATUS"));
    QCOMPARE(buildFrame(1, {}).bytes, header("INFO  FVER"));
    // A payload passed where the command takes none is ignored.
    for (int code : {1, 34, 36, 58}) {
      const Frame frame = buildFrame(code, "0001");
      QCOMPARE(frame.bytes.size(), 32);
      QCOMPARE(frame.bytes.mid(24, 8), QByteArray(8, ' '));
    }
    // Caller-sized commands with no payload have a blank length field.
    QCOMPARE(buildFrame(33, QByteArrayView()).bytes, header("TBL_WTCTRLD_UPDATE_CW"));
    QCOMPARE(buildFrame(56, QByteArray()).bytes, header("FW_UPDFLASH_PROGRAM"));
  }

  void framesWithPayload() {
    QCOMPARE(buildFrame(37, "0001").bytes, header("TBL_RDCWD300_Version", "00000004") + "0001");
    const QByteArray clear("CA\r\0", 4);
    QCOMPARE(buildFrame(50, clear).bytes, header("MNT_WTCOUNTER_CLR", "00000004") + clear);
    const QByteArray big(123456, 'x');
    const Frame program = buildFrame(56, big);
    QCOMPARE(program.bytes.size(), 32 + 123456);
    QCOMPARE(program.bytes.mid(24, 8), QByteArray("00123456"));
    QCOMPARE(program.bytes.mid(32), big);
    // The longest name fills the 22-byte field exactly.
    QCOMPARE(buildFrame(46, "0003").bytes.mid(2, 22), QByteArray("TBL_RDCWD620_Checksum "));
  }

  void fixedSizePayloadsAreExact() {
    QCOMPARE(buildFrame(28, "12345678").bytes.size(), 40);
    QCOMPARE(buildFrame(57, QByteArray("01\r\0", 4)).bytes.size(), 36);
    // Wrong sizes, a missing payload included, send nothing rather than unset or cut bytes.
    for (int code : {23, 24, 28, 52}) {
      for (const QByteArray& payload : {QByteArray(), QByteArray("1234567"), QByteArray("123456789")}) {
        const Frame frame = buildFrame(code, payload);
        QVERIFY(frame.rejected());
        QCOMPARE(frame.problem, FrameProblem::WrongPayloadSize);
      }
    }
    for (int code : {50, 57}) {
      QVERIFY(buildFrame(code, "CA\r").rejected());
      QVERIFY(buildFrame(code, "CA\r\0\0").rejected());
    }
  }

  void unnamedCodesKeepABlankName() {
    for (int64_t code : {int64_t(-1), int64_t(3), int64_t(29), int64_t(59), int64_t(1) << 40}) {
      const Frame frame = buildFrame(code, "ignored");
      QCOMPARE(frame.problem, FrameProblem::UnnamedCode);
      QCOMPARE(frame.bytes, header(""));
    }
  }

  void replies() {
    // Body cut at its carriage return.
    QCOMPARE(replyFor("00000010", QByteArray("12345678\r\0", 10)), QByteArray("12345678\0", 9));
    // No carriage return: the whole body, NUL-padded to 256.
    const QByteArray noCr = replyFor("00000005", "01500");
    QCOMPARE(noCr.size(), 256);
    QCOMPARE(*replyText(noCr), QStringLiteral("01500"));
    // Blank or garbage headers count as 0: an empty text in 256 zero bytes.
    for (const QByteArray& h : {QByteArray(8, ' '), QByteArray("abcdefgh"), QByteArray()}) {
      const QByteArray reply = replyFor(h, {});
      QCOMPARE(reply, QByteArray(256, '\0'));
      QCOMPARE(*replyText(reply), QString(""));
    }
    // The 4096 border, and counts that wrap when read unsigned.
    QVERIFY(!parseReplyLength("00004097"));
    QVERIFY(!parseReplyLength("-0000001"));
    QCOMPARE(*parseReplyLength(" +000042"), 42u);
    QCOMPARE(*parseReplyLength("12x45678"), 12u);
    QCOMPARE(replyFor("00004096", QByteArray(4096, 'a')).size(), 4097);
    // A body shorter than announced ends where the printer stopped.
    QCOMPARE(*replyText(replyFor("00000300", "4.21")), QStringLiteral("4.21"));
    // Bytes beyond the announced count are not taken.
    QCOMPARE(*replyText(replyBuffer("abcdef", 3)), QStringLiteral("abc"));
    // A body that begins with a carriage return is an empty text, not a missing one.
    QCOMPARE(replyFor("00000002", "\r\n"), QByteArray(1, '\0'));
    // Bytes that are not UTF-8 give no text.
    QVERIFY(!replyText(replyFor("00000004", "\xff\xfe\x80\x81")));
  }

  // Random headers and bodies never make the parser read or write out of bounds (run under
  // AddressSanitizer), and every accepted reply keeps its invariants.
  void randomReplies() {
    QRandomGenerator random(4242);
    for (int round = 0; round < 20000; ++round) {
      QByteArray h(int(random.bounded(10)), '\0');
      for (char& c : h) c = char(random.bounded(256));
      if (round % 3 == 0) h = QByteArray::number(random.bounded(5000)).rightJustified(8, '0');
      QByteArray body(int(random.bounded(5000)), '\0');
      for (char& c : body) c = char(random.bounded(round % 2 ? 256 : 128));
      const std::optional<uint32_t> count = parseReplyLength(h);
      if (!count) continue;
      QVERIFY(*count <= kReplyBodyLimit);
      const QByteArray reply = replyBuffer(body, *count);
      QVERIFY(!reply.isEmpty());
      QVERIFY(reply.size() <= qMax<qsizetype>(256, *count + 1));
      QVERIFY(reply.contains('\0'));
      QVERIFY(!reply.left(reply.indexOf('\0')).contains('\r'));
      replyText(reply);
    }
  }

  // Status codes read as their leading number: texts without one are 0 ("Idle").
  void statusAndTextReadings() {
    const std::pair<const char*, const char*> statuses[] = {
        {"00000", "Idle"}, {"1000", "Cover Open"}, {"03000", "System Fail Error"},
        {"FU00001", "Firmware Update Mode"}, {"FU00002", "Idle"}, {"", "Idle"}, {"00700", "Unknown Status"},
        {"-1", "Unknown Status"}, {"03001", "Unknown Status"}, {"99999999999", "Unknown Status"}};
    for (const auto& [code, text] : statuses)
      QCOMPARE(TBUSBPrinterOLM::stringForKTStatusString(QString::fromLatin1(code)), QString::fromLatin1(text));
    QCOMPARE(TBUSBPrinterOLM::stringForKTStatusString(TBUSBPrinterOLM::StatusCode()), QStringLiteral("<NULL>"));
    QCOMPARE(intValue(u"  -12abc"), -12);
    QCOMPARE(intValue(u"99999999999"), INT32_MAX);
    QCOMPARE(intValue(u"-99999999999"), INT32_MIN);
    QCOMPARE(doubleValue(u"1.40PRN"), 1.4);
    QCOMPARE(doubleValue(u"."), 0.0);
    QCOMPARE(TBUSBPrinterOLM::mungeLifetimeCounter("CL"), QStringLiteral("0"));
    QCOMPARE(TBUSBPrinterOLM::mungeLifetimeCounter("00001234"), QStringLiteral("00001234"));
  }
};

QTEST_GUILESS_MAIN(FramingTest)
#include "framing_unittest.moc"
