// The libusb backend without USB devices: the mappings onto the seam's values, start and stop,
// a registry without libusb, and objects of an enumeration that has no device behind it.
// Transfers, hot-plug and unplugs run against emulated devices in tests/usbmock.

#include <QtTest>

#include <QElapsedTimer>

#include <libusb.h>

#include "support/BlockingCalls.h"
#include "usb/libusb/LibusbDescriptors.h"
#include "usb/libusb/LibusbErrors.h"
#include "usb/libusb/LibusbInterest.h"
#include "usb/libusb/LibusbInterface.h"
#include "usb/libusb/LibusbLocation.h"
#include "usb/libusb/LibusbRegistry.h"
#include "usb/libusb/LibusbService.h"

using namespace usb;
using namespace usb::libusb;

namespace {

// A service of an enumeration without a libusb device behind it, as left over once a device has
// gone: no call can reach hardware.
std::shared_ptr<LibusbServiceToken> detachedService(int* reEnumerationRequests = nullptr) {
  LibusbInterfaceDescription d;
  d.interfaceClass = kUSBPrintingClass;
  d.interfaceSubClass = kUSBPrintingSubClass;
  d.locationId = 0x01420000;
  d.endpoints = {{0x01, {kUSBOut, 1, kUSBBulk, 512, 0}}, {0x82, {kUSBIn, 2, kUSBBulk, 512, 0}}};
  auto enumeration = std::make_shared<LibusbEnumeration>(DeviceRef(), [reEnumerationRequests](auto) {
    if (reEnumerationRequests) ++*reEnumerationRequests;
  });
  return std::make_shared<LibusbServiceToken>(enumeration, d);
}

}  // namespace

class LibusbBackendTest : public QObject {
  Q_OBJECT

 private slots:
  // The backend alone, driven from the test thread: no application whose window could freeze.
  void initTestCase() { pm::allowBlockingCallsOnMainThread(); }

  void mappingsOntoTheSeam() {
    // Busy, time-out, no device and stall arrive from emulated devices in tests/usbmock.
    const std::pair<int, IOReturn> errors[] = {{64, kIOReturnSuccess} /* a byte count */,
                                               {LIBUSB_ERROR_ACCESS, kIOReturnNotPrivileged},
                                               {LIBUSB_ERROR_OVERFLOW, kIOReturnError},
                                               {LIBUSB_ERROR_IO, kIOReturnError},
                                               {-1000, kIOReturnError}};
    for (const auto& [code, expected] : errors) QCOMPARE(ioReturnFromLibusb(code), expected);

    // One libusb time-out per transfer: the longer limit, none when neither is set.
    QCOMPARE((std::array{libusbTimeoutMs(100, 300), libusbTimeoutMs(100, 0), libusbTimeoutMs(0, 0)}),
             (std::array{300u, 100u, 0u}));

    // A nibble per port, at most six levels, ports past 15 saturate.
    const std::tuple<uint8_t, std::vector<uint8_t>, uint32_t> locations[] = {
        {1, {4, 2}, 0x01420000u},
        {3, {}, 0x03000000u},
        {0xFE, {1, 2, 3, 4, 5, 6}, 0xFE123456u},
        {2, {1, 2, 3, 4, 5, 6, 7}, 0x02123456u},
        {1, {16, 20}, 0x01FF0000u}};
    for (const auto& [bus, ports, expected] : locations)
      QCOMPARE(locationIdFromPortPath(bus, ports), expected);

    libusb_endpoint_descriptor endpoint{};
    endpoint.bEndpointAddress = 0x0F;
    endpoint.bmAttributes = 0x0F;  // interrupt, with synchronisation bits that must not leak in
    endpoint.bInterval = 4;
    const PipeProperties pipe = pipePropertiesOf(endpoint);
    QCOMPARE((std::tuple{pipe.direction, pipe.number, pipe.transferType, pipe.interval}),
             (std::tuple{uint8_t(kUSBOut), uint8_t(15), uint8_t(kUSBInterrupt), uint8_t(4)}));
  }

  // Each registry in a row starts, finds nothing and stops promptly.
  void startsAndStopsWithoutDevices() {
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
  }

  void withoutLibusbReportsNothingAndAnswersEveryCall() {
    LibusbRegistry registry(nullptr);
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
  }

  void objectsWithoutADeviceAnswerWithoutReachingHardware() {
    int reEnumerationRequests = 0;
    const auto service = detachedService(&reEnumerationRequests);
    LibusbRegistry registry(nullptr);
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
  }

  void interestRegistrationsEndWithTheirObject() {
    auto table = std::make_shared<LibusbInterestTable>();
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
    // A registration may outlive its table (a printer let go after the registry).
    auto orphan = table->add(second, {});
    table.reset();
    orphan.reset();
  }
};

QTEST_GUILESS_MAIN(LibusbBackendTest)
#include "libusb_backend_unittest.moc"
