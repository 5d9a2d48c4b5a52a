#pragma once
// The USB platform seam. Printer code (usb/TBUSBPrinter*, olm/, app/) reaches USB
// hardware only through these interfaces; usb/libusb/ implements them on libusb-1.0 and
// usb/virtual/ implements them as an in-process bus for tests and the demo mode.
//
// Threading, for every implementation:
//  - UsbRegistry is created, used and destroyed on the main thread. Every callback it makes
//    (interface arrival and removal, interest messages) is delivered on the main thread, from the
//    event loop, never from inside a call into the registry.
//  - UsbInterface and UsbDevice objects may be used from any one thread at a time (in practice
//    the printer's command queue, and the main thread before the queue exists). Transfers block
//    the calling thread, bounded by the time-outs the caller passes.
//  - A transfer in flight when its device goes away ends with kIOReturnNoDevice (or
//    kIOReturnAborted); every later call answers kIOReturnNoDevice.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include <QString>

#include "support/IOReturn.h"

namespace usb {

// ---------------------------------------------------------------------------------------------
// Service handles: one per registry entry (here: one per printer-class interface of a device as
// it is enumerated). Copies compare equal exactly when they denote the same registry entry; a
// device that re-enumerates comes back as a new, unequal service (at the same location ID).
class ServiceHandle {
 public:
  ServiceHandle() = default;
  explicit operator bool() const { return token_ != nullptr; }
  // Identity comparison (IOObjectIsEqualTo).
  bool isEqualTo(const ServiceHandle& other) const { return token_ == other.token_; }
  bool operator==(const ServiceHandle& other) const { return isEqualTo(other); }
  // A small number for log lines ("device %x"); unique per entry within the process.
  uint32_t id() const { return token_ ? token_->id : 0; }

  // For backends: wraps a backend-owned token. The token's lifetime is shared by all copies.
  struct Token {
    virtual ~Token() = default;
    uint32_t id = 0;
  };
  explicit ServiceHandle(std::shared_ptr<Token> token) : token_(std::move(token)) {}
  const std::shared_ptr<Token>& token() const { return token_; }

 private:
  std::shared_ptr<Token> token_;
};

// Properties of one pipe of an open interface (GetPipeProperties).
struct PipeProperties {
  uint8_t direction = 0;     // kUSBOut (0) or kUSBIn (1)
  uint8_t number = 0;        // endpoint number
  uint8_t transferType = 0;  // kUSBControl, kUSBIsoc, kUSBBulk (2), kUSBInterrupt
  uint16_t maxPacketSize = 0;
  uint8_t interval = 0;
};

// One control request on the default pipe (ControlRequestTO). `data` holds wLength bytes; on
// return `lengthDone` holds the number of bytes moved.
struct ControlRequest {
  uint8_t bmRequestType = 0;
  uint8_t bRequest = 0;
  uint16_t wValue = 0;
  uint16_t wIndex = 0;
  uint16_t wLength = 0;
  void* data = nullptr;
  uint32_t noDataTimeoutMs = 0;
  uint32_t completionTimeoutMs = 0;
  uint32_t lengthDone = 0;
};

// ---------------------------------------------------------------------------------------------
// The device object of a USB device (IOUSBDeviceInterface): string indexes, reset, re-enumerate.
class UsbDevice {
 public:
  virtual ~UsbDevice() = default;
  UsbDevice(const UsbDevice&) = delete;
  UsbDevice& operator=(const UsbDevice&) = delete;

  virtual IOReturn open() = 0;         // USBDeviceOpen
  virtual IOReturn close() = 0;        // USBDeviceClose
  virtual IOReturn resetDevice() = 0;  // ResetDevice (port reset)
  // USBDeviceReEnumerate: the device leaves the bus (its services are terminated) and enumerates
  // again as new services at the same location ID.
  virtual IOReturn reEnumerate(uint32_t options) = 0;
  virtual IOReturn manufacturerStringIndex(uint8_t* index) = 0;  // USBGetManufacturerStringIndex
  virtual IOReturn productStringIndex(uint8_t* index) = 0;       // USBGetProductStringIndex
  virtual IOReturn serialNumberStringIndex(uint8_t* index) = 0;  // USBGetSerialNumberStringIndex

 protected:
  UsbDevice() = default;
};

// ---------------------------------------------------------------------------------------------
// The interface object of one printer-class interface (IOUSBInterfaceInterface). Counted
// references are std::shared_ptr copies (AddRef/Release).
class UsbInterface {
 public:
  virtual ~UsbInterface() = default;
  UsbInterface(const UsbInterface&) = delete;
  UsbInterface& operator=(const UsbInterface&) = delete;

  virtual IOReturn interfaceClass(uint8_t* value) = 0;      // GetInterfaceClass
  virtual IOReturn interfaceSubClass(uint8_t* value) = 0;   // GetInterfaceSubClass
  virtual IOReturn deviceVendor(uint16_t* value) = 0;       // GetDeviceVendor
  virtual IOReturn deviceProduct(uint16_t* value) = 0;      // GetDeviceProduct
  virtual IOReturn locationID(uint32_t* value) = 0;         // GetLocationID
  virtual IOReturn configurationValue(uint8_t* value) = 0;  // GetConfigurationValue
  virtual IOReturn interfaceNumber(uint8_t* value) = 0;     // GetInterfaceNumber
  virtual IOReturn alternateSetting(uint8_t* value) = 0;    // GetAlternateSetting

  // GetDevice + the device user client: the device that carries this interface, or null.
  virtual std::shared_ptr<UsbDevice> device() = 0;

  // USBInterfaceOpenSeize: exclusive use of the interface. kIOReturnExclusiveAccess while another
  // program holds it; kIOReturnNotPrivileged when the process may not open the device.
  virtual IOReturn openSeize() = 0;
  virtual IOReturn close() = 0;  // USBInterfaceClose

  // Pipes of the open interface: references 1..numEndpoints; 0 is the default control pipe.
  virtual IOReturn numEndpoints(uint8_t* count) = 0;  // GetNumEndpoints
  virtual IOReturn pipeProperties(uint8_t pipeRef, PipeProperties* properties) = 0;

  // ControlRequestTO on pipe 0 (the interface need not be open).
  virtual IOReturn controlRequest(uint8_t pipeRef, ControlRequest& request) = 0;

  // ReadPipeTO: reads up to *size bytes; on return *size holds the bytes received. A read of
  // 0 bytes completes at once with 0 bytes.
  virtual IOReturn readPipe(uint8_t pipeRef, void* buffer, uint32_t* size, uint32_t noDataTimeoutMs,
                            uint32_t completionTimeoutMs) = 0;
  // What already arrived on a bulk-in pipe and no read has taken, without waiting for anything:
  // up to *size bytes into `buffer`, *size set to the count (0: nothing waits). Each backend
  // keeps what a device sends between reads (libusb: a read always pending on the pipe; the
  // virtual bus: an answer that came after its read gave up, and what the device has ready), so
  // this costs no transfer time-out. A failure the pipe met meanwhile (a stall) is answered here.
  virtual IOReturn readArrived(uint8_t pipeRef, void* buffer, uint32_t* size) = 0;
  // WritePipeTO: writes `size` bytes in one transfer.
  virtual IOReturn writePipe(uint8_t pipeRef, const void* buffer, uint32_t size, uint32_t noDataTimeoutMs,
                             uint32_t completionTimeoutMs) = 0;

 protected:
  UsbInterface() = default;
};

// ---------------------------------------------------------------------------------------------
// An interest registration (IOServiceAddInterestNotification); destroying it ends the
// registration (IOObjectRelease of the notification). Main thread.
class InterestRegistration {
 public:
  virtual ~InterestRegistration() = default;
};

// The registry and notification port: arrival and removal of printer-class interfaces
// (class 7, subclass 1), interest messages per service. Main thread only (see above).
class UsbRegistry {
 public:
  virtual ~UsbRegistry() = default;
  UsbRegistry(const UsbRegistry&) = delete;
  UsbRegistry& operator=(const UsbRegistry&) = delete;

  using ServiceCallback = std::function<void(const ServiceHandle& service)>;
  // Registers for arrival ("IOServiceMatched") and removal ("IOServiceTerminate") of
  // printer-class interfaces. The services already present are reported through `matched` before
  // this call returns (this is how printers attached before launch are found); later arrivals
  // and removals come from the event loop. Calling it again replaces the callbacks.
  virtual void addInterfaceNotifications(ServiceCallback matched, ServiceCallback terminated) = 0;

  // IOCreatePlugInInterfaceForService + QueryInterface: the interface object of a service, or
  // null with *result set to the failure (kIOReturnNoDevice once the service has gone).
  virtual std::shared_ptr<UsbInterface> createInterface(const ServiceHandle& service, IOReturn* result) = 0;

  // "IOGeneralInterest" messages for a service: kIOMessageServiceIsTerminated when it goes and
  // whatever else the backend can tell (the virtual bus sends any message a test asks for).
  using InterestCallback =
      std::function<void(const ServiceHandle& service, uint32_t messageType, void* messageArgument)>;
  virtual std::unique_ptr<InterestRegistration> addInterestNotification(const ServiceHandle& service,
                                                                        InterestCallback callback,
                                                                        IOReturn* result) = 0;

  // Whether the service is still registered (false once it was terminated). Any thread.
  virtual bool isServiceAlive(const ServiceHandle& service) = 0;

 protected:
  UsbRegistry() = default;
};

}  // namespace usb
