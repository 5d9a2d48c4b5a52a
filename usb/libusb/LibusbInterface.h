#pragma once
// The interface object of one printer-class interface on libusb.
//
// Threading: one thread at a time (the printer's command queue, or the main thread before the
// queue exists), as the seam allows; transfers block that thread, bounded by their time-out.
// Once the service has ended (unplugged, re-enumerated) every call answers kIOReturnNoDevice.
//
// Open (openSeize) opens the device's shared handle and claims the interface; a kernel printer
// driver (usblp) is detached for as long as the interface is claimed. Pipes are the endpoints of
// the interface's first alternate setting in descriptor order, references 1..n. Transfers on the
// pipes need the interface open and answer kIOReturnError otherwise. Control requests work on a
// closed interface too: they open the device for the one request, and claim the interface for a
// request addressed to an interface or endpoint, as the kernel would otherwise have to do and
// cannot while usblp holds it; the printer class's GET_DEVICE_ID goes unclaimed, as the kernel
// allows, so reading it leaves usblp in place. When another program holds the interface the request is sent
// unclaimed all the same (the kernel lets GET_DEVICE_ID through) and, if refused, answers
// kIOReturnExclusiveAccess.
//
// Each bulk-in (and interrupt-in) pipe of the open interface has a read always pending
// (LibusbBulkIn.h): what the device sends between reads is kept, in order, for the next read or
// readArrived; closing the interface drops it.
//
// Time-outs: libusb has one per transfer; see libusbTimeoutMs (LibusbErrors.h).

#include <map>
#include <memory>

#include "usb/UsbPlatform.h"
#include "usb/libusb/LibusbBulkIn.h"
#include "usb/libusb/LibusbService.h"

namespace usb::libusb {

class LibusbInterface final : public UsbInterface {
 public:
  explicit LibusbInterface(std::shared_ptr<const LibusbServiceToken> service);
  ~LibusbInterface() override;  // closes the interface if still open

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

  // LibusbInterfaceTransfers.cpp
  IOReturn numEndpoints(uint8_t* count) override;
  IOReturn pipeProperties(uint8_t pipeRef, PipeProperties* properties) override;
  IOReturn controlRequest(uint8_t pipeRef, ControlRequest& request) override;
  IOReturn readPipe(uint8_t pipeRef, void* buffer, uint32_t* size, uint32_t noDataTimeoutMs,
                    uint32_t completionTimeoutMs) override;
  IOReturn writePipe(uint8_t pipeRef, const void* buffer, uint32_t size, uint32_t noDataTimeoutMs,
                     uint32_t completionTimeoutMs) override;
  IOReturn readArrived(uint8_t pipeRef, void* buffer, uint32_t* size) override;

 private:
  // The pending read of an IN pipe of the open interface, or null with *result set.
  BulkInStream* inStream(uint8_t pipeRef, IOReturn* result);
  void startInStreams();
  template <typename T>
  IOReturn answer(T* out, const T& value) const {
    if (out == nullptr) return kIOReturnBadArgument;
    if (!service_->isAlive()) return kIOReturnNoDevice;
    *out = value;
    return kIOReturnSuccess;
  }
  IOReturn selectAlternateSetting();
  IOReturn controlRequestOnTemporaryHandle(ControlRequest& request);
  IOReturn bulkTransfer(uint8_t pipeRef, uint8_t direction, unsigned char* buffer, uint32_t length,
                        uint32_t* done, uint32_t noDataTimeoutMs, uint32_t completionTimeoutMs);

  const std::shared_ptr<const LibusbServiceToken> service_;
  const LibusbInterfaceDescription& description_;
  std::shared_ptr<LibusbOpenDevice> open_;                      // set while the interface is claimed
  std::shared_ptr<UsbDevice> device_;                           // made on first request
  std::map<uint8_t, std::unique_ptr<BulkInStream>> inStreams_;  // per IN pipe reference, while open
};

}  // namespace usb::libusb
