#include "tests/usbmock/BusDevice.h"

#include <cerrno>

#include <QtGlobal>

#include "support/MainQueue.h"
#include "tests/usbmock/UsbDescriptorBytes.h"

namespace usbmock {

namespace {

// The bus answers control requests at once; a device that does not answer is left to the host's
// own time-out, so this wait only bounds a handler that gives no answer.
constexpr uint32_t kControlWaitMs = 1000;

int errnoOfClaim(IOReturn result) {
  switch (result) {
    case kIOReturnSuccess: return 0;
    case kIOReturnExclusiveAccess: return EBUSY;
    case kIOReturnNoDevice: return ENODEV;
    case kIOReturnNotPrivileged: return EACCES;
    default: return EIO;
  }
}

}  // namespace

BusDevice::BusDevice(usb::virt::VirtualUsbBus& bus, const usb::ServiceHandle& service,
                     std::shared_ptr<usb::virt::VirtualUsbDevice> device,
                     std::shared_ptr<usb::virt::VirtualDeviceHandler> handler,
                     std::shared_ptr<const std::atomic<BulkInFraming>> framing)
    : bus_(bus),
      service_(service),
      device_(std::move(device)),
      handler_(std::move(handler)),
      framing_(std::move(framing)),
      description_(device_->description()),
      interface_(bus.createInterface(service, nullptr)) {
  Q_ASSERT(pm::isMainQueue());
}

bool BusDevice::isPresent() const { return bus_.isServiceAlive(service_); }

int BusDevice::claimInterface(uint8_t /*number*/) {
  return interface_ ? errnoOfClaim(interface_->openSeize()) : ENODEV;
}

void BusDevice::releaseInterface(uint8_t /*number*/) {
  if (interface_) interface_->close();
}

usb::virt::TransferResult BusDevice::control(const usb::virt::SetupPacket& setup, const QByteArray& outData) {
  if (!interface_) return usb::virt::TransferResult::failure(kIOReturnNoDevice);
  const bool deviceToHost = (setup.bmRequestType & 0x80) != 0;
  QByteArray data = deviceToHost ? QByteArray(setup.wLength, '\0') : outData;
  usb::ControlRequest request;
  request.bmRequestType = setup.bmRequestType;
  request.bRequest = setup.bRequest;
  request.wValue = setup.wValue;
  request.wIndex = setup.wIndex;
  request.wLength = static_cast<uint16_t>(data.size());
  request.data = data.isEmpty() ? nullptr : data.data();
  request.noDataTimeoutMs = kControlWaitMs;
  request.completionTimeoutMs = kControlWaitMs;
  const IOReturn result = interface_->controlRequest(0, request);
  if (result == kIOReturnTimeout) return usb::virt::TransferResult::silent();
  if (result != kIOReturnSuccess) return usb::virt::TransferResult::failure(result);
  return usb::virt::TransferResult::ok(deviceToHost ? data.left(request.lengthDone) : QByteArray());
}

usb::virt::TransferResult BusDevice::bulkOut(uint8_t endpoint, const QByteArray& data) {
  return handler_->bulkOut(*device_, endpoint, data);
}

usb::virt::TransferResult BusDevice::bulkIn(uint8_t endpoint, uint32_t maxLength) {
  return handler_->bulkIn(*device_, endpoint, maxLength);
}

void BusDevice::resetPort() {
  if (!interface_) return;
  if (const auto device = interface_->device()) device->resetDevice();
}

uint16_t BusDevice::maxPacketSize(uint8_t address) const {
  for (const usb::PipeProperties& pipe : description_.endpoints) {
    if (endpointAddress(pipe) == address) return pipe.maxPacketSize;
  }
  return 0;
}

}  // namespace usbmock
