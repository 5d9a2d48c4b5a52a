// The libusb backend, unchanged, against emulated kernel USB devices: discovery and hot-plug with
// location IDs, the control requests of printer identity, bulk transfers in both framings of a
// reply, the faults a device or the kernel delivers, and re-enumeration. The devices answer from
// a scripted handler, so every byte and every fault is under the test's control.

#include <QtTest>

#include <QElapsedTimer>

#include <future>
#include <mutex>
#include <thread>

#include "tests/usbmock/EmulatedUsbBus.h"
#include "usb/libusb/LibusbRegistry.h"

using usb::ServiceHandle;
using usb::virt::TransferResult;
using usbmock::BulkInFraming;

namespace {

constexpr uint32_t kShortTimeoutMs = 150;
constexpr uint32_t kLongTimeoutMs = 3000;

// Answers each bulk-out with the scripted reply (replacing a reply not read in full); the host
// reads the reply in pieces of the size it asks for, or as packets (the bus's framing).
class ScriptedPrinter final : public usb::virt::VirtualDeviceHandler {
 public:
  enum class Fault { None, Silent, Stall, UnplugOnWrite };

  void setReply(const QByteArray& reply) { const std::lock_guard l(m_); reply_ = reply; }
  void setFault(Fault fault) { const std::lock_guard l(m_); fault_ = fault; }
  void setLatencyMs(uint32_t ms) { const std::lock_guard l(m_); latencyMs_ = ms; }
  QList<QByteArray> written() const { const std::lock_guard l(m_); return written_; }
  int resets() const { const std::lock_guard l(m_); return resets_; }

  TransferResult bulkOut(usb::virt::VirtualUsbDevice& device, uint8_t, const QByteArray& data) override {
    Fault fault;
    {
      const std::lock_guard l(m_);
      written_.append(data);
      pending_ = reply_;
      fault = fault_;
    }
    if (fault != Fault::UnplugOnWrite) return TransferResult::ok();
    device.detach();
    return TransferResult::failure(kIOReturnNoDevice);
  }
  TransferResult bulkIn(usb::virt::VirtualUsbDevice&, uint8_t, uint32_t maxLength) override {
    const std::lock_guard l(m_);
    if (fault_ == Fault::Stall) return TransferResult::stall();
    if (fault_ == Fault::Silent || pending_.isEmpty()) return TransferResult::silent();
    TransferResult result = TransferResult::ok(pending_.left(maxLength));
    pending_.remove(0, result.data.size());
    result.latencyMs = latencyMs_;
    return result;
  }
  void reset(usb::virt::VirtualUsbDevice&) override { const std::lock_guard l(m_); ++resets_; pending_.clear(); }

 private:
  mutable std::mutex m_;
  QByteArray reply_;
  QByteArray pending_;
  Fault fault_ = Fault::None;
  uint32_t latencyMs_ = 0;
  QList<QByteArray> written_;
  int resets_ = 0;
};

usb::virt::VirtualDeviceDescription printerDescription(uint16_t product = 0x0017) {
  usb::virt::VirtualDeviceDescription d;
  d.vendorId = 0x2B3C;
  d.productId = product;
  d.manufacturer = QStringLiteral("Maker");
  d.product = QStringLiteral("RM-Test");
  d.serialNumber = QStringLiteral("EMU0001");
  d.languageIds = {0x0809, 0x0409};
  d.deviceId1284 = "MFG:Maker;MDL:RM-Test;SERN:EMU0001;";
  return d;
}

QByteArray replyWithBody(const QByteArray& body) {
  return QByteArray::number(body.size()).rightJustified(8, '0') + body;
}

}  // namespace

class LibusbBackendEmulatedTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<usbmock::EmulatedUsbBus> bus_;
  std::unique_ptr<usb::UsbRegistry> registry_;
  QList<ServiceHandle> matched_;
  QList<ServiceHandle> terminated_;

  void startLibusb() {
    registry_ = usb::makeLibusbRegistry();
    registry_->addInterfaceNotifications([this](const ServiceHandle& s) { matched_.append(s); },
                                         [this](const ServiceHandle& s) { terminated_.append(s); });
  }

  std::shared_ptr<ScriptedPrinter> attach(std::shared_ptr<usb::virt::VirtualUsbDevice>* device,
                                          BulkInFraming framing = BulkInFraming::AsRequested,
                                          const usb::virt::VirtualDeviceDescription& d = printerDescription()) {
    auto printer = std::make_shared<ScriptedPrinter>();
    *device = bus_->attachDevice(d, printer, framing);
    return printer;
  }

  // The interface of the only service reported so far, once libusb has reported one.
  std::shared_ptr<usb::UsbInterface> waitForInterface() {
    if (!QTest::qWaitFor([this] { return matched_.size() == 1; }, 5000)) return nullptr;
    return registry_->createInterface(matched_.first(), nullptr);
  }

  static IOReturn read(usb::UsbInterface& interface, QByteArray* data, uint32_t size,
                       uint32_t timeoutMs = kLongTimeoutMs) {
    data->fill('\0', size);
    uint32_t received = size;
    const IOReturn result = interface.readPipe(2, data->data(), &received, timeoutMs, timeoutMs);
    data->truncate(received);
    return result;
  }

  static IOReturn write(usb::UsbInterface& interface, const QByteArray& data) {
    return interface.writePipe(1, data.constData(), static_cast<uint32_t>(data.size()), kLongTimeoutMs,
                               kLongTimeoutMs);
  }

 private slots:
  void initTestCase() {
    QVERIFY2(usbmock::UmockdevTestbed::preloadActive(),
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

  void printersPresentAndPluggedInLaterAreFound() {
    std::shared_ptr<usb::virt::VirtualUsbDevice> first;
    attach(&first);
    QTRY_VERIFY(bus_->isShown(*first));
    usbmock::DeviceLayout hid;  // a keyboard: no printer interface
    hid.vendorId = 0x2B3C;
    hid.productId = 0x0099;
    hid.interfaces.push_back({0, 0, 3, 1, 1, {usb::PipeProperties{kUSBIn, 1, kUSBInterrupt, 8, 10}}});
    bus_->attachForeignDevice(hid);

    startLibusb();
    QCOMPARE(matched_.size(), 1);  // reported before start-up returned
    uint32_t location = 0;
    auto interface = registry_->createInterface(matched_.first(), nullptr);
    QVERIFY(interface);
    QCOMPARE(interface->locationID(&location), kIOReturnSuccess);
    QCOMPARE(location, bus_->locationIdOf(*first));
    QCOMPARE(location, 0x01100000u);

    std::shared_ptr<usb::virt::VirtualUsbDevice> second;
    auto description = printerDescription(0x0011);
    description.interfaceSubClass = 2;  // a printer by class only: reported, told apart above
    attach(&second, BulkInFraming::AsRequested, description);
    QTRY_COMPARE(matched_.size(), 2);
    auto later = registry_->createInterface(matched_.last(), nullptr);
    uint8_t subClass = 0;
    QCOMPARE(later->interfaceSubClass(&subClass), kIOReturnSuccess);
    QCOMPARE(subClass, uint8_t{2});
    QCOMPARE(later->locationID(&location), kIOReturnSuccess);
    QCOMPARE(location, 0x01300000u);  // port 2 holds the keyboard

    first->detach();
    QTRY_COMPARE(terminated_.size(), 1);
    QVERIFY(terminated_.first() == matched_.first());
    QVERIFY(!registry_->isServiceAlive(matched_.first()));
    QCOMPARE(interface->locationID(&location), kIOReturnNoDevice);
    QCOMPARE(interface->openSeize(), kIOReturnNoDevice);
    QVERIFY(registry_->isServiceAlive(matched_.last()));
  }

  void identityRequestsReachTheDevice() {
    std::shared_ptr<usb::virt::VirtualUsbDevice> device;
    auto printer = attach(&device);
    startLibusb();
    auto interface = waitForInterface();
    QVERIFY(interface);

    QByteArray buffer(256, '\0');
    usb::ControlRequest languages{0x80, 6, 0x0300, 0, 256, buffer.data(), 500, 2000, 0};
    QCOMPARE(interface->controlRequest(0, languages), kIOReturnSuccess);
    QCOMPARE(languages.lengthDone, 6u);
    QCOMPARE(buffer.left(6), QByteArray::fromHex("06030908" "0904"));

    auto deviceObject = interface->device();
    uint8_t index = 0;
    QCOMPARE(deviceObject->productStringIndex(&index), kIOReturnSuccess);
    usb::ControlRequest product{0x80, 6, uint16_t(0x0300 | index), 0x0409, 256, buffer.data(), 500, 2000, 0};
    QCOMPARE(interface->controlRequest(0, product), kIOReturnSuccess);
    QCOMPARE(product.lengthDone, 2u + 2u * 7u);
    QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer.constData() + 2), 7),
             QStringLiteral("RM-Test"));

    // GET_DEVICE_ID: a big-endian length that counts itself, then the text; also while another
    // program holds the interface, as the kernel lets this one request through.
    // The printer's own request asks for up to 0xFFFF bytes.
    device->setHeldByOtherProgram(true);
    QByteArray reply(0xFFFF, '\0');
    usb::ControlRequest deviceId{0xA1, 0, 0, 0, 0xFFFF, reply.data(), 100, 100, 0};
    QCOMPARE(interface->controlRequest(0, deviceId), kIOReturnSuccess);
    const QByteArray text = printerDescription().deviceId1284;
    QCOMPARE(deviceId.lengthDone, uint32_t(text.size() + 2));
    QCOMPARE(reply.mid(2, text.size()), text);
    QCOMPARE(quint8(reply[0]) << 8 | quint8(reply[1]), text.size() + 2);

    // SOFT_RESET needs the interface: refused while it is held, done once it is free.
    usb::ControlRequest softReset{0x21, 2, 0, 0, 0, nullptr, 100, 100, 0};
    QCOMPARE(interface->controlRequest(0, softReset), kIOReturnExclusiveAccess);
    QCOMPARE(printer->resets(), 0);
    device->setHeldByOtherProgram(false);
    QCOMPARE(interface->controlRequest(0, softReset), kIOReturnSuccess);
    QCOMPARE(printer->resets(), 1);

    // An unknown request stalls.
    usb::ControlRequest vendor{0xC0, 0x42, 0, 0, 4, buffer.data(), 100, 100, 0};
    QCOMPARE(interface->controlRequest(0, vendor), kIOUSBPipeStalled);
  }

  void repliesArriveWholeInBothFramings_data() {
    QTest::addColumn<BulkInFraming>("framing");
    QTest::newRow("header as its own packet") << BulkInFraming::AsRequested;
    QTest::newRow("header and body in one packet") << BulkInFraming::WholePackets;
  }

  void repliesArriveWholeInBothFramings() {
    QFETCH(BulkInFraming, framing);
    std::shared_ptr<usb::virt::VirtualUsbDevice> device;
    auto printer = attach(&device, framing);
    startLibusb();
    auto interface = waitForInterface();
    QVERIFY(interface);
    QCOMPARE(interface->openSeize(), kIOReturnSuccess);

    // A short reply (one packet), then one longer than a packet: header first, then the body.
    for (const int bodySize : {20, 1000}) {
      QByteArray body(bodySize, '\0');
      for (int i = 0; i < bodySize; ++i) body[i] = char('a' + i % 26);
      printer->setReply(replyWithBody(body));
      QCOMPARE(write(*interface, "STATUS"), kIOReturnSuccess);
      QByteArray header;
      QCOMPARE(read(*interface, &header, 8), kIOReturnSuccess);
      QCOMPARE(header, QByteArray::number(bodySize).rightJustified(8, '0'));
      QByteArray received;
      QCOMPARE(read(*interface, &received, uint32_t(bodySize)), kIOReturnSuccess);
      QCOMPARE(received, body);
    }
    QCOMPARE(printer->written(), (QList<QByteArray>{"STATUS", "STATUS"}));
    QCOMPARE(bus_->countersOf(*device).overflows, 0);

    // A reply left half read is not taken for the next command's reply.
    printer->setReply(replyWithBody("first"));
    QCOMPARE(write(*interface, "ONE"), kIOReturnSuccess);
    QByteArray header;
    QCOMPARE(read(*interface, &header, 8), kIOReturnSuccess);
    printer->setReply(replyWithBody("second"));
    QCOMPARE(write(*interface, "TWO"), kIOReturnSuccess);
    QCOMPARE(read(*interface, &header, 8), kIOReturnSuccess);
    QCOMPARE(header, QByteArray("00000006"));
    QByteArray body;
    QCOMPARE(read(*interface, &body, 6), kIOReturnSuccess);
    QCOMPARE(body, QByteArray("second"));
    QCOMPARE(interface->close(), kIOReturnSuccess);
  }

  void deviceFaultsArriveAsTheKernelDeliversThem() {
    std::shared_ptr<usb::virt::VirtualUsbDevice> device;
    auto printer = attach(&device);
    startLibusb();
    auto interface = waitForInterface();
    QVERIFY(interface);
    QCOMPARE(interface->openSeize(), kIOReturnSuccess);
    QByteArray data;
    QElapsedTimer clock;

    // No reply: the read ends at its time-out, which libusb enforces by discarding the URB.
    clock.start();
    QCOMPARE(read(*interface, &data, 8, kShortTimeoutMs), kIOReturnTimeout);
    QVERIFY2(clock.elapsed() >= kShortTimeoutMs - 10 && clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(bus_->countersOf(*device).discarded, 1);

    // A reply later than the time-out times out; within it, it arrives.
    printer->setReply(replyWithBody("late"));
    printer->setLatencyMs(400);
    QCOMPARE(write(*interface, "A"), kIOReturnSuccess);
    QCOMPARE(read(*interface, &data, 8, kShortTimeoutMs), kIOReturnTimeout);
    QCOMPARE(write(*interface, "B"), kIOReturnSuccess);
    clock.restart();
    QCOMPARE(read(*interface, &data, 12, 2000), kIOReturnSuccess);
    QVERIFY(clock.elapsed() >= 390);
    QCOMPARE(data, QByteArray("00000004late"));
    printer->setLatencyMs(0);

    // A stall, cleared by the backend so that the next exchange works.
    printer->setFault(ScriptedPrinter::Fault::Stall);
    QCOMPARE(read(*interface, &data, 8), kIOUSBPipeStalled);
    printer->setFault(ScriptedPrinter::Fault::None);
    printer->setReply(replyWithBody("ok"));
    QCOMPARE(write(*interface, "C"), kIOReturnSuccess);
    QCOMPARE(read(*interface, &data, 10), kIOReturnSuccess);
    QCOMPARE(data, QByteArray("00000002ok"));

    // Unplugged while a read waits: the read ends at once, and so does every later call.
    printer->setFault(ScriptedPrinter::Fault::Silent);
    auto pending = std::async(std::launch::async, [&interface] {
      QByteArray d;
      return read(*interface, &d, 8, kLongTimeoutMs);
    });
    QTest::qWait(100);
    clock.restart();
    device->detach();
    QCOMPARE(pending.get(), kIOReturnNoDevice);
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(write(*interface, "D"), kIOReturnNoDevice);
    QCOMPARE(read(*interface, &data, 8), kIOReturnNoDevice);
    QTRY_COMPARE(terminated_.size(), 1);
    QCOMPARE(interface->close(), kIOReturnNoDevice);
  }

  void unplugDuringAWriteEndsIt() {
    std::shared_ptr<usb::virt::VirtualUsbDevice> device;
    auto printer = attach(&device);
    startLibusb();
    auto interface = waitForInterface();
    QVERIFY(interface);
    QCOMPARE(interface->openSeize(), kIOReturnSuccess);
    printer->setFault(ScriptedPrinter::Fault::UnplugOnWrite);
    QCOMPARE(write(*interface, "BYE"), kIOReturnNoDevice);
    QByteArray data;
    QCOMPARE(read(*interface, &data, 8), kIOReturnNoDevice);
    QTRY_COMPARE(terminated_.size(), 1);
  }

  void interfaceHeldByAnotherProgramIsBusyUntilFreed() {
    std::shared_ptr<usb::virt::VirtualUsbDevice> device;
    attach(&device);
    device->setHeldByOtherProgram(true);
    startLibusb();
    auto interface = waitForInterface();
    QVERIFY(interface);
    QCOMPARE(interface->openSeize(), kIOReturnExclusiveAccess);
    QCOMPARE(interface->openSeize(), kIOReturnExclusiveAccess);
    device->setHeldByOtherProgram(false);
    QCOMPARE(interface->openSeize(), kIOReturnSuccess);
    QVERIFY(device->isOpen());
    // A second interface object of the same service is refused while the first holds it.
    auto other = registry_->createInterface(matched_.first(), nullptr);
    QCOMPARE(other->openSeize(), kIOReturnExclusiveAccess);
    QCOMPARE(interface->close(), kIOReturnSuccess);
    QVERIFY(!device->isOpen());
    QCOMPARE(other->openSeize(), kIOReturnSuccess);
    QCOMPARE(other->close(), kIOReturnSuccess);
  }

  void reEnumeratedDevicesReturnAsNewServicesAtTheirLocation() {
    std::shared_ptr<usb::virt::VirtualUsbDevice> device;
    attach(&device);
    startLibusb();
    auto interface = waitForInterface();
    QVERIFY(interface);
    uint32_t before = 0;
    QCOMPARE(interface->locationID(&before), kIOReturnSuccess);

    // The host asks (a port reset, which Linux offers in place of a re-enumeration).
    QCOMPARE(interface->device()->reEnumerate(0), kIOReturnSuccess);
    QTRY_COMPARE(matched_.size(), 2);
    QCOMPARE(terminated_.size(), 1);
    QVERIFY(terminated_.first() == matched_.first());
    QVERIFY(!(matched_.last() == matched_.first()));
    auto renewed = registry_->createInterface(matched_.last(), nullptr);
    uint32_t after = 0;
    QCOMPARE(renewed->locationID(&after), kIOReturnSuccess);
    QCOMPARE(after, before);
    QCOMPARE(interface->openSeize(), kIOReturnNoDevice);
    QCOMPARE(renewed->openSeize(), kIOReturnSuccess);
    QCOMPARE(renewed->close(), kIOReturnSuccess);

    // The device restarts on its own: it leaves the bus and comes back with a new address.
    device->reEnumerate(50);
    QTRY_COMPARE(matched_.size(), 3);
    QCOMPARE(terminated_.size(), 2);
    QCOMPARE(bus_->enumerationsOf(*device), 2);
    auto restarted = registry_->createInterface(matched_.last(), nullptr);
    QCOMPARE(restarted->locationID(&after), kIOReturnSuccess);
    QCOMPARE(after, before);
    QCOMPARE(restarted->openSeize(), kIOReturnSuccess);
    QCOMPARE(restarted->close(), kIOReturnSuccess);
  }
};

QTEST_GUILESS_MAIN(LibusbBackendEmulatedTest)
#include "libusb_backend_emulated_unittest.moc"
