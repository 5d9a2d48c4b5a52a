#include "usb/libusb/LibusbInterface.h"

#include "support/BlockingCalls.h"
#include "usb/libusb/LibusbDevice.h"
#include "usb/libusb/LibusbErrors.h"

namespace usb::libusb {

LibusbInterface::LibusbInterface(std::shared_ptr<const LibusbServiceToken> service)
    : service_(std::move(service)), description_(service_->description) {}

LibusbInterface::~LibusbInterface() { close(); }

IOReturn LibusbInterface::interfaceClass(uint8_t* value) {
  return answer(value, description_.interfaceClass);
}
IOReturn LibusbInterface::interfaceSubClass(uint8_t* value) {
  return answer(value, description_.interfaceSubClass);
}
IOReturn LibusbInterface::deviceVendor(uint16_t* value) { return answer(value, description_.vendorId); }
IOReturn LibusbInterface::deviceProduct(uint16_t* value) { return answer(value, description_.productId); }
IOReturn LibusbInterface::locationID(uint32_t* value) { return answer(value, description_.locationId); }
IOReturn LibusbInterface::configurationValue(uint8_t* value) {
  return answer(value, description_.configurationValue);
}
IOReturn LibusbInterface::interfaceNumber(uint8_t* value) {
  return answer(value, description_.interfaceNumber);
}
IOReturn LibusbInterface::alternateSetting(uint8_t* value) {
  return answer(value, description_.alternateSetting);
}

std::shared_ptr<UsbDevice> LibusbInterface::device() {
  if (!service_->isAlive()) return nullptr;
  if (!device_) device_ = std::make_shared<LibusbDevice>(service_->enumeration, description_);
  return device_;
}

IOReturn LibusbInterface::openSeize() {
  pm::enterBlockingCall("LibusbInterface::openSeize");
  if (!service_->isAlive()) return kIOReturnNoDevice;
  if (open_) return kIOReturnSuccess;
  IOReturn result = kIOReturnSuccess;
  auto open = service_->enumeration->openDevice(&result);
  if (!open) return result;
  result = open->claim(description_.interfaceNumber);
  if (result != kIOReturnSuccess) return result;
  open_ = std::move(open);
  result = selectAlternateSetting();
  if (result != kIOReturnSuccess) {
    close();
    return result;
  }
  startInStreams();
  return result;
}

// The pipes are those of the first alternate setting; a kernel driver that ran before may have
// left the interface in another one (usblp picks the bidirectional setting).
IOReturn LibusbInterface::selectAlternateSetting() {
  if (description_.alternateSettingCount < 2) return kIOReturnSuccess;
  return ioReturnFromLibusb(libusb_set_interface_alt_setting(open_->get(), description_.interfaceNumber,
                                                             description_.alternateSetting));
}

IOReturn LibusbInterface::close() {
  inStreams_.clear();  // their reads end before the interface is released
  if (!open_) return kIOReturnSuccess;
  IOReturn result = open_->release(description_.interfaceNumber);
  open_.reset();  // the handle closes when no other object of the device holds it
  if (!service_->isAlive()) result = kIOReturnNoDevice;
  return result;
}

}  // namespace usb::libusb
