// The USB platform seam as printer code sees it, one set of cases run against both of its
// implementations: the virtual bus, and the libusb backend, unchanged, against emulated kernel
// devices (umockdev). Discovery and departures, exclusive opens and a device another program
// holds, control requests, zero-length transfers, the faults a device or the kernel delivers, and
// re-enumeration. Each device answers from a scripted handler, so every byte and every fault is
// under the test's control. What only one side has (interest messages and the end of the bus;
// libusb's mappings and objects without a device) closes the file.

#include <QtTest>

#include <QElapsedTimer>

#include <libusb.h>

#include <future>
#include <mutex>

#include "support/BlockingCalls.h"
#include "tests/common/ScriptedDevice.h"
#include "tests/usbmock/EmulatedUsbBus.h"
#include "usb/libusb/LibusbDescriptors.h"
#include "usb/libusb/LibusbErrors.h"
#include "usb/libusb/LibusbInterest.h"
#include "usb/libusb/LibusbInterface.h"
#include "usb/libusb/LibusbLocation.h"
#include "usb/libusb/LibusbRegistry.h"
#include "usb/libusb/LibusbService.h"

using namespace usb;
using usb::virt::TransferResult;
using usb::virt::VirtualDeviceDescription;
using usb::virt::VirtualUsbDevice;

// Outside the anonymous namespace: the test class holds one.
enum class Fault { None, Silent, Stall, UnplugOnWrite };

namespace {

constexpr uint32_t kShortTimeoutMs = 150;
constexpr uint32_t kLongTimeoutMs = 3000;

VirtualDeviceDescription printerDescription(uint16_t product = 0x0017) {
  VirtualDeviceDescription d =
      pzaDescription(QStringLiteral("EMU0001"), "MFG:Maker;MDL:RM-Test;SERN:EMU0001;");
  d.productId = product;
  return d;
}

QByteArray replyWithBody(const QByteArray& body) {
  return QByteArray::number(body.size()).rightJustified(8, '0') + body;
}

IOReturn read(UsbInterface& interface, QByteArray* data, uint32_t size, uint32_t timeoutMs = kLongTimeoutMs) {
  data->fill('\0', size);
  uint32_t received = size;
  const IOReturn result = interface.readPipe(2, data->data(), &received, timeoutMs, timeoutMs);
  data->truncate(received);
  return result;
}

IOReturn write(UsbInterface& interface, const QByteArray& data, uint8_t pipe = 1) {
  return interface.writePipe(pipe, data.isNull() ? nullptr : data.constData(), uint32_t(data.size()),
                             kLongTimeoutMs, kLongTimeoutMs);
}

QByteArray control(UsbInterface& interface, uint8_t type, uint8_t request, uint16_t value, uint16_t length,
                   IOReturn* rc) {
  QByteArray buffer(length, '\0');
  ControlRequest r{type, request, value, 0, length, buffer.data(), 100, 100, 0};
  *rc = interface.controlRequest(0, r);
  return buffer.left(qsizetype(r.lengthDone));
}

// A service of an enumeration without a libusb device behind it, as left over once a device has
// gone: no call can reach hardware.
std::shared_ptr<libusb::LibusbServiceToken> detachedService(int* reEnumerationRequests = nullptr) {
  libusb::LibusbInterfaceDescription d;
  d.interfaceClass = kUSBPrintingClass;
  d.interfaceSubClass = kUSBPrintingSubClass;
  d.locationId = 0x01420000;
  d.endpoints = {{0x01, {kUSBOut, 1, kUSBBulk, 512, 0}}, {0x82, {kUSBIn, 2, kUSBBulk, 512, 0}}};
  auto enumeration =
      std::make_shared<libusb::LibusbEnumeration>(libusb::DeviceRef(), [reEnumerationRequests](auto) {
        if (reEnumerationRequests) ++*reEnumerationRequests;
      });
  return std::make_shared<libusb::LibusbServiceToken>(enumeration, d);
}

}  // namespace

class UsbSeamTest : public QObject {
  Q_OBJECT

 private:
  bool libusb_ = false;  // the row: libusb on emulated devices, or the virtual bus
  std::unique_ptr<usbmock::EmulatedUsbBus> emulated_;
  std::unique_ptr<virt::VirtualUsbBus> virtual_;
  std::unique_ptr<UsbRegistry> libusbRegistry_;  // goes before the emulated bus
  UsbRegistry* registry_ = nullptr;
  QList<ServiceHandle> matched_, terminated_;
  std::shared_ptr<VirtualUsbDevice> device_;
  std::shared_ptr<ScriptedDevice> printer_;
  // The printer's script: each bulk-out is answered with reply_ (replacing a reply not read in
  // full, as a new script does); the host reads the reply in pieces of the size it asks for;
  // vendor request 0x42 answers controlAnswer_. Guarded by scriptLock_: on libusb the device
  // answers on umockdev's thread.
  std::mutex scriptLock_;
  QByteArray reply_, pending_;
  Fault fault_ = Fault::None;
  uint32_t latencyMs_ = 0;
  TransferResult controlAnswer_ = TransferResult::ok("vendor");

  void script(const QByteArray& reply, Fault fault = Fault::None, uint32_t latencyMs = 0) {
    const std::lock_guard l(scriptLock_);
    std::tie(reply_, pending_, fault_, latencyMs_) = std::tuple(reply, QByteArray(), fault, latencyMs);
  }
  void answerControl(const TransferResult& answer) {
    const std::lock_guard l(scriptLock_);
    controlAnswer_ = answer;
  }

  std::shared_ptr<VirtualUsbDevice> attach(const VirtualDeviceDescription& d,
                                           std::shared_ptr<virt::VirtualDeviceHandler> handler,
                                           bool configured = true) {
    return libusb_ ? emulated_->attachDevice(d, std::move(handler), configured)
                   : virtual_->attach(d, std::move(handler));
  }

  void startRegistry() {
    if (libusb_) libusbRegistry_ = makeLibusbRegistry();
    registry_ = libusb_ ? libusbRegistry_.get() : static_cast<UsbRegistry*>(virtual_.get());
    registry_->addInterfaceNotifications([this](const ServiceHandle& s) { matched_.append(s); },
                                         [this](const ServiceHandle& s) { terminated_.append(s); });
  }

  // The scripted printer on the bus and the registry started; answers the printer's interface.
  std::shared_ptr<UsbInterface> startWithPrinter(bool held = false) {
    printer_ = std::make_shared<ScriptedDevice>();
    printer_->control = [this](const virt::SetupPacket& s) {
      const std::lock_guard l(scriptLock_);
      return s.bRequest == 0x42 ? std::optional(controlAnswer_) : std::nullopt;
    };
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
      if (std::exchange(fault_, fault_ == Fault::Stall ? Fault::None : fault_) == Fault::Stall)
        return TransferResult::stall();  // once: the host clears it
      if (fault_ == Fault::Silent || pending_.isEmpty()) return TransferResult::silent();
      TransferResult result = TransferResult::ok(pending_.left(maxLength));
      pending_.remove(0, result.data.size());
      result.latencyMs = latencyMs_;
      return result;
    };
    device_ = attach(printerDescription(), printer_);
    device_->setHeldByOtherProgram(held);
    startRegistry();
    if (!QTest::qWaitFor([this] { return matched_.size() == 1; }, 5000)) return nullptr;
    return registry_->createInterface(matched_.first(), nullptr);
  }

 private slots:
  void initTestCase_data() {
    QTest::addColumn<bool>("libusb");
    QTest::newRow("virtual bus") << false;
    QTest::newRow("libusb") << true;
  }
  void initTestCase() {
    // The backends alone, driven from the test thread: no application whose window could freeze.
    pm::allowBlockingCallsOnMainThread();
    QVERIFY2(usbmock::EmulatedUsbBus::preloadActive(),
             "start with LD_PRELOAD=libumockdev-preload.so.0 (ctest sets it up)");
  }
  void init() {
    QFETCH_GLOBAL(bool, libusb);
    libusb_ = libusb;
    matched_.clear();
    terminated_.clear();
    script({});
    answerControl(TransferResult::ok("vendor"));
    if (libusb_) emulated_ = std::make_unique<usbmock::EmulatedUsbBus>();
    else virtual_ = std::make_unique<virt::VirtualUsbBus>();
  }
  void cleanup() {
    device_.reset();
    libusbRegistry_.reset();
    registry_ = nullptr;
    emulated_.reset();
    virtual_.reset();
  }

  // Found at start-up, plugged in later (configured only after arrival on libusb); a device
  // without a printer interface is not reported; a departure ends that printer's service only.
  void printersPresentAndPluggedInLaterAreFound() {
    const auto first = attach(printerDescription(), std::make_shared<ScriptedDevice>());
    auto keyboard = printerDescription(0x0099);
    keyboard.interfaceClass = 3;
    attach(keyboard, std::make_shared<ScriptedDevice>());
    if (libusb_) QTRY_VERIFY(emulated_->isShown(*first));
    startRegistry();
    QCOMPARE(matched_.size(), 1);  // reported before start-up returned
    auto description = printerDescription(0x0011);
    description.interfaceSubClass = 2;  // a printer by class only: reported, told apart below
    const auto later = attach(description, std::make_shared<ScriptedDevice>());
    QTRY_COMPARE(matched_.size(), 2);
    auto interface = registry_->createInterface(matched_.last(), nullptr);
    uint8_t subClass = 0;
    uint32_t location = 0;
    QVERIFY(interface->interfaceSubClass(&subClass) == kIOReturnSuccess &&
            interface->locationID(&location) == kIOReturnSuccess);
    QCOMPARE(subClass, uint8_t{2});
    QCOMPARE(location, libusb_ ? emulated_->locationIdOf(*later) : later->locationId());

    if (libusb_) {
      // Not configured yet when it arrives (the kernel picks a configuration a moment later): its
      // printer interface is reported once it has one.
      const auto unconfigured = attach(printerDescription(0x0012), std::make_shared<ScriptedDevice>(), false);
      QTRY_VERIFY(emulated_->isShown(*unconfigured));
      QTest::qWait(300);
      QCOMPARE(matched_.size(), 2);
      emulated_->configure(*unconfigured);
      QTRY_COMPARE_WITH_TIMEOUT(matched_.size(), 3, 3000);
    }
    first->detach();
    QTRY_COMPARE(terminated_.size(), 1);
    QVERIFY(terminated_.first() == matched_.first() && registry_->isServiceAlive(matched_.last()));
  }

  // While another program holds the interface it cannot be opened (GET_DEVICE_ID still passes:
  // the fault matrix's printer busy on return, and the libusb test's attach asking 0xFFFF bytes,
  // past libusb's own limit); freed, it is ours, and one interface object at a time holds it.
  void openIsExclusiveAndControlRequests() {
    auto interface = startWithPrinter(true);
    QVERIFY(interface);
    QCOMPARE(interface->openSeize(), kIOReturnExclusiveAccess);
    QCOMPARE(interface->openSeize(), kIOReturnExclusiveAccess);
    if (libusb_) {
      // SOFT_RESET claims the interface: refused while it is held.
      ControlRequest softReset{0x21, 2, 0, 0, 0, nullptr, 100, 100, 0};
      QCOMPARE(interface->controlRequest(0, softReset), kIOReturnExclusiveAccess);
      QCOMPARE(printer_->resets(), 0);
    }
    device_->setHeldByOtherProgram(false);
    QCOMPARE(interface->openSeize(), kIOReturnSuccess);
    QVERIFY(device_->isOpen());

    // A second interface object of the same service is refused while the first holds it, and its
    // pipes need the interface open through it; the first one's close, or letting go of the
    // object, gives the claim up.
    auto other = registry_->createInterface(matched_.first(), nullptr);
    char buffer[4];
    uint32_t size = sizeof buffer;
    if (!libusb_) QCOMPARE(other->close(), kIOReturnError);
    QCOMPARE((std::array{other->openSeize(), other->readPipe(2, buffer, &size, 10, 10)}),
             (std::array{kIOReturnExclusiveAccess, kIOReturnError}));
    QCOMPARE(interface->close(), kIOReturnSuccess);
    QVERIFY(!device_->isOpen());
    QCOMPARE(other->openSeize(), kIOReturnSuccess);
    other.reset();
    QTRY_VERIFY(!device_->isOpen());
    QCOMPARE(interface->openSeize(), kIOReturnSuccess);

    // Control requests: the bus's own answers (a string, GET_DEVICE_ID) truncated to the request,
    // the handler's precedence and its data, stalls and the resets; then zero-length bulk
    // transfers.
    IOReturn rc = kIOReturnError;
    QCOMPARE(control(*interface, 0x80, 6, 0x0301, 4, &rc), QByteArray("\x24\x03V\0", 4));
    const QByteArray deviceId = printerDescription().deviceId1284;
    QCOMPARE(control(*interface, 0xA1, 0, 0, 5, &rc),
             QByteArray(1, '\0') + char(deviceId.size() + 2) + "MFG");
    QCOMPARE(control(*interface, 0xC0, 0x42, 0, 3, &rc), QByteArray("ven"));
    control(*interface, 0x80, 6, 0x0100, 18, &rc);  // descriptors the bus does not describe stall
    QCOMPARE(rc, kIOUSBPipeStalled);
    if (!libusb_) {  // the handler's failure as it gave it, and the port reset reaching it
      answerControl(TransferResult::failure(kIOReturnNotResponding));
      control(*interface, 0xC0, 0x42, 0, 3, &rc);
      QVERIFY(rc == kIOReturnNotResponding && interface->device()->resetDevice() == kIOReturnSuccess);
    }
    control(*interface, 0x21, 2, 0, 0, &rc);  // SOFT_RESET in both forms reach the handler
    control(*interface, 0x23, 2, 0, 0, &rc);
    QTRY_COMPARE(printer_->resets(), libusb_ ? 2 : 3);
    char payload[3] = {1, 2, 3};
    ControlRequest out{0x41, 0x42, 0, 0, 3, payload, 100, 100, 0};
    answerControl(TransferResult::ok());
    QVERIFY(interface->controlRequest(0, out) == kIOReturnSuccess && out.lengthDone == 3);
    QCOMPARE(printer_->lastControlData(), QByteArray("\1\2\3"));

    // Zero-length transfers: a read completes at once, a write is still one.
    // (A reply split across reads, in either framing, is the printers' own: every attach and
    // update reads its header and body apart, through libusb with whole packets too.)
    QByteArray data;
    QVERIFY(read(*interface, &data, 0) == kIOReturnSuccess && data.isEmpty());
    QCOMPARE(write(*interface, QByteArray()), kIOReturnSuccess);
    QCOMPARE(printer_->written(), QByteArrayList{QByteArray()});
  }

  void deviceFaultsArriveAsTheKernelDeliversThem() {
    auto interface = startWithPrinter();
    QVERIFY(interface);
    QCOMPARE(interface->openSeize(), kIOReturnSuccess);
    QByteArray data;
    QElapsedTimer clock;

    // No reply: the read ends at its time-out (libusb enforces it by discarding the URB).
    clock.start();
    QCOMPARE(read(*interface, &data, 8, kShortTimeoutMs), kIOReturnTimeout);
    QVERIFY2(clock.elapsed() >= kShortTimeoutMs - 10 && clock.elapsed() < 1000,
             qPrintable(QString::number(clock.elapsed())));

    // A reply later than the time-out times out (the virtual bus ends it at the shorter of its two
    // time-outs, libusb at the longer) and is kept, not lost: a later read gets it when it comes,
    // and once it has come it is there without waiting.
    script(replyWithBody("late"), Fault::None, 400);
    QCOMPARE(write(*interface, "A"), kIOReturnSuccess);
    char header[8];
    uint32_t size = sizeof header;
    clock.restart();
    QCOMPARE(interface->readPipe(2, header, &size, kShortTimeoutMs, libusb_ ? kShortTimeoutMs : 2000),
             kIOReturnTimeout);
    QVERIFY(clock.elapsed() < 390);
    size = sizeof header;
    QVERIFY(interface->readArrived(2, header, &size) == kIOReturnSuccess && size == 0);
    QCOMPARE(read(*interface, &data, 8, 2000), kIOReturnSuccess);
    QVERIFY(clock.elapsed() >= 390);
    QCOMPARE(data, QByteArray("00000004"));
    script({});
    size = sizeof header;  // what came with it (libusb: the whole packet) is dropped
    QCOMPARE(interface->readArrived(2, header, &size), kIOReturnSuccess);

    // A stall, cleared so that the next exchange works; a write to an IN pipe is refused.
    script({}, Fault::Stall);
    QCOMPARE(read(*interface, &data, 8), kIOUSBPipeStalled);
    script(replyWithBody("ok"));
    QCOMPARE(write(*interface, "C"), kIOReturnSuccess);
    QCOMPARE(read(*interface, &data, 10), kIOReturnSuccess);
    QCOMPARE(data, QByteArray("00000002ok"));
    QVERIFY(write(*interface, "x", 2) != kIOReturnSuccess);

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

  // Asked by the host (a port reset, which Linux offers in place of a re-enumeration), the device
  // comes back as a new service. (A device restarting on its own does so, at its location, twice
  // in every update.) Unplugged by a write, it ends that write.
  void reEnumeratedDevicesReturnAsNewServices() {
    auto interface = startWithPrinter();
    QVERIFY(interface);
    QCOMPARE(interface->device()->reEnumerate(0), kIOReturnSuccess);
    QTRY_COMPARE(matched_.size(), 2);
    QVERIFY(terminated_.size() == 1 && terminated_.first() == matched_.first());
    auto renewed = registry_->createInterface(matched_.last(), nullptr);
    QCOMPARE(interface->openSeize(), kIOReturnNoDevice);
    QCOMPARE(renewed->openSeize(), kIOReturnSuccess);
    script({}, Fault::UnplugOnWrite);
    QCOMPARE(write(*renewed, "BYE"), kIOReturnNoDevice);
    QTRY_COMPARE(terminated_.size(), 2);
  }

  // ---- The virtual bus only --------------------------------------------------------------------

  // Interest messages reach live registrations only; the bus's end wakes a transfer in flight.
  void interestMessagesAndTheEndOfTheBus() {
    if (libusb_) QSKIP("the virtual bus's");
    auto interface = startWithPrinter();
    QVERIFY(interface && interface->openSeize() == kIOReturnSuccess);
    int argument = 7;
    QList<std::pair<uint32_t, void*>> first;
    int secondCalls = 0;
    std::unique_ptr<InterestRegistration> second;
    auto one = virtual_->addInterestNotification(
        device_->service(),
        [&](const ServiceHandle&, uint32_t type, void* arg) {
          first.append({type, arg});
          second.reset();  // ending another registration from inside a delivery is safe
        },
        nullptr);
    second = virtual_->addInterestNotification(
        device_->service(), [&](const ServiceHandle&, uint32_t, void*) { ++secondCalls; }, nullptr);
    device_->sendInterestMessage(kIOMessageServiceIsAttemptingOpen, &argument);
    QVERIFY(first.isEmpty());  // from the event loop only
    QTRY_COMPARE(first, (QList<std::pair<uint32_t, void*>>{{kIOMessageServiceIsAttemptingOpen, &argument}}));
    QCOMPARE(secondCalls, 0);
    one.reset();
    device_->sendInterestMessage(kIOMessageServiceWasClosed);
    QTest::qWait(20);
    QCOMPARE(first.size(), 1);

    const auto other = attach(printerDescription(0x0018), std::make_shared<ScriptedDevice>());
    QTRY_COMPARE(matched_.size(), 2);
    auto pending = std::async(std::launch::async, [&interface] {
      uint32_t size = 8;
      char data[8];
      return interface->readPipe(2, data, &size, 0, 0);  // a silent device and no time-out
    });
    QTRY_COMPARE(printer_->reads(), 1);
    other->detach();  // its notifications are still queued when the bus goes
    virtual_.reset();
    QCOMPARE(pending.get(), kIOReturnNoDevice);
    uint8_t value = 0;
    QVERIFY(!device_->isAttached() && interface->interfaceClass(&value) == kIOReturnNoDevice);
    device_->attach();  // a device cannot come back to a bus that has gone
    QVERIFY(!device_->isAttached());
    QTest::qWait(10);
    QVERIFY(terminated_.isEmpty());  // nothing after the bus went
  }

  // ---- libusb only -----------------------------------------------------------------------------

  // libusb's mappings onto the seam; each registry in a row starts, finds nothing and stops
  // promptly; without libusb it reports nothing and answers every call. Its objects without a
  // device answer without reaching hardware.
  void libusbMappingsAndObjectsWithoutDevices() {
    if (!libusb_) QSKIP("libusb's");
    // Busy, time-out, no device and stall arrive from the emulated devices above.
    const std::pair<int, IOReturn> errors[] = {{64, kIOReturnSuccess} /* a byte count */,
                                               {LIBUSB_ERROR_ACCESS, kIOReturnNotPrivileged},
                                               {LIBUSB_ERROR_IO, kIOReturnError} /* and all others */};
    for (const auto& [code, expected] : errors) QCOMPARE(libusb::ioReturnFromLibusb(code), expected);
    // One libusb time-out per transfer: the longer limit, none when neither is set.
    QCOMPARE((std::array{libusb::libusbTimeoutMs(100, 300), libusb::libusbTimeoutMs(100, 0),
                         libusb::libusbTimeoutMs(0, 0)}),
             (std::array{300u, 100u, 0u}));
    // A nibble per port, at most six levels, ports past 15 saturate.
    const std::tuple<uint8_t, std::vector<uint8_t>, uint32_t> locations[] = {
        {1, {4, 2}, 0x01420000u},
        {3, {}, 0x03000000u},
        {0xFE, {1, 2, 3, 4, 5, 6}, 0xFE123456u},
        {2, {1, 2, 3, 4, 5, 6, 7}, 0x02123456u},
        {1, {16, 20}, 0x01FF0000u}};
    for (const auto& [bus, ports, expected] : locations)
      QCOMPARE(libusb::locationIdFromPortPath(bus, ports), expected);
    libusb_endpoint_descriptor endpoint{};
    endpoint.bEndpointAddress = 0x0F;
    endpoint.bmAttributes = 0x0F;  // interrupt, with synchronisation bits that must not leak in
    endpoint.bInterval = 4;
    const PipeProperties interrupt = libusb::pipePropertiesOf(endpoint);
    QCOMPARE((std::tuple{interrupt.direction, interrupt.number, interrupt.transferType, interrupt.interval}),
             (std::tuple{uint8_t(kUSBOut), uint8_t(15), uint8_t(kUSBInterrupt), uint8_t(4)}));

    for (int round = 0; round < 2; ++round) {
      auto registry = makeLibusbRegistry();
      int calls = 0;
      for (int twice = 0; twice < 2; ++twice)
        registry->addInterfaceNotifications([&](const ServiceHandle&) { ++calls; },
                                            [&](const ServiceHandle&) { ++calls; });
      QTest::qWait(150);
      QCOMPARE(calls, 0);
      QElapsedTimer stopping;
      stopping.start();
      registry.reset();
      QVERIFY2(stopping.elapsed() < 1000, qPrintable(QString::number(stopping.elapsed())));
    }
    libusb::LibusbRegistry registry(nullptr);
    int matched = 0;
    registry.addInterfaceNotifications([&](const ServiceHandle&) { ++matched; }, {});
    QTest::qWait(20);
    QCOMPARE(matched, 0);
    for (const ServiceHandle& service :
         {ServiceHandle(), ServiceHandle(std::make_shared<ServiceHandle::Token>())}) {
      IOReturn result = kIOReturnSuccess;
      QVERIFY(!registry.createInterface(service, &result) && result == kIOReturnBadArgument);
      QVERIFY(!registry.addInterestNotification(service, {}, &result) && !registry.isServiceAlive(service));
    }

    int reEnumerationRequests = 0;
    const auto service = detachedService(&reEnumerationRequests);
    const ServiceHandle handle(service);
    IOReturn result = kIOReturnError;
    const auto interface = registry.createInterface(handle, &result);
    QVERIFY(interface);
    PipeProperties pipe;
    QVERIFY(interface->pipeProperties(2, &pipe) == kIOReturnSuccess && pipe.number == 2);  // descriptor order
    // Pipes need the interface open; a read of nothing needs no transfer at all; no device to reset.
    char byte = 0;
    uint32_t size = 1, none = 0;
    ControlRequest request;
    const auto device = interface->device();
    QCOMPARE(
        (std::array{interface->pipeProperties(0, &pipe), interface->pipeProperties(3, &pipe),
                    interface->readPipe(2, &byte, &size, 5000, 5000),
                    interface->readPipe(2, &byte, &none, 5000, 5000), interface->controlRequest(1, request),
                    interface->openSeize(), device->reEnumerate(0)}),
        (std::array{kIOReturnBadArgument, kIOReturnBadArgument, kIOReturnError, kIOReturnSuccess,
                    kIOReturnBadArgument, kIOReturnNoDevice, kIOReturnNoDevice}));
    service->enumeration->markTerminated();
    uint32_t location = 0;
    QVERIFY(!registry.createInterface(handle, &result) && !interface->device());
    QCOMPARE((std::array{result, interface->locationID(&location), interface->controlRequest(0, request),
                         device->resetDevice()}),
             (std::array{kIOReturnNoDevice, kIOReturnNoDevice, kIOReturnNoDevice, kIOReturnNoDevice}));
    QCOMPARE(reEnumerationRequests, 0);

    // Interest registrations end with their object and may outlive their table.
    auto table = std::make_shared<libusb::LibusbInterestTable>();
    const ServiceHandle first(detachedService()), second(detachedService());
    int calls = 0;
    auto a = table->add(first, [&](const ServiceHandle&, uint32_t, void*) { ++calls; });
    auto b = table->add(first, [&](const ServiceHandle&, uint32_t, void*) { calls += 10; });
    auto c = table->add(second, [&](const ServiceHandle&, uint32_t, void*) { calls += 100; });
    for (const auto& callback : table->callbacksFor(first)) callback(first, 0, nullptr);
    QCOMPARE(calls, 11);
    a.reset();
    c.reset();
    QCOMPARE((std::array{table->callbacksFor(first).size(), table->callbacksFor(second).size()}),
             (std::array<size_t, 2>{1, 0}));
    auto orphan = table->add(second, {});
    table.reset();
    orphan.reset();
  }
};

QTEST_GUILESS_MAIN(UsbSeamTest)
#include "usb_seam_unittest.moc"
