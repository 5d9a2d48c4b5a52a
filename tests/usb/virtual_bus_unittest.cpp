// The virtual USB bus as printer code sees it: arrivals and removals, identity across
// re-enumeration, exclusive opens, interest messages, and the life of objects bound to a service.

#include <QtTest>

#include <future>

#include "usb/virtual/VirtualUsbBus.h"

using namespace usb;
using namespace usb::virt;

namespace {

// Swallows every write and never answers a read.
class SinkHandler : public VirtualDeviceHandler {
 public:
  TransferResult bulkOut(VirtualUsbDevice&, uint8_t, const QByteArray&) override { return TransferResult::ok(); }
  TransferResult bulkIn(VirtualUsbDevice&, uint8_t, uint32_t) override {
    readAsked = true;
    return TransferResult::silent();
  }
  std::atomic<bool> readAsked{false};
};

// Takes a command on bulk OUT, then restarts (leaves the bus and comes back), as a printer does.
class RestartingHandler : public SinkHandler {
 public:
  TransferResult bulkOut(VirtualUsbDevice& device, uint8_t, const QByteArray&) override {
    device.reEnumerate(500);
    return TransferResult::ok();
  }
};

VirtualDeviceDescription printer(const QString& serial = QStringLiteral("A1")) {
  VirtualDeviceDescription d;
  d.vendorId = 0x2B3C;
  d.productId = 0x0017;
  d.manufacturer = QStringLiteral("Varnholt Printing");
  d.product = QStringLiteral("PZA");
  d.serialNumber = serial;
  d.deviceId1284 = "MFG:Varnholt Printing;MDL:PZA;";
  return d;
}

// What the registry told, in order, with the thread it was told on.
struct Journal {
  QStringList lines;
  QList<ServiceHandle> matched;
  bool offMainThread = false;

  void note(const QString& line) {
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) offMainThread = true;
    lines << line;
  }
  void listen(VirtualUsbBus& bus) {
    bus.addInterfaceNotifications(
        [this](const ServiceHandle& s) { matched << s; note(QStringLiteral("matched %1").arg(s.id())); },
        [this](const ServiceHandle& s) { note(QStringLiteral("terminated %1").arg(s.id())); });
  }
};

}  // namespace

class VirtualBusTest : public QObject {
  Q_OBJECT
 private slots:
  void presentDevicesAreReportedBeforeRegistrationReturns();
  void reEnumerationGivesNewServiceAtSameLocation();
  void callbacksArriveOnMainThreadWhenDeviceChangesElsewhere();
  void openIsExclusive();
  void interestMessagesReachLiveRegistrationsOnly();
  void destroyingBusWakesTransferInFlight();
};

void VirtualBusTest::presentDevicesAreReportedBeforeRegistrationReturns() {
  VirtualUsbBus bus;
  const auto first = bus.attach(printer("A1"), std::make_shared<SinkHandler>());
  VirtualDeviceDescription hid = printer("H1");
  hid.interfaceClass = 3;
  bus.attach(hid, std::make_shared<SinkHandler>());
  VirtualDeviceDescription otherSubclass = printer("S0");
  otherSubclass.interfaceSubClass = 0;
  bus.attach(otherSubclass, std::make_shared<SinkHandler>());

  Journal journal;
  journal.listen(bus);
  QCOMPARE(journal.matched.size(), 2);  // the HID interface is not a printer's
  QVERIFY(journal.matched[0] == first->service());
  QCOMPARE(first->locationId(), 0x14100001u);

  // The arrivals queued before registering are not reported a second time.
  QTest::qWait(20);
  QCOMPARE(journal.matched.size(), 2);

  // A later arrival comes from the event loop, not from inside the call.
  const auto late = bus.attach(printer("A2"), std::make_shared<SinkHandler>());
  QCOMPARE(journal.matched.size(), 2);
  QTRY_COMPARE(journal.matched.size(), 3);
  QVERIFY(journal.matched[2] == late->service());
  QCOMPARE(bus.className(late->service()), QStringLiteral("IOUSBInterface"));
}

void VirtualBusTest::reEnumerationGivesNewServiceAtSameLocation() {
  VirtualUsbBus bus;
  bus.setTimeScale(0.01);
  const auto device = bus.attach(printer(), std::make_shared<SinkHandler>());
  Journal journal;
  journal.listen(bus);
  const ServiceHandle old = device->service();
  IOReturn rc = kIOReturnError;
  const auto interface = bus.createInterface(old, &rc);
  QVERIFY(interface);
  std::vector<uint32_t> interest;
  const auto registration = bus.addInterestNotification(
      old, [&](const ServiceHandle&, uint32_t type, void*) { interest.push_back(type); journal.note("interest"); }, &rc);
  QCOMPARE(interface->openSeize(), kIOReturnSuccess);
  const auto deviceObject = interface->device();
  QVERIFY(deviceObject);
  device->setReEnumerationDelay(500);

  QCOMPARE(deviceObject->reEnumerate(0), kIOReturnSuccess);
  QVERIFY(!bus.isServiceAlive(old));
  QTRY_COMPARE(journal.matched.size(), 2);
  const ServiceHandle fresh = journal.matched[1];
  QVERIFY(!(fresh == old));
  QVERIFY(fresh.id() != old.id());
  QCOMPARE(journal.lines, (QStringList{QStringLiteral("matched %1").arg(old.id()), "interest",
                                       QStringLiteral("terminated %1").arg(old.id()),
                                       QStringLiteral("matched %1").arg(fresh.id())}));
  QCOMPARE(interest, std::vector<uint32_t>{kIOMessageServiceIsTerminated});

  // Everything bound to the old enumeration is dead; the new one works at the same location.
  uint32_t location = 0;
  QCOMPARE(interface->locationID(&location), kIOReturnNoDevice);
  QCOMPARE(interface->close(), kIOReturnNoDevice);
  QCOMPARE(deviceObject->resetDevice(), kIOReturnNoDevice);
  QCOMPARE(deviceObject->reEnumerate(0), kIOReturnNoDevice);
  QVERIFY(!interface->device());
  QVERIFY(!bus.createInterface(old, &rc));
  QCOMPARE(rc, kIOReturnNoDevice);
  const auto again = bus.createInterface(fresh, &rc);
  QVERIFY(again);
  QCOMPARE(again->locationID(&location), kIOReturnSuccess);
  QCOMPARE(location, device->locationId());
  QCOMPARE(again->openSeize(), kIOReturnSuccess);  // the old open died with its enumeration
  QVERIFY(!journal.offMainThread);
}

void VirtualBusTest::callbacksArriveOnMainThreadWhenDeviceChangesElsewhere() {
  VirtualUsbBus bus;
  bus.setTimeScale(0.01);
  Journal journal;
  journal.listen(bus);
  const auto device = bus.attach(printer(), std::make_shared<RestartingHandler>());
  QTRY_COMPARE(journal.matched.size(), 1);
  IOReturn rc = kIOReturnError;
  const auto interface = bus.createInterface(journal.matched[0], &rc);
  QCOMPARE(interface->openSeize(), kIOReturnSuccess);

  // The handler restarts the device from the writing thread; the write itself succeeds.
  auto write = std::async(std::launch::async, [&] {
    return interface->writePipe(1, "go", 2, 5000, 5000);
  });
  QTRY_VERIFY(write.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
  QCOMPARE(write.get(), kIOReturnSuccess);
  QTRY_COMPARE(journal.matched.size(), 2);
  QCOMPARE(journal.lines.size(), 3);
  QVERIFY(journal.lines[1].startsWith("terminated"));
  QVERIFY(device->isAttached());
  QVERIFY(!journal.offMainThread);
}

void VirtualBusTest::openIsExclusive() {
  VirtualUsbBus bus;
  const auto device = bus.attach(printer(), std::make_shared<SinkHandler>());
  IOReturn rc = kIOReturnError;
  auto a = bus.createInterface(device->service(), &rc);
  const auto b = bus.createInterface(device->service(), &rc);
  uint8_t count = 0;
  QCOMPARE(a->numEndpoints(&count), kIOReturnError);  // pipes need the interface open
  QCOMPARE(a->close(), kIOReturnError);

  QCOMPARE(a->openSeize(), kIOReturnSuccess);
  QCOMPARE(b->openSeize(), kIOReturnExclusiveAccess);
  QCOMPARE(a->numEndpoints(&count), kIOReturnSuccess);
  QCOMPARE(count, uint8_t{2});
  PipeProperties pipe;
  QCOMPARE(a->pipeProperties(2, &pipe), kIOReturnSuccess);
  QCOMPARE(pipe.direction, kUSBIn);
  QCOMPARE(pipe.transferType, kUSBBulk);
  uint32_t size = 4;
  char buffer[4];
  QCOMPARE(b->readPipe(2, buffer, &size, 10, 10), kIOReturnError);  // not open through b
  a.reset();  // letting go of the object gives up its open
  QVERIFY(!device->isOpen());

  device->setHeldByOtherProgram(true);
  QCOMPARE(b->openSeize(), kIOReturnExclusiveAccess);
  device->setHeldByOtherProgram(false);
  device->setOpenResult(kIOReturnNotPrivileged);
  QCOMPARE(b->openSeize(), kIOReturnNotPrivileged);
  device->setOpenResult(kIOReturnSuccess);
  QCOMPARE(b->openSeize(), kIOReturnSuccess);
  QCOMPARE(device->openCount(), 2);
  QCOMPARE(b->close(), kIOReturnSuccess);
  QVERIFY(!device->isOpen());
}

void VirtualBusTest::interestMessagesReachLiveRegistrationsOnly() {
  VirtualUsbBus bus;
  const auto device = bus.attach(printer(), std::make_shared<SinkHandler>());
  IOReturn rc = kIOReturnError;
  int argument = 7;
  QList<std::pair<uint32_t, void*>> first;
  int secondCalls = 0;
  std::unique_ptr<InterestRegistration> second;
  auto one = bus.addInterestNotification(
      device->service(),
      [&](const ServiceHandle& s, uint32_t type, void* arg) {
        QVERIFY(s == device->service());
        first.append({type, arg});
        second.reset();  // ending another registration from inside a delivery is safe
      },
      &rc);
  QCOMPARE(rc, kIOReturnSuccess);
  second = bus.addInterestNotification(
      device->service(), [&](const ServiceHandle&, uint32_t, void*) { ++secondCalls; }, &rc);

  device->sendInterestMessage(kIOMessageServiceIsAttemptingOpen, &argument);
  QVERIFY(first.isEmpty());  // from the event loop only
  QTRY_COMPARE(first.size(), 1);
  QCOMPARE(first[0].first, kIOMessageServiceIsAttemptingOpen);
  QCOMPARE(first[0].second, static_cast<void*>(&argument));
  QCOMPARE(secondCalls, 0);

  one.reset();
  device->sendInterestMessage(kIOMessageServiceWasClosed);
  QTest::qWait(20);
  QCOMPARE(first.size(), 1);
}

void VirtualBusTest::destroyingBusWakesTransferInFlight() {
  auto bus = std::make_unique<VirtualUsbBus>();
  const auto handler = std::make_shared<SinkHandler>();
  const auto device = bus->attach(printer("A1"), handler);
  const auto other = bus->attach(printer("A2"), std::make_shared<SinkHandler>());
  Journal journal;
  journal.listen(*bus);
  IOReturn rc = kIOReturnError;
  const auto interface = bus->createInterface(device->service(), &rc);
  QCOMPARE(interface->openSeize(), kIOReturnSuccess);
  auto read = std::async(std::launch::async, [&] {
    char buffer[8];
    uint32_t size = sizeof buffer;
    return interface->readPipe(2, buffer, &size, 0, 0);  // a silent device and no time-out
  });
  QTRY_VERIFY(handler->readAsked);

  other->detach();  // its notifications are still queued when the bus goes
  bus.reset();
  QCOMPARE(read.get(), kIOReturnNoDevice);
  QVERIFY(!device->isAttached());
  uint8_t value = 0;
  QCOMPARE(interface->interfaceClass(&value), kIOReturnNoDevice);
  device->attach();  // a device cannot come back to a bus that has gone
  QVERIFY(!device->isAttached());
  QTest::qWait(10);
  QCOMPARE(journal.lines.size(), 2);  // the two reported at registration, nothing after
}

QTEST_GUILESS_MAIN(VirtualBusTest)
#include "virtual_bus_unittest.moc"
