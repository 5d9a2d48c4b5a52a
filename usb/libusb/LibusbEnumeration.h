#pragma once
// One enumeration of one USB device: what the device's services, interface objects and device
// object share. It ends when the device leaves the bus or re-enumerates; from then on every object
// of it answers kIOReturnNoDevice. A device that comes back is a new enumeration.
//
// Threading: any thread, except markTerminated (main thread, the registry).

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "support/IOReturn.h"
#include "usb/libusb/LibusbHandles.h"

namespace usb::libusb {

// The one open handle of an enumeration and the interfaces claimed through it. Shared by every
// object of the enumeration, so that a port reset through the device object keeps the claims the
// interface objects hold (libusb claims them again after the reset). Any thread.
class LibusbOpenDevice {
 public:
  explicit LibusbOpenDevice(DeviceHandle handle) : handle_(std::move(handle)) {}
  ~LibusbOpenDevice();  // releases what is still claimed, then closes

  libusb_device_handle* get() const { return handle_.get(); }

  // Claims the interface for one owner: kIOReturnExclusiveAccess while another owner in this
  // process or another program holds it; a kernel driver (usblp) is detached and comes back
  // when the interface is released.
  IOReturn claim(uint8_t interfaceNumber);
  IOReturn release(uint8_t interfaceNumber);

 private:
  DeviceHandle handle_;
  std::mutex mutex_;
  std::set<uint8_t> claimed_;
};

class LibusbEnumeration : public std::enable_shared_from_this<LibusbEnumeration> {
 public:
  // `reEnumerationRequest` asks the registry, from any thread, to replace the enumeration it is
  // given by a new one of the same device.
  using ReEnumerationRequest = std::function<void(std::shared_ptr<LibusbEnumeration>)>;
  LibusbEnumeration(DeviceRef device, ReEnumerationRequest reEnumerationRequest);

  const DeviceRef& device() const { return device_; }
  bool isAlive() const { return alive_.load(); }
  void markTerminated() { alive_.store(false); }  // main thread

  // The shared open handle, opened on first need and closed when its last holder lets it go.
  // Null with *result set when the device cannot be opened (kIOReturnNotPrivileged when the
  // process may not, kIOReturnNoDevice once the enumeration has ended).
  std::shared_ptr<LibusbOpenDevice> openDevice(IOReturn* result);

  // After a port reset that kept the device on the bus: the registry ends this enumeration and
  // reports the device again as new services, as a re-enumeration would.
  void requestReEnumeration();

 private:
  const DeviceRef device_;
  const ReEnumerationRequest reEnumerationRequest_;
  std::atomic<bool> alive_{true};
  std::mutex mutex_;
  std::weak_ptr<LibusbOpenDevice> open_;
};

}  // namespace usb::libusb
