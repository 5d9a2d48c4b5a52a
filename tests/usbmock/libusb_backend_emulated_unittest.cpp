// The libusb backend, unchanged, against emulated kernel USB devices: discovery and hot-plug with
// location IDs, the control requests of printer identity, bulk transfers in both framings of a
// reply, the faults a device or the kernel delivers, and re-enumeration. The devices answer from
// a scripted handler, so every byte and every fault is under the test's control.

#include <QtTest>

#include <QElapsedTimer>

#include <future>
#include <mutex>

#include "support/BlockingCalls.h"
#include "tests/common/ScriptedDevice.h"
#include "tests/usbmock/EmulatedUsbBus.h"
#include "usb/libusb/LibusbRegistry.h"

using usb::ServiceHandle;
using usb::virt::TransferResult;
using usbmock::BulkInFraming;

// Outside the anonymous namespace: the test class holds one.
enum class Fault { None, Silent, Stall, UnplugOnWrite };

namespace {

constexpr uint32_t kShortTimeoutMs = 150;
constexpr uint32_t kLongTimeoutMs = 3000;

usb::virt::VirtualDeviceDescription printerDescription(uint16_t product = 0x0017) {
  usb::virt::VirtualDeviceDescription d =
      pzaDescription(QStringLiteral("EMU0001"), "MFG:Maker;MDL:RM-Test;SERN:EMU0001;");
  d.productId = product;
  return d;
}

QByteArray replyWithBody(const QByteArray& body) {
  return QByteArray::number(body.size()).rightJustified(8, '0') + body;
}

IOReturn read(usb::UsbInterface& interface, QByteArray* data, uint32_t size,
              uint32_t timeoutMs = kLongTimeoutMs) {
  data->fill('\0', size);
  uint32_t received = size;
  const IOReturn result = interface.readPipe(2, data->data(), &received, timeoutMs, timeoutMs);
  data->truncate(received);
  return result;
}

IOReturn write(usb::UsbInterface& interface, const QByteArray& data) {
  return interface.writePipe(1, data.constData(), uint32_t(data.size()), kLongTimeoutMs, kLongTimeoutMs);
}

}  // namespace

class LibusbBackendEmulatedTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<usbmock::EmulatedUsbBus> bus_;
  std::unique_ptr<usb::UsbRegistry> registry_;
  QList<ServiceHandle> matched_, terminated_;
  std::shared_ptr<usb::virt::VirtualUsbDevice> device_;
  std::shared_ptr<ScriptedDevice> printer_;
  // The printer's script: each bulk-out is answered with reply_ (replacing a reply not read in
  // full); the host reads the reply in pieces of the size it asks for, or as packets (the bus's
  // framing). Guarded by scriptLock_: the device answers on umockdev's thread.
  std::mutex scriptLock_;
  QByteArray reply_, pending_;
  Fault fault_ = Fault::None;
  uint32_t latencyMs_ = 0;

  void script(const QByteArray& reply, Fault fault = Fault::None, uint32_t latencyMs = 0) {
    const std::lock_guard l(scriptLock_);
    std::tie(reply_, fault_, latencyMs_) = std::tuple(reply, fault, latencyMs);
  }

  void startLibusb() {
    registry_ = usb::makeLibusbRegistry();
    registry_->addInterfaceNotifications([this](const ServiceHandle& s) { matched_.append(s); },
                                         [this](const ServiceHandle& s) { terminated_.append(s); });
  }

  // A scripted printer on the bus and libusb started; answers the interface libusb reports for it.
  std::shared_ptr<usb::UsbInterface> startWithPrinter(BulkInFraming framing = BulkInFraming::AsRequested,
                                                      bool held = false) {
    script({});
    {
      const std::lock_guard l(scriptLock_);
      pending_.clear();
    }  // nothing left from an earlier test
    printer_ = std::make_shared<ScriptedDevice>();
    printer_->out = [this](const QByteArray&) {
      {
        const std::lock_guard l(scriptLock_);
        pending_ = reply_;
        if (fault_ != Fault::UnplugOnWrite) return TransferResult::ok();
      }
      device_->detach();
      return TransferResult::failure(kIOReturnNoDevice);
    };
    printer_->in = [this](uint32_t maxLength) {
      const std::lock_guard l(scriptLock_);
      if (fault_ == Fault::Stall) return TransferResult::stall();
      if (fault_ == Fault::Silent || pending_.isEmpty()) return TransferResult::silent();
      TransferResult result = TransferResult::ok(pending_.left(maxLength));
      pending_.remove(0, result.data.size());
      result.latencyMs = latencyMs_;
      return result;
    };
    device_ = bus_->attachDevice(printerDescription(), printer_, framing);
    device_->setHeldByOtherProgram(held);
    startLibusb();
    if (!QTest::qWaitFor([this] { return matched_.size() == 1; }, 5000)) return nullptr;
    return registry_->createInterface(matched_.first(), nullptr);
  }

 private slots:
  void initTestCase() {
    // The backend alone, driven from the test thread: no application whose window could freeze.
    pm::allowBlockingCallsOnMainThread();
    QVERIFY2(usbmock::EmulatedUsbBus::preloadActive(),
             "start with LD_PRELOAD=libumockdev-preload.so.0 (ctest sets it up)");
  }
  void init() {
    matched_.clear();
    terminated_.clear();
    bus_ = std::make_unique<usbmock::EmulatedUsbBus>();
  }
  void cleanup() {
    registry_.reset();
    bus_.reset();
  }

  // Found at start-up, plugged in later, configured only after arrival; told apart from others.
  // (What a departure leaves behind is the fault and re-enumeration cases' below.)
  void printersPresentAndPluggedInLaterAreFound() {
    const auto first = bus_->attachDevice(printerDescription(), std::make_shared<ScriptedDevice>());
    // A keyboard: no printer interface.
    auto keyboard = printerDescription(0x0099);
    keyboard.interfaceClass = 3;
    keyboard.endpoints = {usb::PipeProperties{kUSBIn, 1, kUSBInterrupt, 8, 10}};
    bus_->attachForeignDevice(keyboard);
    QTRY_VERIFY(bus_->isShown(*first));

    startLibusb();
    QCOMPARE(matched_.size(), 1);  // reported before start-up returned
    auto description = printerDescription(0x0011);
    description.interfaceSubClass = 2;  // a printer by class only: reported, told apart above
    bus_->attachDevice(description, std::make_shared<ScriptedDevice>());
    QTRY_COMPARE(matched_.size(), 2);
    auto later = registry_->createInterface(matched_.last(), nullptr);
    uint8_t subClass = 0;
    uint32_t location = 0;
    QVERIFY(later->interfaceSubClass(&subClass) == kIOReturnSuccess &&
            later->locationID(&location) == kIOReturnSuccess);
    QCOMPARE(subClass, uint8_t{2});
    QCOMPARE(location, 0x01300000u);  // port 2 holds the keyboard

    // Not configured yet when it arrives (the kernel picks a configuration a moment later): its
    // printer interface is reported once it has one.
    const auto unconfigured =
        bus_->attachDevice(printerDescription(0x0012), std::make_shared<ScriptedDevice>(),
                           usbmock::BulkInFraming::AsRequested, false);
    QTRY_VERIFY(bus_->isShown(*unconfigured));
    QTest::qWait(300);
    QCOMPARE(matched_.size(), 2);
    bus_->configure(*unconfigured);
    QTRY_COMPARE_WITH_TIMEOUT(matched_.size(), 3, 3000);
    first->detach();  // a departure ends that printer's service only
    QTRY_COMPARE(terminated_.size(), 1);
    QVERIFY(terminated_.first() == matched_.first() && registry_->isServiceAlive(matched_.last()));
  }

  // While another program holds the interface only GET_DEVICE_ID passes; freed, it is ours.
  void heldInterfaceIsBusyUntilFreed() {
    auto interface = startWithPrinter(BulkInFraming::AsRequested, true);
    QVERIFY(interface);
    // GET_DEVICE_ID asks for up to 0xFFFF bytes (past libusb's own limit) and passes while
    // another program holds the interface, as the kernel lets this one request through.
    QByteArray reply(0xFFFF, '\0');
    usb::ControlRequest deviceId{0xA1, 0, 0, 0, 0xFFFF, reply.data(), 100, 100, 0};
    QCOMPARE(interface->controlRequest(0, deviceId), kIOReturnSuccess);
    const QByteArray text = printerDescription().deviceId1284;
    QCOMPARE(reply.left(int(deviceId.lengthDone)), QByteArray(1, '\0') + char(text.size() + 2) + text);

    // SOFT_RESET needs the interface (it claims it): refused while it is held, done once it is free.
    usb::ControlRequest softReset{0x21, 2, 0, 0, 0, nullptr, 100, 100, 0};
    QCOMPARE(interface->controlRequest(0, softReset), kIOReturnExclusiveAccess);
    QCOMPARE(interface->openSeize(), kIOReturnExclusiveAccess);
    QCOMPARE(interface->openSeize(), kIOReturnExclusiveAccess);
    QCOMPARE(printer_->resets(), 0);
    device_->setHeldByOtherProgram(false);
    QCOMPARE(interface->controlRequest(0, softReset), kIOReturnSuccess);
    QCOMPARE(printer_->resets(), 1);
    usb::ControlRequest vendor{0xC0, 0x42, 0, 0, 4, reply.data(), 100, 100, 0};
    QCOMPARE(interface->controlRequest(0, vendor), kIOUSBPipeStalled);
    QCOMPARE(interface->openSeize(), kIOReturnSuccess);
    QVERIFY(device_->isOpen());
    // A second interface object of the same service is refused while the first holds it; the
    // first one's close gives the claim up.
    auto other = registry_->createInterface(matched_.first(), nullptr);
    QCOMPARE(other->openSeize(), kIOReturnExclusiveAccess);
    QCOMPARE(interface->close(), kIOReturnSuccess);
    QVERIFY(!device_->isOpen());
    QCOMPARE(other->openSeize(), kIOReturnSuccess);
    QCOMPARE(other->close(), kIOReturnSuccess);
  }

  void repliesArriveWholeInBothFramings_data() {
    QTest::addColumn<BulkInFraming>("framing");
    QTest::newRow("header as its own packet") << BulkInFraming::AsRequested;
    QTest::newRow("header and body in one packet") << BulkInFraming::WholePackets;
  }
  void repliesArriveWholeInBothFramings() {
    QFETCH(BulkInFraming, framing);
    auto interface = startWithPrinter(framing);
    QVERIFY(interface);
    QCOMPARE(interface->openSeize(), kIOReturnSuccess);
    // A short reply (one packet), then one longer than a packet: header first, then the body.
    for (const int bodySize : {20, 1000}) {
      QByteArray body(bodySize, '\0');
      for (int i = 0; i < bodySize; ++i) body[i] = char('a' + i % 26);
      script(replyWithBody(body));
      QCOMPARE(write(*interface, "STATUS"), kIOReturnSuccess);
      QByteArray header, received;
      QCOMPARE(read(*interface, &header, 8), kIOReturnSuccess);
      QCOMPARE(header.toInt(), bodySize);
      QCOMPARE(read(*interface, &received, uint32_t(bodySize)), kIOReturnSuccess);
      QCOMPARE(received, body);
    }
    QCOMPARE(printer_->written(), (QList<QByteArray>{"STATUS", "STATUS"}));
    QCOMPARE(interface->close(), kIOReturnSuccess);
  }

  void deviceFaultsArriveAsTheKernelDeliversThem() {
    auto interface = startWithPrinter();
    QVERIFY(interface);
    QCOMPARE(interface->openSeize(), kIOReturnSuccess);
    QByteArray data;
    QElapsedTimer clock;

    // No reply: the read ends at its time-out, which libusb enforces by discarding the URB.
    clock.start();
    QCOMPARE(read(*interface, &data, 8, kShortTimeoutMs), kIOReturnTimeout);
    QVERIFY2(clock.elapsed() >= kShortTimeoutMs - 10 && clock.elapsed() < 1000,
             qPrintable(QString::number(clock.elapsed())));

    // A reply later than the time-out times out; within it, it arrives.
    script(replyWithBody("late"), Fault::None, 400);
    QCOMPARE(write(*interface, "A"), kIOReturnSuccess);
    QCOMPARE(read(*interface, &data, 8, kShortTimeoutMs), kIOReturnTimeout);
    QCOMPARE(write(*interface, "B"), kIOReturnSuccess);
    clock.restart();
    QCOMPARE(read(*interface, &data, 12, 2000), kIOReturnSuccess);
    QVERIFY(clock.elapsed() >= 390);
    QCOMPARE(data, QByteArray("00000004late"));

    // A stall, cleared by the backend so that the next exchange works.
    script({}, Fault::Stall);
    QCOMPARE(read(*interface, &data, 8), kIOUSBPipeStalled);
    script(replyWithBody("ok"));
    QCOMPARE(write(*interface, "C"), kIOReturnSuccess);
    QCOMPARE(read(*interface, &data, 10), kIOReturnSuccess);
    QCOMPARE(data, QByteArray("00000002ok"));

    // Unplugged while a read waits: the read ends at once, and so does every later call.
    script({}, Fault::Silent);
    auto pending = std::async(std::launch::async, [&interface] {
      QByteArray d;
      return read(*interface, &d, 8, kLongTimeoutMs);
    });
    QTest::qWait(100);
    clock.restart();
    device_->detach();
    QCOMPARE(pending.get(), kIOReturnNoDevice);
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(write(*interface, "D"), kIOReturnNoDevice);
    QCOMPARE(read(*interface, &data, 8), kIOReturnNoDevice);
    QTRY_COMPARE(terminated_.size(), 1);
    QCOMPARE(interface->close(), kIOReturnNoDevice);
  }

  void unplugDuringAWriteEndsIt() {
    auto interface = startWithPrinter();
    QVERIFY(interface);
    QCOMPARE(interface->openSeize(), kIOReturnSuccess);
    script({}, Fault::UnplugOnWrite);
    QCOMPARE(write(*interface, "BYE"), kIOReturnNoDevice);
    QByteArray data;
    QCOMPARE(read(*interface, &data, 8), kIOReturnNoDevice);
    QTRY_COMPARE(terminated_.size(), 1);
  }

  void reEnumeratedDevicesReturnAsNewServicesAtTheirLocation() {
    auto interface = startWithPrinter();
    QVERIFY(interface);
    uint32_t before = 0, after = 0;
    QCOMPARE(interface->locationID(&before), kIOReturnSuccess);

    // The host asks (a port reset, which Linux offers in place of a re-enumeration): the device
    // comes back as a new service at its location. (A device restarting on its own does so twice
    // in the libusb printers test's update, at the same device key.)
    QCOMPARE(interface->device()->reEnumerate(0), kIOReturnSuccess);
    QTRY_COMPARE(matched_.size(), 2);
    QVERIFY(terminated_.size() == 1 && terminated_.first() == matched_.first());
    auto renewed = registry_->createInterface(matched_.last(), nullptr);
    QCOMPARE(renewed->locationID(&after), kIOReturnSuccess);
    QCOMPARE(after, before);
    QCOMPARE(interface->openSeize(), kIOReturnNoDevice);
    QCOMPARE(renewed->openSeize(), kIOReturnSuccess);
    QCOMPARE(renewed->close(), kIOReturnSuccess);
    QCOMPARE(bus_->enumerationsOf(*device_), 1);
  }
};

QTEST_GUILESS_MAIN(LibusbBackendEmulatedTest)
#include "libusb_backend_emulated_unittest.moc"
