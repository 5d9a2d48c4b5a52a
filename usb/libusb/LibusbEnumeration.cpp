#include "usb/libusb/LibusbEnumeration.h"

#include "usb/libusb/LibusbErrors.h"

namespace usb::libusb {

// ---- LibusbOpenDevice -------------------------------------------------------------------------

LibusbOpenDevice::~LibusbOpenDevice() {
  for (const uint8_t interfaceNumber : claimed_) libusb_release_interface(handle_.get(), interfaceNumber);
}

IOReturn LibusbOpenDevice::claim(uint8_t interfaceNumber) {
  const std::lock_guard lock(mutex_);
  if (claimed_.count(interfaceNumber) != 0) return kIOReturnExclusiveAccess;
  const int result = libusb_claim_interface(handle_.get(), interfaceNumber);
  if (result == LIBUSB_SUCCESS) claimed_.insert(interfaceNumber);
  return ioReturnFromLibusb(result);
}

IOReturn LibusbOpenDevice::release(uint8_t interfaceNumber) {
  const std::lock_guard lock(mutex_);
  if (claimed_.erase(interfaceNumber) == 0) return kIOReturnSuccess;
  return ioReturnFromLibusb(libusb_release_interface(handle_.get(), interfaceNumber));
}

// ---- LibusbEnumeration ------------------------------------------------------------------------

LibusbEnumeration::LibusbEnumeration(DeviceRef device, ReEnumerationRequest reEnumerationRequest)
    : device_(std::move(device)), reEnumerationRequest_(std::move(reEnumerationRequest)) {}

std::shared_ptr<LibusbOpenDevice> LibusbEnumeration::openDevice(IOReturn* result) {
  if (!isAlive()) {
    *result = kIOReturnNoDevice;
    return nullptr;
  }
  const std::lock_guard lock(mutex_);
  if (auto open = open_.lock()) {
    *result = kIOReturnSuccess;
    return open;
  }
  int error = 0;
  DeviceHandle handle = DeviceHandle::open(device_, &error);
  *result = ioReturnFromLibusb(error);
  if (!handle) return nullptr;
  // Not every platform can detach kernel drivers; where it cannot, a claim simply fails as busy.
  libusb_set_auto_detach_kernel_driver(handle.get(), 1);
  auto open = std::make_shared<LibusbOpenDevice>(std::move(handle));
  open_ = open;
  return open;
}

void LibusbEnumeration::requestReEnumeration() {
  if (reEnumerationRequest_) reEnumerationRequest_(shared_from_this());
}

}  // namespace usb::libusb
