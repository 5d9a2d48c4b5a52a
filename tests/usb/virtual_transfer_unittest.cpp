// Transfers on the virtual bus: the bus's own control answers, scripted answers with latency,
// failures and silence against the caller's time-outs, and a device leaving mid-transfer.

#include <QtTest>

#include <deque>
#include <future>

#include "usb/virtual/VirtualUsbBus.h"

using namespace usb;
using namespace usb::virt;

namespace {

// Answers from a script; records what reached it.
class ScriptedHandler : public VirtualDeviceHandler {
 public:
  std::optional<TransferResult> controlRequest(VirtualUsbDevice&, const SetupPacket& setup,
                                               const QByteArray& outData) override {
    std::lock_guard lock(mutex);
    controlOut = outData;
    if (setup.bRequest == 0x42) return controlAnswer;
    return std::nullopt;
  }
  TransferResult bulkOut(VirtualUsbDevice&, uint8_t, const QByteArray& data) override {
    std::lock_guard lock(mutex);
    written << data;
    return writeAnswer;
  }
  TransferResult bulkIn(VirtualUsbDevice&, uint8_t, uint32_t) override {
    std::lock_guard lock(mutex);
    ++reads;
    if (answers.empty()) return TransferResult::silent();
    TransferResult next = answers.front();
    answers.pop_front();
    return next;
  }
  void reset(VirtualUsbDevice&) override { ++resets; }

  std::mutex mutex;
  std::deque<TransferResult> answers;
  TransferResult writeAnswer = TransferResult::ok();
  TransferResult controlAnswer = TransferResult::ok("vendor");
  QByteArrayList written;
  QByteArray controlOut;
  std::atomic<int> reads{0};
  std::atomic<int> resets{0};
};

TransferResult delayed(QByteArray bytes, uint32_t latencyMs) {
  TransferResult r = TransferResult::ok(std::move(bytes));
  r.latencyMs = latencyMs;
  return r;
}

}  // namespace

class VirtualTransferTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void standardControlAnswersAreTruncatedToRequest();
  void handlerOverridesAndClassRequests();
  void bulkAnswersHonourTimeouts();
  void zeroLengthTransfers();
  void leavingDeviceWakesBlockedTransfer();

 private:
  QByteArray control(uint8_t type, uint8_t request, uint16_t value, uint16_t length, IOReturn* rc);

  std::unique_ptr<VirtualUsbBus> bus_;
  std::shared_ptr<ScriptedHandler> handler_;
  std::shared_ptr<VirtualUsbDevice> device_;
  std::shared_ptr<UsbInterface> interface_;
};

void VirtualTransferTest::init() {
  bus_ = std::make_unique<VirtualUsbBus>();
  bus_->setTimeScale(0.01);
  handler_ = std::make_shared<ScriptedHandler>();
  VirtualDeviceDescription d;
  d.manufacturer = QStringLiteral("Varnholt Printing");
  d.product = QStringLiteral("PZA");
  d.languageIds = {0x0407, 0x0409};
  d.deviceId1284 = "MFG:Varnholt;MDL:PZA;";
  device_ = bus_->attach(d, handler_);
  IOReturn rc = kIOReturnError;
  interface_ = bus_->createInterface(device_->service(), &rc);
  QCOMPARE(interface_->openSeize(), kIOReturnSuccess);
}

void VirtualTransferTest::cleanup() {
  interface_.reset();
  device_.reset();
  bus_.reset();
}

QByteArray VirtualTransferTest::control(uint8_t type, uint8_t request, uint16_t value,
                                        uint16_t length, IOReturn* rc) {
  QByteArray buffer(length, '\0');
  ControlRequest r{type, request, value, 0, length, buffer.data(), 100, 100, 0};
  *rc = interface_->controlRequest(0, r);
  return buffer.left(static_cast<qsizetype>(r.lengthDone));
}

void VirtualTransferTest::standardControlAnswersAreTruncatedToRequest() {
  IOReturn rc = kIOReturnError;
  QCOMPARE(control(0x80, 6, 0x0300, 256, &rc), QByteArray("\x06\x03\x07\x04\x09\x04", 6));
  QCOMPARE(control(0x80, 6, 0x0302, 256, &rc), QByteArray("\x08\x03P\0Z\0A\0", 8));
  QCOMPARE(control(0x80, 6, 0x0301, 4, &rc), QByteArray("\x24\x03V\0", 4));
  QCOMPARE(rc, kIOReturnSuccess);

  // No serial number: index 0 from the device object, and its descriptor does not exist.
  uint8_t index = 9;
  QCOMPARE(interface_->device()->serialNumberStringIndex(&index), kIOReturnSuccess);
  QCOMPARE(index, uint8_t{0});
  QCOMPARE(control(0x80, 6, 0x0303, 256, &rc), QByteArray());
  QCOMPARE(rc, kIOUSBPipeStalled);

  const QByteArray id = control(0xA1, 0, 0, 0xFFFF, &rc);
  QCOMPARE(id, QByteArray("\x00\x17MFG:Varnholt;MDL:PZA;", 23));
  QCOMPARE(control(0xA1, 0, 0, 5, &rc), QByteArray("\x00\x17MFG", 5));
  control(0x80, 6, 0x0100, 18, &rc);  // descriptors the bus does not describe stall
  QCOMPARE(rc, kIOUSBPipeStalled);
}

void VirtualTransferTest::handlerOverridesAndClassRequests() {
  IOReturn rc = kIOReturnError;
  QCOMPARE(control(0xC0, 0x42, 0, 3, &rc), QByteArray("ven"));
  handler_->controlAnswer = TransferResult::failure(kIOReturnNotResponding);
  control(0xC0, 0x42, 0, 3, &rc);
  QCOMPARE(rc, kIOReturnNotResponding);

  // SOFT_RESET in both forms, and the device object's port reset, reach the handler.
  control(0x21, 2, 0, 0, &rc);
  QCOMPARE(rc, kIOReturnSuccess);
  control(0x23, 2, 0, 0, &rc);
  QCOMPARE(interface_->device()->resetDevice(), kIOReturnSuccess);
  QCOMPARE(handler_->resets.load(), 3);

  char payload[3] = {1, 2, 3};
  ControlRequest out{0x41, 0x42, 0, 0, 3, payload, 100, 100, 0};
  handler_->controlAnswer = TransferResult::ok();
  QCOMPARE(interface_->controlRequest(0, out), kIOReturnSuccess);
  QCOMPARE(out.lengthDone, 3u);
  QCOMPARE(handler_->controlOut, QByteArray("\1\2\3"));
}

void VirtualTransferTest::bulkAnswersHonourTimeouts() {
  char buffer[8];
  uint32_t size = sizeof buffer;
  handler_->answers = {delayed("abcdefghij", 4000), TransferResult::stall(),
                       delayed("late", 6000), delayed("late", 3000), TransferResult::silent()};

  QCOMPARE(interface_->readPipe(2, buffer, &size, 5000, 5000), kIOReturnSuccess);
  QCOMPARE(QByteArray(buffer, size), QByteArray("abcdefgh"));  // no more than asked for
  size = sizeof buffer;
  QCOMPARE(interface_->readPipe(2, buffer, &size, 5000, 5000), kIOUSBPipeStalled);
  QCOMPARE(size, 0u);

  // Late answers end with the shorter of the two time-outs: 5000 and 2000 ms device time.
  QElapsedTimer clock;
  clock.start();
  size = sizeof buffer;
  QCOMPARE(interface_->readPipe(2, buffer, &size, 5000, 5000), kIOReturnTimeout);
  QVERIFY(clock.elapsed() >= 45);
  size = sizeof buffer;
  QCOMPARE(interface_->readPipe(2, buffer, &size, 2000, 5000), kIOReturnTimeout);
  size = sizeof buffer;
  QCOMPARE(interface_->readPipe(2, buffer, &size, 100, 100), kIOReturnTimeout);
  QVERIFY(clock.elapsed() < 1000);
  QCOMPARE(size, 0u);

  handler_->writeAnswer = TransferResult::failure(kIOReturnNotResponding);
  QCOMPARE(interface_->writePipe(1, "x", 1, 5000, 5000), kIOReturnNotResponding);
  QCOMPARE(interface_->writePipe(2, "x", 1, 5000, 5000), kIOReturnBadArgument);  // an IN pipe
}

void VirtualTransferTest::zeroLengthTransfers() {
  uint32_t size = 0;
  QCOMPARE(interface_->readPipe(2, nullptr, &size, 5000, 5000), kIOReturnSuccess);
  QCOMPARE(size, 0u);
  QCOMPARE(handler_->reads.load(), 0);  // completed without asking the device
  QCOMPARE(interface_->writePipe(1, nullptr, 0, 5000, 5000), kIOReturnSuccess);
  QCOMPARE(handler_->written, QByteArrayList{QByteArray()});  // an empty write is still a write
}

void VirtualTransferTest::leavingDeviceWakesBlockedTransfer() {
  bus_->setTimeScale(1.0);
  handler_->answers = {delayed("slow", 60000)};
  auto slow = std::async(std::launch::async, [this] {
    char buffer[8];
    uint32_t size = sizeof buffer;
    return interface_->readPipe(2, buffer, &size, 0, 0);
  });
  QTRY_COMPARE(handler_->reads.load(), 1);
  QElapsedTimer clock;
  clock.start();
  device_->detach();
  QCOMPARE(slow.get(), kIOReturnNoDevice);
  QVERIFY(clock.elapsed() < 1000);
  char buffer[4];
  uint32_t size = sizeof buffer;
  QCOMPARE(interface_->readPipe(2, buffer, &size, 10, 10), kIOReturnNoDevice);
  QCOMPARE(interface_->writePipe(1, "x", 1, 10, 10), kIOReturnNoDevice);
}

QTEST_GUILESS_MAIN(VirtualTransferTest)
#include "virtual_transfer_unittest.moc"
