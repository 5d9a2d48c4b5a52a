// The libusb backend on a machine without USB devices: start and stop, the mappings onto the
// seam's values, and the interface and device objects' answers for a service that has ended.
// Transfers against an emulated device are covered by the end-to-end tests.

#include <QtTest>

#include <QElapsedTimer>
#include <QFileInfo>

#include <libusb.h>

#include "tests/common/LogCapture.h"
#include "usb/libusb/LibusbDescriptors.h"
#include "usb/libusb/LibusbDevice.h"
#include "usb/libusb/LibusbErrors.h"
#include "usb/libusb/LibusbInterest.h"
#include "usb/libusb/LibusbInterface.h"
#include "usb/libusb/LibusbLocation.h"
#include "usb/libusb/LibusbRegistry.h"
#include "usb/libusb/LibusbService.h"

using namespace usb;
using namespace usb::libusb;

namespace {

std::vector<uint8_t> ports(std::initializer_list<uint8_t> list) { return list; }

// A service of an enumeration without a libusb device behind it, as left over once a device has
// gone: no call can reach hardware.
std::shared_ptr<LibusbServiceToken> detachedService(int* reEnumerationRequests = nullptr) {
  LibusbInterfaceDescription d;
  d.interfaceNumber = 1;
  d.interfaceClass = kUSBPrintingClass;
  d.interfaceSubClass = kUSBPrintingSubClass;
  d.vendorId = 0x2B3C;
  d.productId = 0x0017;
  d.locationId = 0x01420000;
  d.configurationValue = 1;
  d.manufacturerStringIndex = 1;
  d.productStringIndex = 2;
  d.serialNumberStringIndex = 3;
  d.endpoints = {{0x01, {kUSBOut, 1, kUSBBulk, 512, 0}},
                 {0x83, {kUSBIn, 3, kUSBInterrupt, 8, 10}},
                 {0x82, {kUSBIn, 2, kUSBBulk, 512, 0}}};
  auto enumeration = std::make_shared<LibusbEnumeration>(
      DeviceRef(), [reEnumerationRequests](std::shared_ptr<LibusbEnumeration>) {
        if (reEnumerationRequests != nullptr) ++*reEnumerationRequests;
      });
  return std::make_shared<LibusbServiceToken>(enumeration, d);
}

}  // namespace

class LibusbBackendTest : public QObject {
  Q_OBJECT

 private slots:
  void errorsMapOntoIOReturn() {
    QCOMPARE(ioReturnFromLibusb(LIBUSB_SUCCESS), kIOReturnSuccess);
    QCOMPARE(ioReturnFromLibusb(64), kIOReturnSuccess);  // a byte count
    QCOMPARE(ioReturnFromLibusb(LIBUSB_ERROR_BUSY), kIOReturnExclusiveAccess);
    QCOMPARE(ioReturnFromLibusb(LIBUSB_ERROR_TIMEOUT), kIOReturnTimeout);
    QCOMPARE(ioReturnFromLibusb(LIBUSB_ERROR_NO_DEVICE), kIOReturnNoDevice);
    QCOMPARE(ioReturnFromLibusb(LIBUSB_ERROR_PIPE), kIOUSBPipeStalled);
    QCOMPARE(ioReturnFromLibusb(LIBUSB_ERROR_ACCESS), kIOReturnNotPrivileged);
    for (const int other : std::initializer_list<int>{LIBUSB_ERROR_IO, LIBUSB_ERROR_INVALID_PARAM, LIBUSB_ERROR_NOT_FOUND,
                            LIBUSB_ERROR_OVERFLOW, LIBUSB_ERROR_INTERRUPTED, LIBUSB_ERROR_NO_MEM,
                            LIBUSB_ERROR_NOT_SUPPORTED, LIBUSB_ERROR_OTHER, -1000}) {
      QCOMPARE(ioReturnFromLibusb(other), kIOReturnError);
    }
  }

  void transfersKeepALimitWhenOneIsGiven() {
    QCOMPARE(libusbTimeoutMs(5000, 5000), 5000u);
    QCOMPARE(libusbTimeoutMs(100, 300), 300u);
    QCOMPARE(libusbTimeoutMs(100, 0), 100u);  // completion unlimited, no-data bounded
    QCOMPARE(libusbTimeoutMs(0, 0), 0u);
  }

  void locationIdsFollowBusAndPortPath() {
    QCOMPARE(locationIdFromPortPath(1, ports({4, 2})), 0x01420000u);
    QCOMPARE(locationIdFromPortPath(3, {}), 0x03000000u);
    QCOMPARE(locationIdFromPortPath(0xFE, ports({1, 2, 3, 4, 5, 6})), 0xFE123456u);
    QCOMPARE(locationIdFromPortPath(2, ports({1, 2, 3, 4, 5, 6, 7})), 0x02123456u);
    QCOMPARE(locationIdFromPortPath(1, ports({16, 20})), 0x01FF0000u);
    // The same port on another bus is another location.
    QVERIFY(locationIdFromPortPath(1, ports({3})) != locationIdFromPortPath(2, ports({3})));
  }

  void pipePropertiesComeFromEndpointDescriptors() {
    libusb_endpoint_descriptor in{};
    in.bEndpointAddress = 0x82;
    in.bmAttributes = 0x02;
    in.wMaxPacketSize = 512;
    const PipeProperties bulkIn = pipePropertiesOf(in);
    QCOMPARE(bulkIn.direction, kUSBIn);
    QCOMPARE(bulkIn.number, uint8_t{2});
    QCOMPARE(bulkIn.transferType, kUSBBulk);
    QCOMPARE(bulkIn.maxPacketSize, uint16_t{512});

    libusb_endpoint_descriptor out{};
    out.bEndpointAddress = 0x0F;
    out.bmAttributes = 0x0F;  // interrupt, with synchronisation bits that must not leak in
    out.bInterval = 4;
    const PipeProperties interruptOut = pipePropertiesOf(out);
    QCOMPARE(interruptOut.direction, kUSBOut);
    QCOMPARE(interruptOut.number, uint8_t{15});
    QCOMPARE(interruptOut.transferType, kUSBInterrupt);
    QCOMPARE(interruptOut.interval, uint8_t{4});
  }

  // Several registries in a row: each starts, finds nothing now or later, logs its reasons once
  // and stops promptly (the event thread joins).
  void startsAndStopsWithoutDevices() {
    const bool noDeviceDirectory = !QFileInfo::exists(QStringLiteral("/dev/bus/usb"));
    for (int round = 0; round < 4; ++round) {
      LogCapture log;
      auto registry = makeLibusbRegistry();
      int matched = 0;
      int terminated = 0;
      registry->addInterfaceNotifications([&](const ServiceHandle&) { ++matched; },
                                          [&](const ServiceHandle&) { ++terminated; });
      registry->addInterfaceNotifications([&](const ServiceHandle&) { ++matched; },
                                          [&](const ServiceHandle&) { ++terminated; });
      QTest::qWait(150);
      QCOMPARE(matched, 0);
      QCOMPARE(terminated, 0);
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

    for (const ServiceHandle& service :
         {ServiceHandle(), ServiceHandle(std::make_shared<ServiceHandle::Token>())}) {
      IOReturn result = kIOReturnSuccess;
      QVERIFY(!registry.createInterface(service, &result));
      QCOMPARE(result, kIOReturnBadArgument);
      QVERIFY(!registry.addInterestNotification(service, {}, &result));
      QCOMPARE(result, kIOReturnBadArgument);
      QVERIFY(!registry.isServiceAlive(service));
      QVERIFY(registry.className(service).isEmpty());
      uint32_t busy = 7;
      QCOMPARE(registry.busyState(service, &busy), kIOReturnNoDevice);
      QCOMPARE(busy, 0u);
    }
  }

  void interfaceAnswersFromItsDescriptorsUntilTheServiceEnds() {
    const auto service = detachedService();
    LibusbRegistry registry(nullptr);
    const ServiceHandle handle(service);
    QCOMPARE(registry.className(handle), QStringLiteral("IOUSBInterface"));
    QCOMPARE(registry.waitQuiet(handle, 30000), kIOReturnSuccess);

    IOReturn result = kIOReturnError;
    const auto interface = registry.createInterface(handle, &result);
    QCOMPARE(result, kIOReturnSuccess);
    QVERIFY(interface);
    uint32_t location = 0;
    QCOMPARE(interface->locationID(&location), kIOReturnSuccess);
    QCOMPARE(location, 0x01420000u);
    uint8_t count = 0;
    QCOMPARE(interface->numEndpoints(&count), kIOReturnSuccess);
    QCOMPARE(count, uint8_t{3});
    PipeProperties pipe;
    QCOMPARE(interface->pipeProperties(3, &pipe), kIOReturnSuccess);  // descriptor order
    QCOMPARE(pipe.number, uint8_t{2});
    QCOMPARE(pipe.direction, kUSBIn);
    QCOMPARE(interface->pipeProperties(0, &pipe), kIOReturnBadArgument);
    QCOMPARE(interface->pipeProperties(4, &pipe), kIOReturnBadArgument);

    // Pipes need the interface open; a read of nothing needs no transfer at all.
    char byte = 0;
    uint32_t size = 1;
    QCOMPARE(interface->readPipe(3, &byte, &size, 5000, 5000), kIOReturnError);
    QCOMPARE(interface->writePipe(1, &byte, 1, 5000, 5000), kIOReturnError);
    size = 0;
    QCOMPARE(interface->readPipe(3, &byte, &size, 5000, 5000), kIOReturnSuccess);
    QCOMPARE(size, 0u);
    ControlRequest request;
    QCOMPARE(interface->controlRequest(1, request), kIOReturnBadArgument);

    const auto device = interface->device();
    QVERIFY(device);
    uint8_t index = 0;
    QCOMPARE(device->serialNumberStringIndex(&index), kIOReturnSuccess);
    QCOMPARE(index, uint8_t{3});

    // No libusb device behind it: opening fails as for an unplugged device.
    QCOMPARE(interface->openSeize(), kIOReturnNoDevice);
    QCOMPARE(device->open(), kIOReturnNoDevice);

    service->enumeration->markTerminated();
    QVERIFY(!registry.isServiceAlive(handle));
    QVERIFY(!registry.createInterface(handle, &result));
    QCOMPARE(result, kIOReturnNoDevice);
    QVERIFY(!registry.addInterestNotification(handle, {}, &result));
    QCOMPARE(result, kIOReturnNoDevice);
    QCOMPARE(interface->locationID(&location), kIOReturnNoDevice);
    QCOMPARE(interface->numEndpoints(&count), kIOReturnNoDevice);
    QCOMPARE(interface->openSeize(), kIOReturnNoDevice);
    size = 0;
    QCOMPARE(interface->readPipe(3, &byte, &size, 5000, 5000), kIOReturnNoDevice);
    QCOMPARE(interface->controlRequest(0, request), kIOReturnNoDevice);
    QCOMPARE(device->productStringIndex(&index), kIOReturnNoDevice);
    QCOMPARE(device->resetDevice(), kIOReturnNoDevice);
    QVERIFY(!interface->device());
  }

  void reEnumerationOfAnEndedServiceAsksForNothing() {
    int requests = 0;
    const auto service = detachedService(&requests);
    LibusbDevice device(service->enumeration, service->description);
    QCOMPARE(device.reEnumerate(0), kIOReturnNoDevice);  // no device to reset
    service->enumeration->markTerminated();
    QCOMPARE(device.reEnumerate(0), kIOReturnNoDevice);
    QCOMPARE(requests, 0);
  }

  void interestRegistrationsEndWithTheirObject() {
    auto table = std::make_shared<LibusbInterestTable>();
    const ServiceHandle first(detachedService());
    const ServiceHandle second(detachedService());
    int calls = 0;
    auto a = table->add(first, [&](const ServiceHandle&, uint32_t, void*) { ++calls; });
    auto b = table->add(first, [&](const ServiceHandle&, uint32_t, void*) { calls += 10; });
    auto c = table->add(second, [&](const ServiceHandle&, uint32_t, void*) { calls += 100; });
    for (const auto& callback : table->callbacksFor(first)) callback(first, 0, nullptr);
    QCOMPARE(calls, 11);
    a.reset();
    QCOMPARE(table->callbacksFor(first).size(), size_t{1});
    QCOMPARE(table->callbacksFor(second).size(), size_t{1});
    b.reset();
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
