#pragma once
// One enumeration of a virtual-bus device as the kernel side of its emulated node sees it. Claims
// go to the bus's interface object, so a device held by another program answers EBUSY; control
// requests go through the bus, which asks the device's handler and answers the standard requests
// (strings, language list, GET_DEVICE_ID, SOFT_RESET) from the descriptors; bulk transfers go
// straight to the handler (a virtual printer of sim/), whose answers (data, latency, no answer,
// stall, unplug) the responder turns into URB results. The handler is passed the bus device, so
// when a printer restarts or unplugs itself it does so on the bus, and the emulated bus follows.
//
// Threads: constructed [main] (it makes the bus's interface object); the EmulatedDevice members
// run on umockdev's worker thread, isPresent() on any.

#include <atomic>
#include <memory>

#include "tests/usbmock/EmulatedDevice.h"
#include "usb/UsbPlatform.h"
#include "usb/virtual/VirtualUsbBus.h"

namespace usbmock {

class BusDevice final : public EmulatedDevice {
 public:
  BusDevice(usb::virt::VirtualUsbBus& bus, const usb::ServiceHandle& service,
            std::shared_ptr<usb::virt::VirtualUsbDevice> device,
            std::shared_ptr<usb::virt::VirtualDeviceHandler> handler,
            std::shared_ptr<const std::atomic<BulkInFraming>> framing);

  bool isPresent() const override;
  int claimInterface(uint8_t number) override;
  void releaseInterface(uint8_t number) override;
  usb::virt::TransferResult control(const usb::virt::SetupPacket& setup, const QByteArray& outData) override;
  usb::virt::TransferResult bulkOut(uint8_t endpoint, const QByteArray& data) override;
  usb::virt::TransferResult bulkIn(uint8_t endpoint, uint32_t maxLength) override;
  void resetPort() override;
  BulkInFraming framing() const override { return framing_->load(); }
  uint16_t maxPacketSize(uint8_t endpointAddress) const override;

 private:
  usb::virt::VirtualUsbBus& bus_;  // outlives every node (EmulatedUsbBus)
  const usb::ServiceHandle service_;
  const std::shared_ptr<usb::virt::VirtualUsbDevice> device_;
  const std::shared_ptr<usb::virt::VirtualDeviceHandler> handler_;
  const std::shared_ptr<const std::atomic<BulkInFraming>> framing_;
  const usb::virt::VirtualDeviceDescription description_;
  const std::shared_ptr<usb::UsbInterface> interface_;  // null when the service had gone already
};

}  // namespace usbmock
