#include "usb/libusb/LibusbDevice.h"

#include "support/BlockingCalls.h"
#include "usb/libusb/LibusbErrors.h"

namespace usb::libusb {

LibusbDevice::LibusbDevice(std::shared_ptr<LibusbEnumeration> enumeration,
                           const LibusbInterfaceDescription& description)
    : enumeration_(std::move(enumeration)),
      manufacturerIndex_(description.manufacturerStringIndex),
      productIndex_(description.productStringIndex),
      serialNumberIndex_(description.serialNumberStringIndex) {}

IOReturn LibusbDevice::open() {
  pm::enterBlockingCall("LibusbDevice::open");
  if (!enumeration_->isAlive()) return kIOReturnNoDevice;
  if (open_) return kIOReturnSuccess;
  IOReturn result = kIOReturnSuccess;
  open_ = enumeration_->openDevice(&result);
  return result;
}

IOReturn LibusbDevice::close() {
  open_.reset();
  return enumeration_->isAlive() ? kIOReturnSuccess : kIOReturnNoDevice;
}

IOReturn LibusbDevice::resetDevice() {
  pm::enterBlockingCall("LibusbDevice::resetDevice");
  IOReturn openResult = kIOReturnSuccess;
  const int result = reset(&openResult);
  if (openResult != kIOReturnSuccess) return openResult;
  // NOT_FOUND: the device came back as another one; the reset itself was done.
  return result == LIBUSB_ERROR_NOT_FOUND ? kIOReturnSuccess : ioReturnFromLibusb(result);
}

IOReturn LibusbDevice::reEnumerate(uint32_t /*options*/) {
  pm::enterBlockingCall("LibusbDevice::reEnumerate");
  IOReturn openResult = kIOReturnSuccess;
  const int result = reset(&openResult);
  if (openResult != kIOReturnSuccess) return openResult;
  if (result == LIBUSB_ERROR_NOT_FOUND) return kIOReturnSuccess;  // returns through hot-plug
  if (result == LIBUSB_SUCCESS) enumeration_->requestReEnumeration();
  return ioReturnFromLibusb(result);
}

int LibusbDevice::reset(IOReturn* openResult) {
  *openResult = kIOReturnSuccess;
  if (!enumeration_->isAlive()) {
    *openResult = kIOReturnNoDevice;
    return LIBUSB_ERROR_NO_DEVICE;
  }
  std::shared_ptr<LibusbOpenDevice> open = open_;
  if (!open) open = enumeration_->openDevice(openResult);
  if (!open) return LIBUSB_ERROR_OTHER;
  return libusb_reset_device(open->get());
}

IOReturn LibusbDevice::answer(uint8_t* out, uint8_t value) const {
  if (out == nullptr) return kIOReturnBadArgument;
  if (!enumeration_->isAlive()) return kIOReturnNoDevice;
  *out = value;
  return kIOReturnSuccess;
}

IOReturn LibusbDevice::manufacturerStringIndex(uint8_t* index) { return answer(index, manufacturerIndex_); }
IOReturn LibusbDevice::productStringIndex(uint8_t* index) { return answer(index, productIndex_); }
IOReturn LibusbDevice::serialNumberStringIndex(uint8_t* index) { return answer(index, serialNumberIndex_); }

}  // namespace usb::libusb
