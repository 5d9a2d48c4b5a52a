#include <umockdev.h>  // first: GLib's headers use the word "signals"

#include "tests/usbmock/EmulatedUsbBus.h"

#include <QtGlobal>

#include "support/MainQueue.h"
#include "support/SystemLog.h"
#include "usb/virtual/StandardRequests.h"

namespace usbmock {

namespace {

constexpr uint8_t kBusNumber = 1;
constexpr uint8_t kLastRootHubPort = 15;
constexpr uint8_t kLastDeviceNumber = 127;
constexpr int kUsbDeviceMajor = 189;

void append16(QByteArray& bytes, uint16_t value) {
  bytes.append(char(value & 0xFF)).append(char(value >> 8));
}

// The sysfs "descriptors" attribute libusb reads: the device descriptor, then the configuration
// descriptor with its one interface and that interface's endpoints.
QByteArray sysfsDescriptors(const usb::virt::VirtualDeviceDescription& d) {
  using namespace usb::virt::detail;
  QByteArray device("\x12\x01\x00\x02\x00\x00\x00\x40", 8);  // USB 2.0, class per interface, EP0 64
  append16(device, d.vendorId);
  append16(device, d.productId);
  append16(device, 0x0100);  // bcdDevice
  device.append(char(d.manufacturer.isEmpty() ? 0 : kManufacturerStringIndex));
  device.append(char(d.product.isEmpty() ? 0 : kProductStringIndex));
  device.append(char(d.serialNumber.isEmpty() ? 0 : kSerialNumberStringIndex));
  device.append(char(1));  // bNumConfigurations
  QByteArray interface;
  for (const uint8_t byte :
       {uint8_t(9), uint8_t(4), d.interfaceNumber, d.alternateSetting, uint8_t(d.endpoints.size()),
        d.interfaceClass, d.interfaceSubClass, d.interfaceProtocol, uint8_t(0)})
    interface.append(char(byte));
  for (const usb::PipeProperties& pipe : d.endpoints) {
    interface.append(char(7)).append(char(5));
    interface.append(char((pipe.number & 0x0F) | (pipe.direction == kUSBIn ? 0x80 : 0)));
    interface.append(char(pipe.transferType));
    append16(interface, pipe.maxPacketSize);
    interface.append(char(pipe.interval));
  }
  QByteArray configuration("\x09\x02", 2);
  append16(configuration, uint16_t(9 + interface.size()));
  configuration.append(char(1)).append(char(d.configurationValue));
  configuration.append(QByteArray("\x00\xC0\x32", 3));  // no string, self-powered, 100 mA
  return device + configuration + interface;
}

// The device in umockdev's text format; attribute values carry the newline sysfs files end with.
QByteArray deviceRecord(const QString& sysfsPath, uint8_t deviceNumber,
                        const usb::virt::VirtualDeviceDescription& d, bool configured) {
  const unsigned bus = kBusNumber, device = deviceNumber, minor = (bus - 1) * 128 + (device - 1);
  return QString::asprintf(
             "P: %s\nN: bus/usb/%03u/%03u\nE: DEVNAME=/dev/bus/usb/%03u/%03u\nE: DEVTYPE=usb_device\nE: "
             "DRIVER=usb\n"
             "E: SUBSYSTEM=usb\nE: BUSNUM=%03u\nE: DEVNUM=%03u\nE: MAJOR=%d\nE: MINOR=%u\nE: "
             "PRODUCT=%x/%x/100\n"
             "A: busnum=%u\\n\nA: devnum=%u\\n\nA: idVendor=%04x\\n\nA: idProduct=%04x\\n\nA: "
             "bConfigurationValue=%s\\n\n"
             "A: bNumConfigurations=1\\n\nA: speed=480\\n\nA: dev=%d:%u\\n\nH: descriptors=%s\n",
             qPrintable(sysfsPath), bus, device, bus, device, bus, device, kUsbDeviceMajor, minor, d.vendorId,
             d.productId, bus, device, d.vendorId, d.productId, configured ? "1" : "", kUsbDeviceMajor, minor,
             sysfsDescriptors(d).toHex().toUpper().constData())
      .toUtf8();
}

}  // namespace

bool EmulatedUsbBus::preloadActive() {
  return qEnvironmentVariable("LD_PRELOAD").contains(QLatin1String("libumockdev-preload"));
}

EmulatedUsbBus::EmulatedUsbBus()
    : testbed_(umockdev_testbed_new()), bus_(std::make_shared<usb::virt::VirtualUsbBus>()) {
  Q_ASSERT(pm::isMainQueue());
  bus_->addInterfaceNotifications([this](const usb::ServiceHandle& s) { serviceMatched(s); },
                                  [this](const usb::ServiceHandle& s) { serviceTerminated(s); });
}

EmulatedUsbBus::~EmulatedUsbBus() {
  Q_ASSERT(pm::isMainQueue());
  bus_->addInterfaceNotifications(nullptr, nullptr);
  for (Node& node : nodes_) {
    if (node.responder) node.responder->disconnect();
    if (node.shown) serviceTerminated(node.service);
  }
  nodes_.clear();
  g_object_unref(testbed_);
}

// ---- Devices ----------------------------------------------------------------------------------

std::shared_ptr<sim::VirtualPrinter> EmulatedUsbBus::attachPrinter(const sim::VirtualPrinterConfig& config,
                                                                   BulkInFraming framing) {
  Q_ASSERT(pm::isMainQueue());
  auto printer = sim::VirtualPrinter::attach(*bus_, config);
  addPort(printer->device(), printer, framing);
  return printer;
}

std::shared_ptr<usb::virt::VirtualUsbDevice> EmulatedUsbBus::attachDevice(
    const usb::virt::VirtualDeviceDescription& description,
    std::shared_ptr<usb::virt::VirtualDeviceHandler> handler, bool configured) {
  Q_ASSERT(pm::isMainQueue());
  auto device = bus_->attach(description, handler);
  Port& port = addPort(device, std::move(handler), BulkInFraming::AsRequested);
  port.configured = configured;
  // The virtual bus reports printer interfaces only: any other device is shown at once, and
  // nothing answers its transfers.
  if (description.interfaceClass != kUSBPrintingClass) addNode(port, description, {}, nullptr);
  return device;
}

void EmulatedUsbBus::configure(const usb::virt::VirtualUsbDevice& device) {
  Q_ASSERT(pm::isMainQueue());
  for (const Node& node : nodes_) {
    if (node.shown && node.port->device.get() == &device)
      umockdev_testbed_set_attribute(testbed_, qPrintable(node.sysfsPath), "bConfigurationValue", "1\n");
  }
  for (const auto& port : ports_)
    if (port->device.get() == &device) port->configured = true;
}

// Ports are handed out in attach order and never reused, so each device keeps its location.
EmulatedUsbBus::Port& EmulatedUsbBus::addPort(std::shared_ptr<usb::virt::VirtualUsbDevice> device,
                                              std::shared_ptr<usb::virt::VirtualDeviceHandler> handler,
                                              BulkInFraming framing) {
  Q_ASSERT_X(ports_.size() < kLastRootHubPort, "EmulatedUsbBus", "root hub ports used up");
  ports_.push_back(std::make_unique<Port>(Port{.device = std::move(device),
                                               .handler = std::move(handler),
                                               .framing = framing,
                                               .number = static_cast<uint8_t>(ports_.size() + 1)}));
  return *ports_.back();
}

void EmulatedUsbBus::addNode(const Port& port, const usb::virt::VirtualDeviceDescription& description,
                             const usb::ServiceHandle& service, std::unique_ptr<UsbfsResponder> responder) {
  Q_ASSERT_X(nextDeviceNumber_ < kLastDeviceNumber, "EmulatedUsbBus", "device numbers used up");
  const uint8_t deviceNumber = nextDeviceNumber_++;
  const QString sysfsPath =
      QStringLiteral("/devices/pci0000:00/0000:00:14.0/usb%1/%1-%2").arg(kBusNumber).arg(port.number);
  const QByteArray devnode = QString::asprintf("/dev/bus/usb/%03u/%03u", kBusNumber, deviceNumber).toUtf8();
  GError* error = nullptr;
  // The handler first, so that libusb can open the node as soon as the "add" uevent arrives.
  const bool added =
      (!responder ||
       umockdev_testbed_attach_ioctl(testbed_, devnode.constData(), responder->handler(), &error)) &&
      umockdev_testbed_add_from_string(
          testbed_, deviceRecord(sysfsPath, deviceNumber, description, port.configured).constData(), &error);
  if (!added) qFatal("usbmock: cannot add %s: %s", devnode.constData(), error->message);
  nodes_.push_back(Node{service, &port, QStringLiteral("/sys") + sysfsPath, std::move(responder)});
}

// ---- Following the virtual bus ----------------------------------------------------------------

void EmulatedUsbBus::serviceMatched(const usb::ServiceHandle& service) {
  Q_ASSERT(pm::isMainQueue());
  for (const auto& port : ports_) {
    if (!(port->device->service() == service)) continue;
    addNode(*port, port->device->description(), service,
            std::make_unique<UsbfsResponder>(*bus_, service, port->device, port->handler, port->framing));
    return;
  }
  pm::systemLogf("usbmock: service %u of a device not attached through the harness", service.id());
}

// Sends "remove" and takes the device out of sysfs. Descriptors already open on its node stay
// connected to its responder, as on a kernel that keeps them until they are closed.
void EmulatedUsbBus::serviceTerminated(const usb::ServiceHandle& service) {
  Q_ASSERT(pm::isMainQueue());
  for (Node& node : nodes_) {
    if (!node.shown || !(node.service == service)) continue;
    if (node.responder) node.responder->disconnect();
    const QByteArray path = node.sysfsPath.toUtf8();
    umockdev_testbed_uevent(testbed_, path.constData(), "remove");
    umockdev_testbed_remove_device(testbed_, path.constData());
    node.shown = false;
  }
}

// ---- Questions --------------------------------------------------------------------------------

uint32_t EmulatedUsbBus::locationIdOf(const usb::virt::VirtualUsbDevice& device) const {
  const Port* port = portOf(device);
  return port ? (uint32_t{kBusNumber} << 24 | uint32_t{port->number} << 20) : 0;
}

bool EmulatedUsbBus::isShown(const usb::virt::VirtualUsbDevice& device) const {
  const Port* port = portOf(device);
  for (auto it = nodes_.rbegin(); port && it != nodes_.rend(); ++it) {
    if (it->port == port) return it->shown;
  }
  return false;
}

std::pair<int, int> EmulatedUsbBus::driverRequestsOf(const usb::virt::VirtualUsbDevice& device) const {
  const Port* port = portOf(device);
  std::pair<int, int> requests;
  for (const Node& node : nodes_) {
    if (node.port != port || !node.responder) continue;
    requests.first += node.responder->driverDetaches();
    requests.second += node.responder->driverReattaches();
  }
  return requests;
}

const EmulatedUsbBus::Port* EmulatedUsbBus::portOf(const usb::virt::VirtualUsbDevice& device) const {
  for (const auto& port : ports_) {
    if (port->device.get() == &device) return port.get();
  }
  return nullptr;
}

}  // namespace usbmock
