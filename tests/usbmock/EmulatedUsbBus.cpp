#include "tests/usbmock/EmulatedUsbBus.h"

#include <QtGlobal>

#include "support/MainQueue.h"
#include "support/SystemLog.h"
#include "tests/usbmock/BusDevice.h"

namespace usbmock {

namespace {
constexpr uint8_t kBusNumber = 1;
constexpr uint8_t kLastRootHubPort = 15;
constexpr uint8_t kLastDeviceNumber = 127;
}  // namespace

EmulatedUsbBus::EmulatedUsbBus() : bus_(std::make_shared<usb::virt::VirtualUsbBus>()) {
  Q_ASSERT(pm::isMainQueue());
  bus_->addInterfaceNotifications([this](const usb::ServiceHandle& s) { serviceMatched(s); },
                                  [this](const usb::ServiceHandle& s) { serviceTerminated(s); });
}

EmulatedUsbBus::~EmulatedUsbBus() {
  Q_ASSERT(pm::isMainQueue());
  bus_->addInterfaceNotifications(nullptr, nullptr);
  for (Node& node : nodes_) {
    if (node.responder) node.responder->disconnect();
    if (node.shown) testbed_.removeDevice(node.sysfsPath);
  }
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
    std::shared_ptr<usb::virt::VirtualDeviceHandler> handler, BulkInFraming framing) {
  Q_ASSERT(pm::isMainQueue());
  auto device = bus_->attach(description, handler);
  addPort(device, std::move(handler), framing);
  return device;
}

void EmulatedUsbBus::attachForeignDevice(const DeviceLayout& layout) {
  Q_ASSERT(pm::isMainQueue());
  const Port& port = addPort(nullptr, nullptr, BulkInFraming::AsRequested);
  const UsbDeviceNode node{kBusNumber, port.number, nextDeviceNumber_++, layout.vendorId,
                           layout.productId, sysfsDescriptors(layout)};
  nodes_.push_back(Node{{}, &port, testbed_.addDevice(node, nullptr), nullptr, true});
}

void EmulatedUsbBus::setFraming(const usb::virt::VirtualUsbDevice& device, BulkInFraming framing) {
  Q_ASSERT(pm::isMainQueue());
  if (const Port* port = portOf(device)) port->framing->store(framing);
}

// Ports are handed out in attach order and never reused, so each device keeps its location.
EmulatedUsbBus::Port& EmulatedUsbBus::addPort(std::shared_ptr<usb::virt::VirtualUsbDevice> device,
                                              std::shared_ptr<usb::virt::VirtualDeviceHandler> handler,
                                              BulkInFraming framing) {
  Q_ASSERT_X(ports_.size() < kLastRootHubPort, "EmulatedUsbBus", "root hub ports used up");
  auto port = std::make_unique<Port>();
  port->device = std::move(device);
  port->handler = std::move(handler);
  port->framing = std::make_shared<std::atomic<BulkInFraming>>(framing);
  port->number = static_cast<uint8_t>(ports_.size() + 1);
  ports_.push_back(std::move(port));
  return *ports_.back();
}

// ---- Following the virtual bus ----------------------------------------------------------------

void EmulatedUsbBus::serviceMatched(const usb::ServiceHandle& service) {
  Q_ASSERT(pm::isMainQueue());
  Port* port = nullptr;
  for (const auto& candidate : ports_) {
    if (candidate->device && candidate->device->service() == service) port = candidate.get();
  }
  if (port == nullptr) {
    pm::systemLogf("usbmock: service %u of a device not attached through the harness", service.id());
    return;
  }
  Q_ASSERT_X(nextDeviceNumber_ < kLastDeviceNumber, "EmulatedUsbBus", "device numbers used up");
  ++port->enumerations;
  const usb::virt::VirtualDeviceDescription description = port->device->description();
  const UsbDeviceNode node{kBusNumber, port->number, nextDeviceNumber_++, description.vendorId,
                           description.productId, sysfsDescriptors(layoutOf(description))};
  auto device = std::make_shared<BusDevice>(*bus_, service, port->device, port->handler, port->framing);
  auto responder = std::make_unique<UsbfsResponder>(std::move(device));
  const QString path = testbed_.addDevice(node, responder.get());
  nodes_.push_back(Node{service, port, path, std::move(responder), !path.isEmpty()});
}

void EmulatedUsbBus::serviceTerminated(const usb::ServiceHandle& service) {
  Q_ASSERT(pm::isMainQueue());
  for (Node& node : nodes_) {
    if (!node.shown || !(node.service == service)) continue;
    node.responder->disconnect();
    testbed_.removeDevice(node.sysfsPath);
    node.shown = false;
  }
}

// ---- Questions --------------------------------------------------------------------------------

uint32_t EmulatedUsbBus::locationIdOf(const usb::virt::VirtualUsbDevice& device) const {
  const Port* port = portOf(device);
  return port ? (uint32_t{kBusNumber} << 24 | uint32_t{port->number} << 20) : 0;
}

int EmulatedUsbBus::enumerationsOf(const usb::virt::VirtualUsbDevice& device) const {
  const Port* port = portOf(device);
  return port ? port->enumerations : 0;
}

bool EmulatedUsbBus::isShown(const usb::virt::VirtualUsbDevice& device) const {
  const Port* port = portOf(device);
  const Node* node = port ? latestNodeOf(*port) : nullptr;
  return node && node->shown;
}

UsbfsResponder::Counters EmulatedUsbBus::countersOf(const usb::virt::VirtualUsbDevice& device) const {
  const Port* port = portOf(device);
  const Node* node = port ? latestNodeOf(*port) : nullptr;
  return node && node->responder ? node->responder->counters() : UsbfsResponder::Counters{};
}

const EmulatedUsbBus::Port* EmulatedUsbBus::portOf(const usb::virt::VirtualUsbDevice& device) const {
  for (const auto& port : ports_) {
    if (port->device.get() == &device) return port.get();
  }
  return nullptr;
}

const EmulatedUsbBus::Node* EmulatedUsbBus::latestNodeOf(const Port& port) const {
  for (auto it = nodes_.rbegin(); it != nodes_.rend(); ++it) {
    if (it->port == &port) return &*it;
  }
  return nullptr;
}

}  // namespace usbmock
