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
};

QTEST_GUILESS_MAIN(LibusbBackendEmulatedTest)
#include "libusb_backend_emulated_unittest.moc"
