// The libusb backend without USB devices: the mappings onto the seam's values, start and stop,
// a registry without libusb, and objects of an enumeration that has no device behind it.
// Transfers, hot-plug and unplugs run against emulated devices in tests/usbmock.

#include <QtTest>

#include <QElapsedTimer>
#include <QFileInfo>

#include <libusb.h>

#include "tests/common/LogCapture.h"
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
  void mappingsOntoTheSeam() {
    const std::pair<int, IOReturn> errors[] = {
        {LIBUSB_SUCCESS, kIOReturnSuccess}, {64, kIOReturnSuccess},  // a byte count
        {LIBUSB_ERROR_BUSY, kIOReturnExclusiveAccess}, {LIBUSB_ERROR_TIMEOUT, kIOReturnTimeout},
        {LIBUSB_ERROR_NO_DEVICE, kIOReturnNoDevice}, {LIBUSB_ERROR_PIPE, kIOUSBPipeStalled},
        {LIBUSB_ERROR_ACCESS, kIOReturnNotPrivileged}, {LIBUSB_ERROR_OVERFLOW, kIOReturnError},
        {LIBUSB_ERROR_IO, kIOReturnError}, {-1000, kIOReturnError}};
    for (const auto& [code, expected] : errors) QCOMPARE(ioReturnFromLibusb(code), expected);

    // One libusb time-out per transfer: the longer limit, none when neither is set.
    QCOMPARE(libusbTimeoutMs(100, 300), 300u);
    QCOMPARE(libusbTimeoutMs(100, 0), 100u);
    QCOMPARE(libusbTimeoutMs(0, 0), 0u);

    // A nibble per port, at most six levels, ports past 15 saturate.
    const std::tuple<uint8_t, std::vector<uint8_t>, uint32_t> locations[] = {
        {1, {4, 2}, 0x01420000u}, {3, {}, 0x03000000u}, {0xFE, {1, 2, 3, 4, 5, 6}, 0xFE123456u},
        {2, {1, 2, 3, 4, 5, 6, 7}, 0x02123456u}, {1, {16, 20}, 0x01FF0000u}};
    for (const auto& [bus, ports, expected] : locations) QCOMPARE(locationIdFromPortPath(bus, ports), expected);

    libusb_endpoint_descriptor endpoint{};
    endpoint.bEndpointAddress = 0x0F;
    endpoint.bmAttributes = 0x0F;  // interrupt, with synchronisation bits that must not leak in
    endpoint.bInterval = 4;
    const PipeProperties pipe = pipePropertiesOf(endpoint);
    QCOMPARE((std::tuple{pipe.direction, pipe.number, pipe.transferType, pipe.interval}),
             (std::tuple{uint8_t(kUSBOut), uint8_t(15), uint8_t(kUSBInterrupt), uint8_t(4)}));
  }

  // Each registry in a row starts, finds nothing, logs its reasons once and stops promptly.
  void startsAndStopsWithoutDevices() {
    const bool noDeviceDirectory = !QFileInfo::exists(QStringLiteral("/dev/bus/usb"));
    for (int round = 0; round < 2; ++round) {
      LogCapture log;
      auto registry = makeLibusbRegistry();
      int calls = 0;
      for (int twice = 0; twice < 2; ++twice)
        registry->addInterfaceNotifications([&](const ServiceHandle&) { ++calls; }, [&](const ServiceHandle&) { ++calls; });
      QTest::qWait(150);
      QCOMPARE(calls, 0);
      if (noDeviceDirectory) QCOMPARE(log.count(QStringLiteral("/dev/bus/usb does not exist")), 1);
      QVERIFY(log.count(QStringLiteral("no USB devices present")) <= 1);
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
    for (const ServiceHandle& service : {ServiceHandle(), ServiceHandle(std::make_shared<ServiceHandle::Token>())}) {
      IOReturn result = kIOReturnSuccess;
      QVERIFY(!registry.createInterface(service, &result));
      QCOMPARE(result, kIOReturnBadArgument);
      QVERIFY(!registry.addInterestNotification(service, {}, &result));
      QVERIFY(!registry.isServiceAlive(service));
      uint32_t busy = 7;
      QCOMPARE(registry.busyState(service, &busy), kIOReturnNoDevice);
      QCOMPARE(busy, 0u);
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
    QCOMPARE(interface->pipeProperties(2, &pipe), kIOReturnSuccess);  // descriptor order
    QCOMPARE(pipe.number, uint8_t{2});
    QCOMPARE(interface->pipeProperties(0, &pipe), kIOReturnBadArgument);
    QCOMPARE(interface->pipeProperties(3, &pipe), kIOReturnBadArgument);
    // Pipes need the interface open; a read of nothing needs no transfer at all.
    char byte = 0;
    uint32_t size = 1;
    QCOMPARE(interface->readPipe(2, &byte, &size, 5000, 5000), kIOReturnError);
    size = 0;
    QCOMPARE(interface->readPipe(2, &byte, &size, 5000, 5000), kIOReturnSuccess);
    ControlRequest request;
    QCOMPARE(interface->controlRequest(1, request), kIOReturnBadArgument);
    const auto device = interface->device();
    QCOMPARE(interface->openSeize(), kIOReturnNoDevice);
    QCOMPARE(device->reEnumerate(0), kIOReturnNoDevice);  // no device to reset

    service->enumeration->markTerminated();
    QVERIFY(!registry.createInterface(handle, &result));
    QCOMPARE(result, kIOReturnNoDevice);
    uint32_t location = 0;
    QCOMPARE(interface->locationID(&location), kIOReturnNoDevice);
    QCOMPARE(interface->controlRequest(0, request), kIOReturnNoDevice);
    QCOMPARE(device->resetDevice(), kIOReturnNoDevice);
    QVERIFY(!interface->device());
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
    QCOMPARE(table->callbacksFor(first).size(), size_t{1});
    c.reset();
    QCOMPARE(table->callbacksFor(second).size(), size_t{0});
    // A registration may outlive its table (a printer let go after the registry).
    auto orphan = table->add(second, {});
    table.reset();
    orphan.reset();
  }
};

QTEST_GUILESS_MAIN(LibusbBackendTest)
#include "libusb_backend_unittest.moc"
