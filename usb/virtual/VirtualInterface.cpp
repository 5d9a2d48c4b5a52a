// The interface and device objects: descriptors, open and close, pipes, resets.

#include "usb/virtual/VirtualInterface.h"

#include "support/BlockingCalls.h"
#include "usb/virtual/StandardRequests.h"

namespace usb::virt::detail {

IOReturn ServiceBinding::liveness() const {
  std::lock_guard lock(state().mutex);
  return service->alive ? kIOReturnSuccess : kIOReturnNoDevice;
}

// --- interface object -------------------------------------------------------------------------

VirtualInterface::VirtualInterface(ServiceBinding binding, uint64_t id)
    : binding_(std::move(binding)), id_(id) {}

VirtualInterface::~VirtualInterface() {
  std::lock_guard lock(binding_.state().mutex);
  if (binding_.service->alive && binding_.device->g.openOwner == id_) binding_.device->g.openOwner = 0;
}

template <typename T, typename Field>
IOReturn VirtualInterface::describe(T* value, Field field) const {
  if (value == nullptr) return kIOReturnBadArgument;
  if (const IOReturn rc = binding_.liveness(); rc != kIOReturnSuccess) return rc;
  *value = field(binding_.description());
  return kIOReturnSuccess;
}

IOReturn VirtualInterface::interfaceClass(uint8_t* value) {
  return describe(value, [](const VirtualDeviceDescription& d) { return d.interfaceClass; });
}

IOReturn VirtualInterface::interfaceSubClass(uint8_t* value) {
  return describe(value, [](const VirtualDeviceDescription& d) { return d.interfaceSubClass; });
}

IOReturn VirtualInterface::deviceVendor(uint16_t* value) {
  return describe(value, [](const VirtualDeviceDescription& d) { return d.vendorId; });
}

IOReturn VirtualInterface::deviceProduct(uint16_t* value) {
  return describe(value, [](const VirtualDeviceDescription& d) { return d.productId; });
}

IOReturn VirtualInterface::locationID(uint32_t* value) {
  return describe(value, [](const VirtualDeviceDescription& d) { return d.locationId; });
}

IOReturn VirtualInterface::configurationValue(uint8_t* value) {
  return describe(value, [](const VirtualDeviceDescription& d) { return d.configurationValue; });
}

IOReturn VirtualInterface::interfaceNumber(uint8_t* value) {
  return describe(value, [](const VirtualDeviceDescription& d) { return d.interfaceNumber; });
}

IOReturn VirtualInterface::alternateSetting(uint8_t* value) {
  return describe(value, [](const VirtualDeviceDescription& d) { return d.alternateSetting; });
}

std::shared_ptr<UsbDevice> VirtualInterface::device() {
  if (binding_.liveness() != kIOReturnSuccess) return nullptr;
  return std::make_shared<VirtualDeviceObject>(binding_);
}

IOReturn VirtualInterface::openSeize() {
  pm::enterBlockingCall("VirtualInterface::openSeize");
  std::lock_guard lock(binding_.state().mutex);
  if (!binding_.service->alive) return kIOReturnNoDevice;
  auto& device = binding_.device->g;
  if (device.openResult != kIOReturnSuccess) return device.openResult;
  if (device.heldByOtherProgram) return kIOReturnExclusiveAccess;
  if (device.openOwner != 0 && device.openOwner != id_) return kIOReturnExclusiveAccess;
  device.openOwner = id_;
  ++device.openCount;
  return kIOReturnSuccess;
}

IOReturn VirtualInterface::close() {
  std::lock_guard lock(binding_.state().mutex);
  if (!binding_.service->alive) return kIOReturnNoDevice;
  auto& device = binding_.device->g;
  if (device.openOwner != id_) return kIOReturnError;  // was not open through this object
  device.openOwner = 0;
  pending_.reset();  // the transfers of an interface end with its release
  return kIOReturnSuccess;
}

IOReturn VirtualInterface::checkOpen() const {
  std::lock_guard lock(binding_.state().mutex);
  if (!binding_.service->alive) return kIOReturnNoDevice;
  return binding_.device->g.openOwner == id_ ? kIOReturnSuccess : kIOReturnError;
}

IOReturn VirtualInterface::numEndpoints(uint8_t* count) {
  if (count == nullptr) return kIOReturnBadArgument;
  if (const IOReturn rc = checkOpen(); rc != kIOReturnSuccess) return rc;
  *count = static_cast<uint8_t>(binding_.description().endpoints.size());
  return kIOReturnSuccess;
}

IOReturn VirtualInterface::pipeProperties(uint8_t pipeRef, PipeProperties* properties) {
  if (properties == nullptr) return kIOReturnBadArgument;
  if (const IOReturn rc = checkOpen(); rc != kIOReturnSuccess) return rc;
  const auto& endpoints = binding_.description().endpoints;
  if (pipeRef == 0) {
    *properties = PipeProperties{kUSBOut, 0, kUSBControl, 64, 0};
    return kIOReturnSuccess;
  }
  if (pipeRef > endpoints.size()) return kIOReturnBadArgument;
  *properties = endpoints[pipeRef - 1];
  return kIOReturnSuccess;
}

IOReturn VirtualInterface::bulkEndpoint(uint8_t pipeRef, uint8_t direction, uint8_t* endpoint) const {
  if (const IOReturn rc = checkOpen(); rc != kIOReturnSuccess) return rc;
  const auto& endpoints = binding_.description().endpoints;
  if (pipeRef == 0 || pipeRef > endpoints.size()) return kIOReturnBadArgument;
  const PipeProperties& pipe = endpoints[pipeRef - 1];
  if (pipe.direction != direction || (pipe.transferType != kUSBBulk && pipe.transferType != kUSBInterrupt)) {
    return kIOReturnBadArgument;
  }
  *endpoint = pipe.number;
  return kIOReturnSuccess;
}

// --- device object ----------------------------------------------------------------------------

IOReturn VirtualDeviceObject::open() {
  pm::enterBlockingCall("VirtualDeviceObject::open");
  return binding_.liveness();
}

IOReturn VirtualDeviceObject::close() { return binding_.liveness(); }

IOReturn VirtualDeviceObject::resetDevice() {
  pm::enterBlockingCall("VirtualDeviceObject::resetDevice");
  if (const IOReturn rc = binding_.liveness(); rc != kIOReturnSuccess) return rc;
  binding_.device->resetByHost();
  return kIOReturnSuccess;
}

IOReturn VirtualDeviceObject::reEnumerate(uint32_t /*options*/) {
  pm::enterBlockingCall("VirtualDeviceObject::reEnumerate");
  uint32_t delayMs = 0;
  {
    // Checked and left under one lock, so a device that re-enumerated meanwhile is not taken
    // off the bus a second time through an old object.
    std::lock_guard lock(binding_.state().mutex);
    if (!binding_.service->alive) return kIOReturnNoDevice;
    auto& device = binding_.device->g;
    delayMs = device.reEnumerationDelayMs;
    ++device.attachGeneration;
    binding_.device->leaveLocked(true);
  }
  binding_.state().changed.notify_all();
  binding_.device->attach(delayMs);
  return kIOReturnSuccess;
}

IOReturn VirtualDeviceObject::stringIndex(uint8_t* index, const QString& text, uint8_t assigned) const {
  if (index == nullptr) return kIOReturnBadArgument;
  if (const IOReturn rc = binding_.liveness(); rc != kIOReturnSuccess) return rc;
  *index = text.isEmpty() ? 0 : assigned;
  return kIOReturnSuccess;
}

IOReturn VirtualDeviceObject::manufacturerStringIndex(uint8_t* index) {
  return stringIndex(index, binding_.description().manufacturer, kManufacturerStringIndex);
}

IOReturn VirtualDeviceObject::productStringIndex(uint8_t* index) {
  return stringIndex(index, binding_.description().product, kProductStringIndex);
}

IOReturn VirtualDeviceObject::serialNumberStringIndex(uint8_t* index) {
  return stringIndex(index, binding_.description().serialNumber, kSerialNumberStringIndex);
}

}  // namespace usb::virt::detail
