#pragma once
// An in-process USB bus behind the platform seam, for tests and the demo mode. A virtual device is
// described by its descriptors and answered by a VirtualDeviceHandler (the virtual printer of
// sim/, or a test's own). Devices attach, detach, re-enumerate (a new service at the same
// location), can be held by another program, and can send interest messages.
//
// Threading: VirtualUsbBus implements UsbRegistry, whose calls are main-thread only, and delivers
// every registry callback on the main thread from the event loop. The device controls below
// (attach, detach, reEnumerate, setHeldByOtherProgram, sendInterestMessage, ...) may be called
// from any thread, including from inside a handler while it answers a transfer; they post their
// notifications to the main thread. Handlers are called on the thread that makes the transfer
// (a printer's command queue), one transfer at a time per device; a handler must not make a
// transfer to its own device. Without a QCoreApplication nothing is delivered and delays are not
// waited for.
//
// Order of notifications: they are delivered in the order the bus changed. A device that leaves
// first sends kIOMessageServiceIsTerminated to the interest callbacks of its service, then the
// registry's `terminated` callback runs. `terminated` is reported only for services that were
// reported through `matched`. Only interfaces of the printer class (7, any subclass) are reported.
//
// Transfers: a device that leaves while a transfer waits for its answer (latency or no answer)
// ends that transfer with kIOReturnNoDevice at once. A bulk-in answer whose latency exceeds the
// caller's time-out is not lost: the read ends with kIOReturnTimeout and the answer stays pending
// on the interface object, as a host controller's transfer stays queued, for the next read (or
// UsbInterface::readArrived once its time has come); closing the interface drops it. An answer a handler gives without latency
// stands even when the handler itself made the device leave, so that a virtual printer can take
// a command and restart. A time-out of 0 (both no-data and completion) waits without limit.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

#include "usb/UsbPlatform.h"

namespace usb::virt {

// The descriptors of one virtual device with one interface.
struct VirtualDeviceDescription {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint32_t locationId = 0;  // 0: the bus assigns the next free location
  QString manufacturer{};   // empty: string index 0 (no string)
  QString product{};
  QString serialNumber{};
  std::vector<uint16_t> languageIds{0x0409};  // empty: the language list request fails
  QByteArray deviceId1284{};                  // IEEE 1284 device ID text, without its length prefix
  uint32_t stringLatencyMs = 0;               // each string descriptor answers this late (device time)
  uint8_t interfaceClass = kUSBPrintingClass;
  uint8_t interfaceSubClass = kUSBPrintingSubClass;
  uint8_t interfaceProtocol = 2;  // bidirectional
  uint8_t configurationValue = 1;
  uint8_t interfaceNumber = 0;
  uint8_t alternateSetting = 0;
  // Endpoints of the interface in pipe order (pipe reference = index + 1).
  std::vector<PipeProperties> endpoints{
      PipeProperties{kUSBOut, 1, kUSBBulk, 512, 0},
      PipeProperties{kUSBIn, 2, kUSBBulk, 512, 0},
  };
};

// The setup packet of a control request as the device receives it.
struct SetupPacket {
  uint8_t bmRequestType = 0;
  uint8_t bRequest = 0;
  uint16_t wValue = 0;
  uint16_t wIndex = 0;
  uint16_t wLength = 0;
};

// How a device answers one transfer. Durations are in milliseconds of device time (see
// VirtualUsbBus::setTimeScale).
struct TransferResult {
  IOReturn status = kIOReturnSuccess;  // e.g. kIOUSBPipeStalled for a stall
  QByteArray data;                     // IN transfers: the bytes sent (truncated to the request)
  uint32_t latencyMs = 0;              // answer after this long; past the caller's time-out the
                                       // transfer ends with kIOReturnTimeout instead
  bool noAnswer = false;               // never answers: the caller's time-out ends the transfer

  static TransferResult ok(QByteArray bytes = {}) { return {kIOReturnSuccess, std::move(bytes), 0, false}; }
  static TransferResult failure(IOReturn code) { return {code, {}, 0, false}; }
  static TransferResult stall() { return failure(kIOUSBPipeStalled); }
  static TransferResult silent() { return {kIOReturnSuccess, {}, 0, true}; }
};

class VirtualUsbDevice;

// Answers the transfers of one virtual device. Called on the transferring thread.
class VirtualDeviceHandler {
 public:
  virtual ~VirtualDeviceHandler() = default;
  // Every control request on pipe 0 comes here first. std::nullopt lets the bus answer it from
  // the description: GET_DESCRIPTOR for strings and the language list, the printer class's
  // GET_DEVICE_ID (length prefix added), SOFT_RESET; anything else stalls.
  virtual std::optional<TransferResult> controlRequest(VirtualUsbDevice& device, const SetupPacket& setup,
                                                       const QByteArray& outData) {
    (void)device;
    (void)setup;
    (void)outData;
    return std::nullopt;
  }
  // A bulk OUT transfer of `data` to the endpoint number.
  virtual TransferResult bulkOut(VirtualUsbDevice& device, uint8_t endpoint, const QByteArray& data) = 0;
  // A bulk IN transfer of at most `maxLength` bytes from the endpoint number. A request of
  // 0 bytes never reaches the handler: it completes at once with 0 bytes.
  virtual TransferResult bulkIn(VirtualUsbDevice& device, uint8_t endpoint, uint32_t maxLength) = 0;
  // The host reset the port (ResetDevice) or sent the printer class SOFT_RESET.
  virtual void reset(VirtualUsbDevice& device) { (void)device; }
};

// One device on the bus. Owned by the bus; tests and handlers hold shared references.
class VirtualUsbDevice {
 public:
  virtual ~VirtualUsbDevice() = default;
  virtual VirtualDeviceDescription description() const = 0;
  // Changes the descriptors; a changed description shows at the next enumeration (attach or
  // re-enumeration), as a real device's would after a restart.
  virtual void setDescription(const VirtualDeviceDescription& description) = 0;
  virtual uint32_t locationId() const = 0;
  virtual bool isAttached() const = 0;
  // The service of the current enumeration; invalid while detached.
  virtual ServiceHandle service() const = 0;

  // Leaves the bus: pending transfers fail with kIOReturnNoDevice, every later call on objects of
  // this enumeration answers kIOReturnNoDevice, the interest callbacks get
  // kIOMessageServiceIsTerminated and the registry reports the removal.
  virtual void detach() = 0;
  // Comes back as a new service at the same location after `delayMs` (device time). A later
  // attach or detach calls off an attach still waiting for its delay; attaching an attached
  // device does nothing.
  virtual void attach(uint32_t delayMs = 0) = 0;
  // detach() now, attach(delayMs) after.
  virtual void reEnumerate(uint32_t delayMs = 0) = 0;

  // While held, openSeize answers kIOReturnExclusiveAccess.
  virtual void setHeldByOtherProgram(bool held) = 0;
  // Every openSeize answers this code instead of opening (0 restores normal behaviour); for
  // example kIOReturnNotPrivileged for a device the user may not open.
  virtual void setOpenResult(IOReturn result) = 0;
  // Delivers an interest message for the current service to its interest callbacks.
  virtual void sendInterestMessage(uint32_t messageType, void* argument = nullptr) = 0;
  // How long the device stays away when the host asks it to re-enumerate (UsbDevice::reEnumerate).
  // Default 0.
  virtual void setReEnumerationDelay(uint32_t delayMs) = 0;

  // Real time per device millisecond (the bus's VirtualUsbBus::timeScale).
  virtual double timeScale() const = 0;

  // Counters for tests.
  virtual int openCount() const = 0;  // successful openSeize calls, over all enumerations
  virtual bool isOpen() const = 0;    // an interface of this device is open now
};

// The bus. Destroying it takes every device off the bus without notifications; transfers in
// flight end with kIOReturnNoDevice, and device and interface objects still held stay safe to use.
class VirtualUsbBus final : public UsbRegistry {
 public:
  VirtualUsbBus();
  ~VirtualUsbBus() override;

  // Puts a device on the bus (at once, or after `delayMs` device time). A location ID of 0 in
  // the description gets 0x14100000 + n, n counting the devices of this bus from 1. Any thread.
  std::shared_ptr<VirtualUsbDevice> attach(const VirtualDeviceDescription& description,
                                           std::shared_ptr<VirtualDeviceHandler> handler,
                                           uint32_t delayMs = 0);
  // Every device put on this bus, attached or not, in the order they were put on it. Any thread.
  std::vector<std::shared_ptr<VirtualUsbDevice>> devices() const;

  // Real time per device millisecond: 0.01 makes a 5000 ms time-out elapse in 50 ms. Applies to
  // latencies, time-outs and attach delays. Default 1.0. Any thread.
  void setTimeScale(double realPerDevice);
  double timeScale() const;

  // UsbRegistry
  void addInterfaceNotifications(ServiceCallback matched, ServiceCallback terminated) override;
  std::shared_ptr<UsbInterface> createInterface(const ServiceHandle& service, IOReturn* result) override;
  std::unique_ptr<InterestRegistration> addInterestNotification(const ServiceHandle& service,
                                                                InterestCallback callback,
                                                                IOReturn* result) override;
  bool isServiceAlive(const ServiceHandle& service) override;

  struct State;  // shared with devices and interface objects, which may outlive the bus

 private:
  std::shared_ptr<State> state_;
};

}  // namespace usb::virt
