// Identity of TBUSBPrinter: USB strings, language choice, string descriptors, the IEEE 1284
// device ID as the device sends it and as it is decoded, the device key, vendor names, the
// substring rule and the device-information registry.

#include <QThread>
#include <QtTest>

#include "support/MainQueue.h"
#include "tests/common/LogCapture.h"
#include "tests/usb/printer_testbench.h"

using namespace bench;

namespace {

constexpr uint8_t kGetDescriptor = 6;

bool isStringRequest(const SetupPacket& s, uint8_t index) {
  return s.bmRequestType == 0x80 && s.bRequest == kGetDescriptor && s.wValue == (0x0300 | index);
}

// A reply to GET_DEVICE_ID whose length prefix says `prefix`, whatever follows.
std::shared_ptr<ScriptedHandler> deviceIdReply(uint16_t prefix, const QByteArray& text) {
  auto handler = std::make_shared<ScriptedHandler>();
  handler->control = [prefix, text](const SetupPacket& s) -> std::optional<TransferResult> {
    if (s.bmRequestType != 0xA1) return std::nullopt;
    QByteArray reply;
    reply.append(char(prefix >> 8)).append(char(prefix & 0xFF)).append(text);
    return TransferResult::ok(reply);
  };
  return handler;
}

// String descriptor 1 answered with `bytes` as they stand.
std::shared_ptr<ScriptedHandler> stringReply(const QByteArray& bytes) {
  auto handler = std::make_shared<ScriptedHandler>();
  handler->control = [bytes](const SetupPacket& s) -> std::optional<TransferResult> {
    if (isStringRequest(s, 1)) return TransferResult::ok(bytes);
    return std::nullopt;
  };
  return handler;
}

using Decoded = std::array<QString, 4>;

Decoded decode(const TBUSBPrinter& printer, const QString& deviceId) {
  Decoded out;
  printer.decodeDeviceID(deviceId, [&](const QString& mfg, const QString& mdl, const QString& sn,
                                       const QString& des) { out = {mfg, mdl, sn, des}; });
  return out;
}

}  // namespace

class PrinterIdentityTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanupTestCase() { pm::SerialQueue::shutdownAll(2000); }

  void identityFromTheDevice() {
    Bench bench;
    auto description = pza();
    description.locationId = 0x14200000;
    auto printer = bench.settledPrinterFor(bench.attach(description));
    QCOMPARE(printer->vendorUSB(), QStringLiteral("OLM"));
    QCOMPARE(printer->productUSB(), QStringLiteral("PZA"));
    QCOMPARE(printer->serialNumberUSB(), QStringLiteral("USB42"));
    QCOMPARE(printer->raw1284DeviceID(), QString::fromLatin1(description.deviceId1284));
    QCOMPARE(printer->manufacturer(), QStringLiteral("OLM"));
    QCOMPARE(printer->model(), QStringLiteral("PZA"));
    QCOMPARE(printer->deviceInfoDict()->string(QStringLiteral("model")), QStringLiteral("PZA"));
    QCOMPARE(printer->keyUSBdevice(), QStringLiteral("2B3C001714200000"));
    QCOMPARE(printer->idVendor(), QStringLiteral("11068"));
    QCOMPARE(printer->idLocation(), QStringLiteral("14200000"));
    QCOMPARE(printer->descriptionUTF8(), QByteArray("OLM PZA USB42"));
    QCOMPARE(printer->printerCommandQueue()->label(),
             QStringLiteral("org.printermaintenance.printer.OLM.PZA.P123"));
  }

  void setupFieldsAsTheDeviceReceivesThem() {
    Bench bench;
    auto handler = std::make_shared<ScriptedHandler>();
    auto description = pza();
    description.languageIds = {0x0407, 0x0809, 0x0409};
    description.configurationValue = 2;
    description.interfaceNumber = 1;
    description.alternateSetting = 3;
    auto printer = bench.settledPrinterFor(bench.attach(description, handler));
    const auto setups = handler->setups();
    const auto find = [&](auto match) {
      for (const SetupPacket& s : setups) if (match(s)) return std::optional<SetupPacket>(s);
      return std::optional<SetupPacket>();
    };
    const auto languages = find([](const SetupPacket& s) { return isStringRequest(s, 0); });
    QVERIFY(languages);
    QCOMPARE(languages->wIndex, uint16_t{0});
    QCOMPARE(languages->wLength, uint16_t{256});
    const auto text = find([](const SetupPacket& s) { return s.bmRequestType == 0x80 && s.wValue > 0x0300; });
    QVERIFY(text);
    QCOMPARE(text->wIndex, uint16_t{0x0409});  // English, lowest sub-language
    QCOMPARE(text->wLength, uint16_t{256});
    const auto deviceId = find([](const SetupPacket& s) { return s.bmRequestType == 0xA1; });
    QVERIFY(deviceId);
    QCOMPARE(deviceId->bRequest, uint8_t{0});
    QCOMPARE(deviceId->wValue, uint16_t{1});
    QCOMPARE(deviceId->wIndex, uint16_t{0x0103});
    QCOMPARE(deviceId->wLength, uint16_t{0xFFFF});
  }

  void languageChoice() {
    Bench bench;
    auto description = pza();
    description.languageIds = {0x0407, 0x040C};
    auto printer = bench.settledPrinterFor(bench.attach(description));
    std::vector<uint16_t> chosen;
    QVERIFY(onQueue(*printer, [&] {
      chosen.push_back(printer->langId());
      printer->setLangId(0x0409);  // not offered
      chosen.push_back(printer->langId());
      printer->setLangId(0x040C);
      chosen.push_back(printer->langId());
    }));
    // Without English the first ID stays.
    QCOMPARE(chosen, (std::vector<uint16_t>{0x0407, 0x0407, 0x040C}));

    description.languageIds = {};  // the list request stalls
    auto silent = bench.settledPrinterFor(bench.attach(description));
    bool hasList = true;
    uint16_t langId = 1;
    QVERIFY(onQueue(*silent, [&] {
      hasList = silent->langIds().has_value();
      langId = silent->langId();
    }));
    QVERIFY(!hasList);
    QCOMPARE(langId, uint16_t{0});
  }

  void stringDescriptors() {
    LogCapture log;
    Bench bench;
    const auto textOf = [&](const QByteArray& reply) {
      auto printer = bench.printerFor(bench.attach(pza(), stringReply(reply)));
      QString text = QStringLiteral("unset");
      onQueue(*printer, [&] { text = printer->descriptorStringAtIndex(1); });
      return text;
    };
    QCOMPARE(textOf(QByteArray("\x08\x03" "A\0\0\0\0\0", 8)), QStringLiteral("A"));
    QCOMPARE(textOf(QByteArray("\x06\x03\0\0\0\0", 6)), QString());
    QCOMPARE(textOf(QByteArray("\x08\x03" "\xe9\0" "t\0" "\xe9\0", 8)), QStringLiteral("\u00e9t\u00e9"));
    QCOMPARE(textOf(QByteArray("\x03", 1)), QString());                    // short reply
    QCOMPARE(textOf(QByteArray("\x40\x03" "O\0K\0", 6)), QStringLiteral("OK"));  // claims more
    QCOMPARE(textOf(QByteArray("\x06\x02" "O\0K\0", 6)), QString());       // wrong type
    QVERIFY(log.contains("incorrect descriptor type(returned 2 (should be 3))"));
  }

  void deviceIdPrefixes() {
    Bench bench;
    const auto rawOf = [&](uint16_t prefix, const QByteArray& text) {
      return bench.printerFor(bench.attach(pza(), deviceIdReply(prefix, text)));
    };
    auto zero = rawOf(0, "MFG:Acme;");
    QCOMPARE(zero->raw1284DeviceID(), QStringLiteral("(null)"));
    QCOMPARE(zero->manufacturer(), QStringLiteral("unknown"));
    QCOMPARE(zero->model(), QStringLiteral("unknown"));
    QCOMPARE(zero->printerCommandQueue()->label(),
             QStringLiteral("org.printermaintenance.printer.unknown.unknown.USB42"));
    // The prefix claims more than came: the text ends where the bytes end.
    QCOMPARE(rawOf(400, "MFG:Acme;MDL:X1;")->raw1284DeviceID(), QStringLiteral("MFG:Acme;MDL:X1;"));
    QCOMPARE(rawOf(1, "MFG:Acme;")->raw1284DeviceID(), QStringLiteral(""));
    QCOMPARE(rawOf(6, "MFG:Acme;")->raw1284DeviceID(), QStringLiteral("MFG:"));
    auto invalid = rawOf(8, "MF\xff\xfe;");
    QVERIFY(invalid->printerCommandQueue() == nullptr);
    QVERIFY(invalid->raw1284DeviceID().isNull());
    QVERIFY(invalid->isPrinterCommandQueue());
  }

  void deviceIdDecoding() {
    Bench bench;
    auto printer = bench.settledPrinterFor(bench.attach(pza()));
    QCOMPARE(decode(*printer, "MFG:HEWLETT-PACKARD;MDL:X1;"),
             (Decoded{"HP", "X1", "USB42", QString()}));
    QCOMPARE(decode(*printer, "mfg:Acme;model:X1;"), (Decoded{"Acme", "X1", "USB42", QString()}));
    QCOMPARE(decode(*printer, "MANUFACTURER:Acme;MDL:X1"), (Decoded{"Acme", "unknown", "USB42", QString()}));
    QCOMPARE(decode(*printer, "DES:short;DESCRIPTION:long;SERN:S9;"),
             (Decoded{"unknown", "unknown", "S9", "long"}));
    QCOMPARE(decode(*printer, "(null)"), (Decoded{"unknown", "unknown", "USB42", QString()}));
  }

  void deviceKeyIsAlwaysSixteenDigits() {
    Bench bench;
    const auto keyOf = [&](uint16_t vendor, uint16_t product, uint32_t location) {
      auto d = pza();
      d.vendorId = vendor;
      d.productId = product;
      d.locationId = location;
      return bench.settledPrinterFor(bench.attach(d))->keyUSBdevice();
    };
    QCOMPARE(keyOf(0x1A2B, 0x0056, 0x14200000), QStringLiteral("1A2B005614200000"));
    QCOMPARE(keyOf(0x0001, 0x0002, 0x00000003), QStringLiteral("0001000200000003"));
  }

  void vendorNamesAndSubstrings() {
    QCOMPARE(TBUSBPrinter::normalizedVendorString("HP"), QStringLiteral("HP"));
    QCOMPARE(TBUSBPrinter::normalizedVendorString("Hewlett Packard"), QStringLiteral("Hewlett Packard"));
    QCOMPARE(TBUSBPrinter::normalizedVendorString("hewlett-packard"), QStringLiteral("HP"));
    QCOMPARE(TBUSBPrinter::normalizedVendorString("VARNHOLT PRINTING "), QStringLiteral("OLM"));

    const auto cut = [](const QString& text, const QString& prefix, bool inclusive) {
      return TBUSBPrinter::substringFromString(text, prefix, ";", Qt::CaseSensitive, inclusive);
    };
    QCOMPARE(cut("A:1;B:2;", "B:", true), QStringLiteral("B:2;"));
    QCOMPARE(cut("A:1;B:2;", "b:", false), QString());
    QCOMPARE(cut("A:1;B:2;", QString(), false), QStringLiteral("A:1"));
    QCOMPARE(cut("x;A:1", "A:", false), QString());  // the terminator must follow the prefix
  }

  void registryAndPrinterStatus() {
    LogCapture log;
    TBUSBPrinter::clearDeviceInfoRegistry();
    const auto fresh = TBUSBPrinter::deviceInfoForKey("K1");
    QVERIFY(fresh && fresh->isEmpty());
    QCOMPARE(TBUSBPrinter::deviceInfoForKey("K1"), fresh);

    Bench bench;
    auto printer = bench.settledPrinterFor(bench.attach(pza()));
    TBUSBPrinter::setDeviceInfo(printer->deviceInfoDict(), "K2");
    TBUSBPrinter::setDeviceInfo(nullptr, "K2");  // ignored
    QVERIFY(log.contains("+[TBUSBPrinter setDeviceInfo:forKey:]:[K2] : {"));
    QVERIFY(log.contains("model = PZA;"));

    // Stored on the main queue and announced there, even when set from the command queue.
    QThread* announcedOn = nullptr;
    connect(printer.get(), &TBUSBPrinter::propertyChanged, this, [&](const QString& key) {
      if (key == QLatin1String("printerStatus")) announcedOn = QThread::currentThread();
    });
    QVERIFY(onQueue(*printer, [&] { printer->setPrinterStatus("Ready"); }));
    QCOMPARE(announcedOn, QThread::currentThread());
    // Shared by reference: what the printer learns, the registry holds.
    QCOMPARE(TBUSBPrinter::deviceInfoForKey("K2")->string("printerStatus"), QStringLiteral("Ready"));
  }
};

QTEST_GUILESS_MAIN(PrinterIdentityTest)
#include "printer_identity_unittest.moc"
