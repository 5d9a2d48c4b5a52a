#pragma once
// The interface and device objects the virtual bus hands to printer code. Each is bound to one
// enumeration of its device: once that enumeration has ended (detach, re-enumeration, the bus
// destroyed) every call answers kIOReturnNoDevice. Internal to usb/virtual/.
//
// Threading: any one thread at a time per object (the seam's rule); the objects of one device
// may be used from different threads at once. Transfers block the calling thread.

#include <chrono>
#include <memory>
#include <optional>

#include "usb/virtual/VirtualBusState.h"

namespace usb::virt::detail {

// One device and the enumeration an object is bound to.
struct ServiceBinding {
  std::shared_ptr<DeviceCore> device;
  std::shared_ptr<Enumeration> service;

  VirtualUsbBus::State& state() const { return *device->state; }
  const VirtualDeviceDescription& description() const { return service->description; }
  // kIOReturnSuccess while the enumeration lasts, else kIOReturnNoDevice.
  IOReturn liveness() const;
  // Waits out the answer's latency, bounded by the caller's time-outs and by the device leaving;
  // the transfer's result.
  IOReturn awaitAnswer(const TransferResult& answer, uint32_t noDataTimeoutMs,
                       uint32_t completionTimeoutMs) const;
  // Sleeps until `until` or the device leaves; kIOReturnNoDevice once it has left.
  IOReturn sleepUntil(std::chrono::steady_clock::time_point until) const;
  std::chrono::steady_clock::duration realTime(uint32_t deviceMs) const;
};

// A bulk-in answer that came after its read gave up: the next read of its endpoint gets it
// (waiting for what is left of its latency), as a host controller's transfer stays queued.
struct PendingIn {
  uint8_t endpoint = 0;
  IOReturn status = kIOReturnSuccess;
  QByteArray data;
  std::chrono::steady_clock::time_point readyAt;
};

class VirtualInterface final : public UsbInterface {
 public:
  VirtualInterface(ServiceBinding binding, uint64_t id);
  ~VirtualInterface() override;  // gives up its open

  IOReturn interfaceClass(uint8_t* value) override;
  IOReturn interfaceSubClass(uint8_t* value) override;
  IOReturn deviceVendor(uint16_t* value) override;
  IOReturn deviceProduct(uint16_t* value) override;
  IOReturn locationID(uint32_t* value) override;
  IOReturn configurationValue(uint8_t* value) override;
  IOReturn interfaceNumber(uint8_t* value) override;
  IOReturn alternateSetting(uint8_t* value) override;
  std::shared_ptr<UsbDevice> device() override;

  IOReturn openSeize() override;
  IOReturn close() override;
  IOReturn numEndpoints(uint8_t* count) override;
  IOReturn pipeProperties(uint8_t pipeRef, PipeProperties* properties) override;

  // Transfers (VirtualInterfaceTransfers.cpp).
  IOReturn controlRequest(uint8_t pipeRef, ControlRequest& request) override;
  IOReturn readPipe(uint8_t pipeRef, void* buffer, uint32_t* size, uint32_t noDataTimeoutMs,
                    uint32_t completionTimeoutMs) override;
  IOReturn writePipe(uint8_t pipeRef, const void* buffer, uint32_t size, uint32_t noDataTimeoutMs,
                     uint32_t completionTimeoutMs) override;
  IOReturn readArrived(uint8_t pipeRef, void* buffer, uint32_t* size) override;

 private:
  // Hands over (part of) the pending answer; it is gone once all of it was taken.
  IOReturn takePending(void* buffer, uint32_t* size);
  template <typename T, typename Field>
  IOReturn describe(T* value, Field field) const;
  // Success while bound and open by this object; kIOReturnError while not open.
  IOReturn checkOpen() const;
  // The endpoint a bulk pipe of the open interface leads to, checked for its direction.
  IOReturn bulkEndpoint(uint8_t pipeRef, uint8_t direction, uint8_t* endpoint) const;

  const ServiceBinding binding_;
  const uint64_t id_;
  std::optional<PendingIn> pending_;  // the owning thread's, as every transfer
  QByteArray outBuffer_;              // the bytes of the write under way
};

class VirtualDeviceObject final : public UsbDevice {
 public:
  explicit VirtualDeviceObject(ServiceBinding binding) : binding_(std::move(binding)) {}

  IOReturn open() override;
  IOReturn close() override;
  IOReturn resetDevice() override;
  IOReturn reEnumerate(uint32_t options) override;
  IOReturn manufacturerStringIndex(uint8_t* index) override;
  IOReturn productStringIndex(uint8_t* index) override;
  IOReturn serialNumberStringIndex(uint8_t* index) override;

 private:
  IOReturn stringIndex(uint8_t* index, const QString& text, uint8_t assigned) const;

  const ServiceBinding binding_;
};

}  // namespace usb::virt::detail
