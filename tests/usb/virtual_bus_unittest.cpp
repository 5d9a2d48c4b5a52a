// The virtual USB bus as printer code sees it: exclusive opens, interest messages, control
// requests, transfers against the caller's time-outs, and the life of objects bound to the bus.
// Arrivals, removals and re-enumeration are the printer tests' (every rig attaches through the
// bus, the update restarts its printer twice at the same location).

#include <QtTest>

#include <deque>
#include <future>

#include "support/BlockingCalls.h"
#include "tests/common/ScriptedDevice.h"
#include "usb/virtual/VirtualUsbBus.h"

using namespace usb;
using namespace usb::virt;

namespace {

VirtualDeviceDescription printer(const QString& serial = QStringLiteral("A1")) {
  VirtualDeviceDescription d = pzaDescription(serial, "MFG:Varnholt;MDL:PZA;");
  d.languageIds = {0x0407, 0x0409};
  return d;
}

}  // namespace

class VirtualBusTest : public QObject {
  Q_OBJECT

  std::unique_ptr<VirtualUsbBus> bus_;
  std::shared_ptr<ScriptedDevice> handler_;  // vendor request 0x42 answers controlAnswer_, reads answers_
  TransferResult controlAnswer_;
  std::deque<TransferResult> answers_;
  std::shared_ptr<VirtualUsbDevice> device_;  // attached at a time scale of 0.01
  std::shared_ptr<UsbInterface> interface_;   // of device_, open

  QByteArray control(uint8_t type, uint8_t request, uint16_t value, uint16_t length, IOReturn* rc) {
    QByteArray buffer(length, '\0');
    ControlRequest r{type, request, value, 0, length, buffer.data(), 100, 100, 0};
    *rc = interface_->controlRequest(0, r);
    return buffer.left(qsizetype(r.lengthDone));
  }
  IOReturn read(QByteArray* data, uint32_t noDataMs, uint32_t completionMs, uint32_t size = 8) {
    data->fill('\0', size);
    const IOReturn rc = interface_->readPipe(2, data->data(), &size, noDataMs, completionMs);
    data->truncate(size);
    return rc;
  }

 private slots:
  // The backend alone, driven from the test thread: no application whose window could freeze.
  void initTestCase() { pm::allowBlockingCallsOnMainThread(); }

  void init() {
    bus_ = std::make_unique<VirtualUsbBus>();
    bus_->setTimeScale(0.01);
    handler_ = std::make_shared<ScriptedDevice>();
    handler_->control = [this](const SetupPacket& s) {
      return s.bRequest == 0x42 ? std::optional(controlAnswer_) : std::nullopt;
    };
    handler_->in = [this](uint32_t) {
      if (answers_.empty()) return TransferResult::silent();
      const TransferResult next = answers_.front();
      answers_.pop_front();
      return next;
    };
    controlAnswer_ = TransferResult::ok("vendor");
    answers_.clear();
    device_ = bus_->attach(printer(), handler_);
    interface_ = bus_->createInterface(device_->service(), nullptr);
    QCOMPARE(interface_->openSeize(), kIOReturnSuccess);
  }
  void cleanup() {
    interface_.reset();
    device_.reset();
    bus_.reset();
  }

  // (A device held by another program or refusing the open answers as the printer tests see it:
  // busy in the transport test, no permission in the printer list's.)
  void openIsExclusive() {
    auto other = bus_->createInterface(device_->service(), nullptr);
    uint8_t count = 0;
    char buffer[4];
    uint32_t size = sizeof buffer;
    // Pipes need the interface open through the object that asks.
    QCOMPARE((std::array{other->numEndpoints(&count), other->close(), other->openSeize(),
                         other->readPipe(2, buffer, &size, 10, 10)}),
             (std::array{kIOReturnError, kIOReturnError, kIOReturnExclusiveAccess, kIOReturnError}));
    QVERIFY(interface_->numEndpoints(&count) == kIOReturnSuccess && count == 2);
    interface_.reset();  // letting go of the object gives up its open
    QVERIFY(!device_->isOpen());
    QVERIFY(other->openSeize() == kIOReturnSuccess && device_->openCount() == 2);
    QVERIFY(other->close() == kIOReturnSuccess && !device_->isOpen());
  }

  void interestMessagesReachLiveRegistrationsOnly() {
    int argument = 7;
    QList<std::pair<uint32_t, void*>> first;
    int secondCalls = 0;
    std::unique_ptr<InterestRegistration> second;
    auto one = bus_->addInterestNotification(
        device_->service(),
        [&](const ServiceHandle&, uint32_t type, void* arg) {
          first.append({type, arg});
          second.reset();  // ending another registration from inside a delivery is safe
        },
        nullptr);
    second = bus_->addInterestNotification(
        device_->service(), [&](const ServiceHandle&, uint32_t, void*) { ++secondCalls; }, nullptr);
    device_->sendInterestMessage(kIOMessageServiceIsAttemptingOpen, &argument);
    QVERIFY(first.isEmpty());  // from the event loop only
    QTRY_COMPARE(first, (QList<std::pair<uint32_t, void*>>{{kIOMessageServiceIsAttemptingOpen, &argument}}));
    QCOMPARE(secondCalls, 0);
    one.reset();
    device_->sendInterestMessage(kIOMessageServiceWasClosed);
    QTest::qWait(20);
    QCOMPARE(first.size(), 1);
  }

  // The bus's own answers (strings, language list, GET_DEVICE_ID) reach the printer tests; here
  // their truncation to the request, the handler's precedence and the resets.
  void controlRequests() {
    IOReturn rc = kIOReturnError;
    QCOMPARE(control(0x80, 6, 0x0301, 4, &rc), QByteArray("\x24\x03V\0", 4));
    QCOMPARE(control(0xA1, 0, 0, 5, &rc), QByteArray("\x00\x17MFG", 5));
    QCOMPARE(control(0xC0, 0x42, 0, 3, &rc), QByteArray("ven"));
    control(0x80, 6, 0x0100, 18, &rc);  // descriptors the bus does not describe stall
    QCOMPARE(rc, kIOUSBPipeStalled);
    controlAnswer_ = TransferResult::failure(kIOReturnNotResponding);
    control(0xC0, 0x42, 0, 3, &rc);
    QCOMPARE(rc, kIOReturnNotResponding);
    control(0x21, 2, 0, 0, &rc);  // SOFT_RESET in both forms and the port reset reach the handler
    control(0x23, 2, 0, 0, &rc);
    QVERIFY(interface_->device()->resetDevice() == kIOReturnSuccess && handler_->resets() == 3);
    char payload[3] = {1, 2, 3};
    ControlRequest out{0x41, 0x42, 0, 0, 3, payload, 100, 100, 0};
    controlAnswer_ = TransferResult::ok();
    QVERIFY(interface_->controlRequest(0, out) == kIOReturnSuccess && out.lengthDone == 3);
    QCOMPARE(handler_->lastControlData(), QByteArray("\1\2\3"));
  }

  void bulkAnswersHonourTimeouts() {
    answers_ = {delayedReply("abcdefghij", 4000), TransferResult::stall(), delayedReply("late", 6000),
                delayedReply("late", 3000), TransferResult::silent()};
    QByteArray data;
    QVERIFY(read(&data, 5000, 5000) == kIOReturnSuccess && data == "abcdefgh");  // no more than asked for
    QVERIFY(read(&data, 5000, 5000) == kIOUSBPipeStalled && data.isEmpty());
    // Late answers end with the shorter of the two time-outs: 5000 and 2000 ms device time.
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(read(&data, 5000, 5000), kIOReturnTimeout);
    QVERIFY(clock.elapsed() >= 45);
    QCOMPARE((std::array{read(&data, 2000, 5000), read(&data, 100, 100)}),
             (std::array{kIOReturnTimeout, kIOReturnTimeout}));
    QVERIFY(clock.elapsed() < 1000 && data.isEmpty());

    handler_->out = [](const QByteArray&) { return TransferResult::failure(kIOReturnNotResponding); };
    QCOMPARE((std::array{interface_->writePipe(1, "x", 1, 5000, 5000),
                         interface_->writePipe(2, "x", 1, 5000, 5000)}),
             (std::array{kIOReturnNotResponding, kIOReturnBadArgument}));  // the second an IN pipe
    // Zero-length transfers: a read completes without asking the device, a write is still one.
    QVERIFY(read(&data, 5000, 5000, 0) == kIOReturnSuccess && handler_->reads() == 5);
    handler_->out = [](const QByteArray&) { return TransferResult::ok(); };
    QCOMPARE(interface_->writePipe(1, nullptr, 0, 5000, 5000), kIOReturnSuccess);
    QCOMPARE(handler_->written(), (QByteArrayList{"x", QByteArray()}));
  }

  void destroyingBusWakesTransferInFlight() {
    const auto other = bus_->attach(printer("A2"), std::make_shared<ScriptedDevice>());
    int reported = 0;  // arrivals and removals, of which the two arrivals come at registration
    bus_->addInterfaceNotifications([&](const ServiceHandle&) { ++reported; },
                                    [&](const ServiceHandle&) { ++reported; });
    auto pending = std::async(std::launch::async, [this] {
      QByteArray data;
      return read(&data, 0, 0);  // a silent device and no time-out
    });
    QTRY_COMPARE(handler_->reads(), 1);
    other->detach();  // its notifications are still queued when the bus goes
    bus_.reset();
    QCOMPARE(pending.get(), kIOReturnNoDevice);
    uint8_t value = 0;
    QVERIFY(!device_->isAttached() && interface_->interfaceClass(&value) == kIOReturnNoDevice);
    device_->attach();  // a device cannot come back to a bus that has gone
    QVERIFY(!device_->isAttached());
    QTest::qWait(10);
    QCOMPARE(reported, 2);  // nothing after the bus went
  }
};

QTEST_GUILESS_MAIN(VirtualBusTest)
#include "virtual_bus_unittest.moc"
