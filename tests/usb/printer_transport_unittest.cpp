// TBUSBPrinter on the virtual bus: the first open-close cycle, busy and unplugged printers,
// pipes, resets, re-enumeration, ownership, interest messages; its identity (USB strings,
// language, IEEE 1284 device ID, device key, registry); and its command queue (where work runs,
// how replies travel, bulk transfers, removal with work queued, printers side by side).

#include <sys/resource.h>

#include <QElapsedTimer>
#include <QPointer>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <mutex>

#include "support/MainQueue.h"
#include "tests/common/LogCapture.h"
#include "support/SerialQueue.h"
#include "usb/TBUSBPrinter.h"
#include "usb/virtual/VirtualUsbBus.h"

using usb::virt::SetupPacket;
using usb::virt::TransferResult;
using usb::virt::VirtualDeviceDescription;
using usb::virt::VirtualUsbDevice;

namespace {

const QString kInUse = QStringLiteral("In use by other application");

// Answers from scripts set before the device is attached; records setup packets and writes.
class ScriptedHandler : public usb::virt::VirtualDeviceHandler {
 public:
  std::function<std::optional<TransferResult>(const SetupPacket&)> control;
  std::function<TransferResult(const QByteArray&)> out = [](const QByteArray&) { return TransferResult::ok(); };
  std::function<TransferResult()> in = [] { return TransferResult::silent(); };

  std::vector<SetupPacket> setups() const { const std::lock_guard g(lock_); return setups_; }
  QList<QByteArray> written() const { const std::lock_guard g(lock_); return written_; }

  std::optional<TransferResult> controlRequest(VirtualUsbDevice&, const SetupPacket& setup, const QByteArray&) override {
    { const std::lock_guard g(lock_); setups_.push_back(setup); }
    return control ? control(setup) : std::nullopt;
  }
  TransferResult bulkOut(VirtualUsbDevice&, uint8_t, const QByteArray& data) override {
    { const std::lock_guard g(lock_); written_.append(data); }
    return out(data);
  }
  TransferResult bulkIn(VirtualUsbDevice&, uint8_t, uint32_t) override { return in(); }

 private:
  mutable std::mutex lock_;
  std::vector<SetupPacket> setups_;
  QList<QByteArray> written_;
};

// Answers control requests of one kind with fixed bytes (GET_DEVICE_ID or string descriptor 1).
std::shared_ptr<ScriptedHandler> controlReply(uint8_t requestType, const QByteArray& bytes) {
  auto handler = std::make_shared<ScriptedHandler>();
  handler->control = [=](const SetupPacket& s) -> std::optional<TransferResult> {
    if (s.bmRequestType == requestType && (requestType != 0x80 || s.wValue == 0x0301)) return TransferResult::ok(bytes);
    return std::nullopt;
  };
  return handler;
}

VirtualDeviceDescription pza() {
  VirtualDeviceDescription d;
  d.vendorId = 0x2B3C;
  d.productId = 0x0017;
  d.manufacturer = QStringLiteral("Varnholt Printing");
  d.product = QStringLiteral("PZA");
  d.serialNumber = QStringLiteral("USB42");
  d.deviceId1284 = "MFG:Varnholt Printing;MDL:PZA;SERN:P123;";
  return d;
}

// A printer whose replies are numbered, so that their order can be seen.
class NumberingPrinter : public TBUSBPrinter {
 public:
  QByteArray printerReply() override { return QByteArray::number(++replies_); }
  void getDeviceCustomInfo() override { probedOnQueue = isPrinterCommandQueue() && !pm::isMainQueue(); }
  std::atomic<bool> probedOnQueue{false};

 private:
  int replies_ = 0;  // command queue only
};

// Runs `work` on the printer's command queue and waits for it, turning the main loop meanwhile.
bool onQueue(TBUSBPrinter& printer, const std::function<void()>& work) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  printer.performInlineOnCommandQueue([work, done] { work(); *done = true; });
  return QTest::qWaitFor([&] { return done->load(); }, 5000);
}

// Drops the test's reference and waits until the object has been destroyed.
template <class T>
bool releaseAndWait(std::shared_ptr<T>& printer) {
  printer->prepareForRelease();
  QPointer<TBUSBPrinter> watch(printer.get());
  printer.reset();
  return QTest::qWaitFor([&] { return watch.isNull(); }, 5000);
}

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

// The fixture: a virtual bus at a time scale of 0.01 installed as the platform registry for each
// test; printers made on it must be gone before the bus (they borrow it as their port).
class PrinterTransportTest : public QObject {
  Q_OBJECT

  std::unique_ptr<usb::virt::VirtualUsbBus> bus_;
  QList<QPointer<TBUSBPrinter>> printers_;

  std::shared_ptr<VirtualUsbDevice> attach(const VirtualDeviceDescription& d = pza(),
                                           std::shared_ptr<ScriptedHandler> handler = nullptr) {
    return bus_->attach(d, handler ? std::move(handler) : std::make_shared<ScriptedHandler>());
  }
  template <class T = TBUSBPrinter>
  std::shared_ptr<T> printerFor(const std::shared_ptr<VirtualUsbDevice>& device) {
    auto printer = TBUSBPrinter::create<T>(bus_->createInterface(device->service(), nullptr), device->service());
    if (printer) printers_.append(QPointer<TBUSBPrinter>(printer.get()));
    return printer;
  }
  // A printer whose first open-close cycle has finished.
  template <class T = TBUSBPrinter>
  std::shared_ptr<T> settledPrinter(const VirtualDeviceDescription& d = pza(), std::shared_ptr<ScriptedHandler> handler = nullptr) {
    auto printer = printerFor<T>(attach(d, std::move(handler)));
    if (!QTest::qWaitFor([&] { return printer->state() == TBUSBPrinterStateClosed; }, 5000))
      qWarning("the printer's first open-close cycle did not end");
    return printer;
  }

 private slots:
  void init() {
    TBUSBPrinter::clearDeviceInfoRegistry();
    bus_ = std::make_unique<usb::virt::VirtualUsbBus>();
    bus_->setTimeScale(0.01);
    usb::setPlatformRegistry(bus_.get());
  }
  void cleanup() {
    QVERIFY2(QTest::qWaitFor([this] { return std::all_of(printers_.begin(), printers_.end(), [](const auto& p) { return p.isNull(); }); }, 5000),
             "a printer outlived its test");
    printers_.clear();
    usb::setPlatformRegistry(nullptr);
    bus_.reset();
  }
  void cleanupTestCase() { pm::SerialQueue::shutdownAll(2000); }

  // ---- Access ---------------------------------------------------------------------------------

  void busyPrinterBecomesFree() {
    auto device = attach();
    device->setHeldByOtherProgram(true);
    auto printer = printerFor(device);
    QTRY_COMPARE(printer->printerStatus(), kInUse);
    QCOMPARE(printer->state(), int64_t{TBUSBPrinterStateNone});
    // Each attempt shows the status again; a few a second is waiting, more is spinning.
    int attempts = 0;
    connect(printer.get(), &TBUSBPrinter::propertyChanged, this, [&](const QString& key) {
      if (key == QLatin1String("printerStatus")) ++attempts;
    });
    const double cpuBefore = cpuSeconds();
    QTest::qWait(600);
    QVERIFY2(attempts <= 4, qPrintable(QStringLiteral("%1 attempts in 600 ms").arg(attempts)));
    QVERIFY2(cpuSeconds() - cpuBefore < 0.3, "openInterface spins while the printer is busy");
    device->setHeldByOtherProgram(false);
    QTRY_COMPARE(printer->state(), int64_t{TBUSBPrinterStateClosed});
    QCOMPARE(device->openCount(), 1);
  }

  void unpluggedWhileRetryingGivesUp() {
    auto device = attach();
    device->setHeldByOtherProgram(true);
    auto printer = printerFor(device);
    std::atomic<IOReturn> result{kIOReturnSuccess};
    std::atomic<bool> done{false};
    printer->openInterface([&](IOReturn r) { result = r; done = true; });
    QTRY_COMPARE(printer->status(), kInUse);
    QElapsedTimer clock;
    clock.start();
    device->detach();
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 1000);
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(result.load(), kIOReturnNoDevice);
    QVERIFY(printer->hasGone());
    QVERIFY(printer->state() != int64_t{TBUSBPrinterStateProbed});
    QVERIFY(releaseAndWait(printer));
  }

  void releasingABusyPrinterEndsItsOpen() {
    auto device = attach();
    device->setHeldByOtherProgram(true);
    auto printer = printerFor(device);
    QTRY_COMPARE(printer->status(), kInUse);
    // The device stays on the bus; letting go of the printer alone must end the retries.
    QVERIFY(releaseAndWait(printer));
    QCOMPARE(device->openCount(), 0);
  }

  void pipesAndSoftReset() {
    auto description = pza();
    description.interfaceNumber = 3;
    description.endpoints = {{kUSBOut, 1, kUSBBulk, 512, 0}, {kUSBIn, 2, kUSBBulk, 512, 0}, {kUSBIn, 3, kUSBInterrupt, 8, 10},
                             {kUSBIn, 4, kUSBBulk, 512, 0}, {kUSBOut, 5, kUSBInterrupt, 8, 10}};
    auto handler = std::make_shared<ScriptedHandler>();
    auto printer = settledPrinter(description, handler);
    uint8_t in = 0, out = 0;
    IOReturn other = -1, own = -1;
    QVERIFY(onQueue(*printer, [&] {
      in = printer->bulkIN();  // the highest bulk pipe of each direction
      out = printer->bulkOUT();
      other = printer->resetUSBPrinter(true);
      own = printer->resetUSBPrinter();
    }));
    QCOMPARE((std::array{in, out}), (std::array<uint8_t, 2>{4, 1}));
    QCOMPARE((std::array{other, own}), (std::array{kIOReturnSuccess, kIOReturnSuccess}));
    const auto setups = handler->setups();
    QVERIFY(setups.size() >= 2);
    const SetupPacket a = setups[setups.size() - 2], b = setups.back();
    QCOMPARE((std::array{a.bmRequestType, b.bmRequestType}), (std::array<uint8_t, 2>{0x23, 0x21}));
    for (const SetupPacket& s : {a, b})
      QCOMPARE((std::array<int, 4>{s.bRequest, s.wValue, s.wIndex, s.wLength}), (std::array<int, 4>{2, 0, 3, 0}));
  }

  void reEnumerationSavesDeviceInformation() {
    auto device = attach();
    auto printer = printerFor(device);
    QTRY_COMPARE(printer->state(), int64_t{TBUSBPrinterStateClosed});
    const usb::ServiceHandle first = device->service();
    printer->storeDeviceInfo(QStringLiteral("firmwareVersion"), QStringLiteral("1.02"));
    QCOMPARE(printer->resetUSBDevice(), kIOReturnSuccess);
    QCOMPARE(printer->reEnumerateUSBDevice(), kIOReturnSuccess);
    QTRY_VERIFY(printer->hasGone());
    QTRY_VERIFY(device->isAttached() && !device->service().isEqualTo(first));
    // The registry holds the very dictionary of the printer that went.
    QCOMPARE(TBUSBPrinter::deviceInfoForKey(printer->keyUSBdevice()), printer->deviceInfoDict());
    QVERIFY(releaseAndWait(printer));
  }

  void ownershipAndClose() {
    auto device = attach();
    auto printer = printerFor(device);
    QTRY_COMPARE(printer->state(), int64_t{TBUSBPrinterStateClosed});
    QCOMPARE(device->openCount(), 1);       // the first open-close cycle
    QVERIFY(printer->status().isEmpty());  // a free printer is never shown as held by another
    std::atomic<int> closeResult{-1};
    printer->closeInterface([&](IOReturn r) { closeResult = r; });
    QTRY_COMPARE(closeResult.load(), 0);
    printer->setIsOwned(1);
    // The device opens on the queue before the open state reaches the main thread.
    QTRY_VERIFY(device->isOpen());
    QTRY_VERIFY(printer->isInterfaceOpen());
    QCOMPARE(printer->isOwned(), int8_t{0});
    printer->setIsOwned(0);
    QTRY_VERIFY(!device->isOpen());
    QCOMPARE(printer->state(), int64_t{TBUSBPrinterStateClosed});
  }

  void interestMessages() {
    LogCapture log;
    auto device = attach();
    auto printer = printerFor(device);
    QTRY_COMPARE(printer->state(), int64_t{TBUSBPrinterStateClosed});
    const auto deliver = [&](uint32_t type) {
      log.clear();
      device->sendInterestMessage(type);
      return QTest::qWaitFor([&] { return log.contains(QStringLiteral("(%1); arg = ").arg(type, 0, 16)); }, 5000);
    };
    const QVariantMap info = printer->deviceInfoDict()->snapshot();
    for (const QString& key : info.keys()) printer->deviceInfoDict()->remove(key);
    QVERIFY(deliver(kIOMessageServiceWasClosed));  // no device information: nothing
    QVERIFY(printer->status().isEmpty());
    printer->deviceInfoDict()->merge(info);
    // In order: closed; someone else opening while closed, not probed; property and busy changes;
    // closed during a firmware update.
    const std::pair<uint32_t, QString> steps[] = {
        {kIOMessageServiceWasClosed, "USB Available"}, {kIOMessageServiceIsAttemptingOpen, "USB Busy"},
        {kIOMessageServicePropertyChange, "OK"}, {kIOMessageServiceBusyStateChange, "OK"}};
    for (const auto& [type, status] : steps) {
      QVERIFY(deliver(type));
      QCOMPARE(printer->status(), status);
    }
    printer->setInFirmwareUpdate(true);
    QVERIFY(deliver(kIOMessageServiceWasClosed));
    QCOMPARE(printer->status(), QStringLiteral("OK"));
    printer->setInFirmwareUpdate(false);

    printer->setState(TBUSBPrinterStateProbed);
    QVERIFY(deliver(kIOMessageServiceIsAttemptingOpen));
    QCOMPARE(printer->state(), int64_t{TBUSBPrinterStateClosed});
    std::atomic<bool> opened{false};
    printer->openInterface([&](IOReturn) { opened = true; });
    QTRY_VERIFY(opened.load());
    QVERIFY(deliver(kIOMessageServiceIsAttemptingOpen));
    QCOMPARE(printer->status(), QStringLiteral("USB Open"));
    printer->closeInterface(nullptr);
  }

  // ---- Identity -------------------------------------------------------------------------------

  void identityFromTheDevice() {
    auto description = pza();
    description.locationId = 0x14200000;
    description.languageIds = {0x0407, 0x0809, 0x0409};
    description.configurationValue = 2;
    description.interfaceNumber = 1;
    description.alternateSetting = 3;
    auto handler = std::make_shared<ScriptedHandler>();
    auto printer = settledPrinter(description, handler);
    QCOMPARE((QStringList{printer->vendorUSB(), printer->productUSB(), printer->serialNumberUSB(),
                          printer->manufacturer(), printer->model(), printer->raw1284DeviceID()}),
             (QStringList{"OLM", "PZA", "USB42", "OLM", "PZA", QString::fromLatin1(description.deviceId1284)}));
    QCOMPARE(printer->keyUSBdevice(), QStringLiteral("2B3C001714200000"));
    QCOMPARE(printer->descriptionUTF8(), QByteArray("OLM PZA USB42"));
    QCOMPARE(printer->printerCommandQueue()->label(), QStringLiteral("org.printermaintenance.printer.OLM.PZA.P123"));
    auto d = pza();  // the key keeps leading zeros
    d.vendorId = 0x0001, d.productId = 0x0002, d.locationId = 0x00000003;
    QCOMPARE(settledPrinter(d)->keyUSBdevice(), QStringLiteral("0001000200000003"));

    // The setup packets as the device received them.
    const auto find = [setups = handler->setups()](auto match) {
      const auto it = std::find_if(setups.begin(), setups.end(), match);
      return it == setups.end() ? std::array<int, 4>{} : std::array<int, 4>{it->bRequest, it->wValue, it->wIndex, it->wLength};
    };
    QCOMPARE(find([](const SetupPacket& s) { return s.bmRequestType == 0x80 && s.wValue == 0x0300; }),
             (std::array<int, 4>{6, 0x0300, 0, 256}));
    QCOMPARE(find([](const SetupPacket& s) { return s.bmRequestType == 0x80 && s.wValue == 0x0302; }),
             (std::array<int, 4>{6, 0x0302, 0x0409, 256}));  // English, lowest sub-language
    QCOMPARE(find([](const SetupPacket& s) { return s.bmRequestType == 0xA1; }), (std::array<int, 4>{0, 1, 0x0103, 0xFFFF}));
  }

  void languageChoice() {
    auto description = pza();
    description.languageIds = {0x0407, 0x040C};
    auto printer = settledPrinter(description);
    std::vector<uint16_t> chosen;
    QVERIFY(onQueue(*printer, [&] {
      chosen.push_back(printer->langId());
      printer->setLangId(0x0409);  // not offered
      chosen.push_back(printer->langId());
      printer->setLangId(0x040C);
      chosen.push_back(printer->langId());
    }));
    QCOMPARE(chosen, (std::vector<uint16_t>{0x0407, 0x0407, 0x040C}));  // without English the first stays

    description.languageIds = {};  // the list request stalls
    auto silent = settledPrinter(description);
    bool hasList = true;
    uint16_t langId = 1;
    QVERIFY(onQueue(*silent, [&] { hasList = silent->langIds().has_value(); langId = silent->langId(); }));
    QVERIFY(!hasList);
    QCOMPARE(langId, uint16_t{0});
  }

  void stringDescriptors_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("text");
    QTest::newRow("padded") << QByteArray("\x08\x03" "A\0\0\0\0\0", 8) << QStringLiteral("A");
    QTest::newRow("all zero") << QByteArray("\x06\x03\0\0\0\0", 6) << QString();
    QTest::newRow("latin") << QByteArray("\x08\x03" "\xe9\0" "t\0" "\xe9\0", 8) << QStringLiteral("\u00e9t\u00e9");
    QTest::newRow("short reply") << QByteArray("\x03", 1) << QString();
    QTest::newRow("claims more") << QByteArray("\x40\x03" "O\0K\0", 6) << QStringLiteral("OK");
    QTest::newRow("wrong type") << QByteArray("\x06\x02" "O\0K\0", 6) << QString();
  }
  void stringDescriptors() {
    QFETCH(QByteArray, reply);
    QFETCH(QString, text);
    auto printer = printerFor(attach(pza(), controlReply(0x80, reply)));
    QString read = QStringLiteral("unset");
    QVERIFY(onQueue(*printer, [&] { read = printer->descriptorStringAtIndex(1); }));
    QCOMPARE(read, text);
  }

  void deviceIdPrefixes() {
    const auto rawOf = [&](uint16_t prefix, const QByteArray& text) {
      return printerFor(attach(pza(), controlReply(0xA1, QByteArray(1, char(prefix >> 8)) + char(prefix & 0xFF) + text)));
    };
    auto zero = rawOf(0, "MFG:Acme;");
    QCOMPARE((QStringList{zero->raw1284DeviceID(), zero->manufacturer(), zero->model()}),
             (QStringList{"(null)", "unknown", "unknown"}));
    QCOMPARE(zero->printerCommandQueue()->label(), QStringLiteral("org.printermaintenance.printer.unknown.unknown.USB42"));
    // The prefix claims more than came: the text ends where the bytes end.
    QCOMPARE(rawOf(400, "MFG:Acme;MDL:X1;")->raw1284DeviceID(), QStringLiteral("MFG:Acme;MDL:X1;"));
    QCOMPARE(rawOf(1, "MFG:Acme;")->raw1284DeviceID(), QStringLiteral(""));
    QCOMPARE(rawOf(6, "MFG:Acme;")->raw1284DeviceID(), QStringLiteral("MFG:"));
    auto invalid = rawOf(8, "MF\xff\xfe;");
    QVERIFY(invalid->printerCommandQueue() == nullptr);
    QVERIFY(invalid->raw1284DeviceID().isNull());
    QVERIFY(invalid->isPrinterCommandQueue());
  }

  void deviceIdDecodingAndVendorNames() {
    auto printer = settledPrinter();
    const std::pair<QString, QStringList> ids[] = {
        {"MFG:HEWLETT-PACKARD;MDL:X1;", {"HP", "X1", "USB42", ""}},
        {"mfg:Acme;model:X1;", {"Acme", "X1", "USB42", ""}},
        {"MANUFACTURER:Acme;MDL:X1", {"Acme", "unknown", "USB42", ""}},
        {"DES:short;DESCRIPTION:long;SERN:S9;", {"unknown", "unknown", "S9", "long"}},
        {"(null)", {"unknown", "unknown", "USB42", ""}}};
    for (const auto& [id, expected] : ids) {
      QStringList decoded;
      printer->decodeDeviceID(id, [&](const QString& mfg, const QString& mdl, const QString& sn, const QString& des) {
        decoded = {mfg, mdl, sn, des};
      });
      QCOMPARE(decoded, expected);
    }
    const std::pair<QString, QString> vendors[] = {
        {"HP", "HP"}, {"Hewlett Packard", "Hewlett Packard"}, {"hewlett-packard", "HP"}, {"VARNHOLT PRINTING ", "OLM"}};
    for (const auto& [name, normalized] : vendors) QCOMPARE(TBUSBPrinter::normalizedVendorString(name), normalized);
    const auto cut = [](const QString& text, const QString& prefix, bool inclusive) {
      return TBUSBPrinter::substringFromString(text, prefix, ";", Qt::CaseSensitive, inclusive);
    };
    QCOMPARE(cut("A:1;B:2;", "B:", true), QStringLiteral("B:2;"));
    QCOMPARE(cut("A:1;B:2;", "b:", false), QString());
    QCOMPARE(cut("A:1;B:2;", QString(), false), QStringLiteral("A:1"));
    QCOMPARE(cut("x;A:1", "A:", false), QString());  // the terminator must follow the prefix
  }

  void registryAndPrinterStatus() {
    const auto fresh = TBUSBPrinter::deviceInfoForKey("K1");
    QVERIFY(fresh && fresh->isEmpty());
    QCOMPARE(TBUSBPrinter::deviceInfoForKey("K1"), fresh);
    auto printer = settledPrinter();
    TBUSBPrinter::setDeviceInfo(printer->deviceInfoDict(), "K2");
    TBUSBPrinter::setDeviceInfo(nullptr, "K2");  // ignored
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

  // ---- Command queue --------------------------------------------------------------------------

  void inlineOnItsOwnQueueOnly() {
    auto a = settledPrinter();
    auto b = settledPrinter();
    QVERIFY(!a->isPrinterCommandQueue());
    std::atomic<bool> ranInline{false}, aOnB{true}, bRan{false};
    std::atomic<QThread*> bThread{nullptr}, aThread{nullptr};
    QVERIFY(onQueue(*a, [&] {
      aThread = QThread::currentThread();
      bool inner = false;
      a->performInlineOnCommandQueue([&] { inner = true; });
      ranInline = inner;
      aOnB = b->isPrinterCommandQueue();
      b->performInlineOnCommandQueue([&] { bThread = QThread::currentThread(); bRan = true; });
    }));
    QVERIFY(ranInline.load());
    QVERIFY(!aOnB.load());
    QTRY_VERIFY(bRan.load());
    QVERIFY(bThread.load() != aThread.load());
  }

  void repliesTravelAsAsked() {
    auto printer = settledPrinter<NumberingPrinter>();
    auto other = settledPrinter();
    // No reply queue: the main queue, in the order the commands were sent.
    QStringList replies;
    std::atomic<int> commandsOnQueue{0};
    for (int i = 0; i < 5; ++i) {
      printer->sendPrinterCommand([&] { if (printer->isPrinterCommandQueue()) ++commandsOnQueue; }, nullptr,
                                  [&](const QByteArray& r) {
                                    QVERIFY(pm::isMainQueue());
                                    replies << QString::fromLatin1(r);
                                  });
    }
    QTRY_COMPARE(replies, (QStringList{"1", "2", "3", "4", "5"}));
    QCOMPARE(commandsOnQueue.load(), 5);

    // Its own queue: at once, inside the exchange, before anything queued behind it.
    std::vector<int> order;
    std::mutex orderLock;
    const auto note = [&](int step) { const std::lock_guard g(orderLock); order.push_back(step); };
    printer->sendPrinterCommand([&] { note(1); }, printer->printerCommandQueue(),
                                [&](const QByteArray&) { note(printer->isPrinterCommandQueue() ? 2 : -2); });
    printer->performInlineOnCommandQueue([&] { note(3); });
    // Another printer's queue: runs there.
    std::atomic<bool> onOther{false};
    printer->sendPrinterCommand([] {}, other->printerCommandQueue(),
                                [&](const QByteArray& r) { onOther = other->isPrinterCommandQueue() && r == "7"; });
    QTRY_VERIFY(onOther.load());
    const std::lock_guard g(orderLock);
    QCOMPARE(order, (std::vector<int>{1, 2, 3}));
  }

  void bulkTransfers() {
    auto handler = std::make_shared<ScriptedHandler>();
    std::atomic<int> latency{0};
    handler->in = [&] {
      TransferResult r = TransferResult::ok("12345");
      r.latencyMs = latency;
      return r;
    };
    handler->out = [](const QByteArray& data) { return data == "stall" ? TransferResult::stall() : TransferResult::ok(); };
    auto printer = settledPrinter(pza(), handler);
    QByteArray shortRead, slowRead, lateRead;
    IOReturn lateStatus = 0, stallStatus = 0;
    bool emptyWritten = false, stallWritten = true;
    QVERIFY(onQueue(*printer, [&] {
      printer->openInterface();
      shortRead = printer->interfaceReadDataOfSize(16);
      latency = 4000;  // inside the 5000 ms time-out
      slowRead = printer->interfaceReadDataOfSize(5);
      latency = 6000;
      lateRead = printer->interfaceReadDataOfSize(5);
      lateStatus = printer->readStatus();
      emptyWritten = printer->writeToInterfaceWithData(QByteArray());
      stallWritten = printer->writeToInterfaceWithData("stall");
      stallStatus = printer->writeStatus();
    }));
    printer->closeInterface(nullptr);
    QCOMPARE((QList<QByteArray>{shortRead, slowRead}), (QList<QByteArray>{QByteArray("12345") + QByteArray(11, '\0'), "12345"}));
    QVERIFY(lateRead.isNull());
    QCOMPARE((std::array{lateStatus, stallStatus}), (std::array{kIOReturnTimeout, kIOUSBPipeStalled}));
    QVERIFY(emptyWritten && !stallWritten);
    QCOMPARE(handler->written(), (QList<QByteArray>{QByteArray(), "stall"}));
  }

  void withoutADeviceIdEverythingRunsInline() {
    auto handler = std::make_shared<ScriptedHandler>();
    handler->control = [](const SetupPacket& s) -> std::optional<TransferResult> {
      return s.bmRequestType == 0xA1 ? std::optional(TransferResult::stall()) : std::nullopt;
    };
    auto printer = printerFor<NumberingPrinter>(attach(pza(), handler));
    QVERIFY(printer->printerCommandQueue() == nullptr);
    QVERIFY(printer->isPrinterCommandQueue());
    bool ran = false, closed = false;
    printer->performInlineOnCommandQueue([&] { ran = true; });
    printer->closeInterface([&](IOReturn) { closed = true; });
    QVERIFY(ran && closed);
    QCOMPARE(printer->state(), int64_t{TBUSBPrinterStateClosed});
    QByteArray reply;
    printer->sendPrinterCommand([] {}, nullptr, [&](const QByteArray& r) { reply = r; });
    QVERIFY(reply.isNull());  // delivered later, on the main queue
    QTRY_COMPARE(reply, QByteArray("1"));
    printer->probe();
    QVERIFY(!printer->probedOnQueue);  // ran at once, here
  }

  void probeRunsOnTheQueue() {
    LogCapture log;
    auto printer = settledPrinter<NumberingPrinter>();
    printer->updateInfo();
    QTRY_VERIFY(printer->probedOnQueue.load());
    QVERIFY(log.contains("running probe on OLM PZA USB42"));
  }

  void removalWaitsForQueuedWork() {
    auto handler = std::make_shared<ScriptedHandler>();
    handler->out = [](const QByteArray&) {
      TransferResult r = TransferResult::ok();
      r.latencyMs = 2000;  // 20 ms each at the bus's time scale
      return r;
    };
    auto printer = settledPrinter(pza(), handler);
    QThread* destroyedOn = nullptr;
    connect(printer.get(), &QObject::destroyed, this, [&] { destroyedOn = QThread::currentThread(); });
    std::atomic<QThread*> thread{nullptr};
    QVERIFY(onQueue(*printer, [&] { thread = QThread::currentThread(); }));
    const QPointer<QThread> queueThread(thread.load());
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 5; ++i) {
      printer->openInterface([p = printer.get(), i](IOReturn) {
        p->writeToInterfaceWithData(QByteArray::number(i));
        p->closeInterface(nullptr);
      });
    }
    QVERIFY(releaseAndWait(printer));
    QVERIFY(clock.elapsed() >= 90);  // the writes ran first
    QCOMPARE(handler->written().size(), 5);
    QCOMPARE(destroyedOn, QThread::currentThread());
    QTRY_VERIFY(queueThread.isNull());  // its thread ended and was deleted
  }

  void printersRunSideBySide() {
    // Each printer's write waits until the other printer's write has started.
    std::atomic<int> started{0};
    auto handler = std::make_shared<ScriptedHandler>();
    handler->out = [&](const QByteArray&) {
      ++started;
      QElapsedTimer wait;
      wait.start();
      while (started < 2 && wait.elapsed() < 2000) QThread::msleep(1);
      return started >= 2 ? TransferResult::ok() : TransferResult::failure(kIOReturnTimeout);
    };
    auto a = settledPrinter(pza(), handler);
    auto b = settledPrinter(pza(), handler);
    std::atomic<int> succeeded{0};
    for (auto* p : {a.get(), b.get()}) {
      p->openInterface([p, &succeeded](IOReturn) {
        if (p->writeToInterfaceWithData("x")) ++succeeded;
        p->closeInterface(nullptr);
      });
    }
    QTRY_COMPARE(succeeded.load(), 2);
  }
};

QTEST_GUILESS_MAIN(PrinterTransportTest)
#include "printer_transport_unittest.moc"
