#pragma once
// The device object of a USB device on libusb: string indexes, port reset, re-enumeration.
//
// Threading: one thread at a time, like the interface object that made it. Once the device's
// enumeration has ended every call answers kIOReturnNoDevice.
//
// open() holds the device's shared handle (the one the interface objects claim through), so a
// reset made while the printer interface is claimed keeps the claim. Reset and re-enumeration
// work without open() too: they open the device for the one call.
//
// Re-enumeration: Linux offers no "detach and enumerate again" to an unprivileged program, so it
// is a port reset (libusb_reset_device). When the device comes back with other descriptors
// (a printer restarting into its update mode), libusb answers LIBUSB_ERROR_NOT_FOUND: the kernel
// re-enumerated it and it returns through hot-plug, which is success here. When it comes back
// unchanged the kernel keeps it, so the registry ends the services and reports the device again
// as new ones: callers that re-enumerate wait for exactly that.

#include <memory>

#include "usb/UsbPlatform.h"
#include "usb/libusb/LibusbDescriptors.h"
#include "usb/libusb/LibusbEnumeration.h"

namespace usb::libusb {

class LibusbDevice final : public UsbDevice {
 public:
  LibusbDevice(std::shared_ptr<LibusbEnumeration> enumeration, const LibusbInterfaceDescription& description);

  IOReturn open() override;
  IOReturn close() override;
  IOReturn resetDevice() override;
  IOReturn reEnumerate(uint32_t options) override;
  IOReturn manufacturerStringIndex(uint8_t* index) override;
  IOReturn productStringIndex(uint8_t* index) override;
  IOReturn serialNumberStringIndex(uint8_t* index) override;

 private:
  IOReturn answer(uint8_t* out, uint8_t value) const;
  int reset(IOReturn* openResult);  // the libusb result of the reset

  const std::shared_ptr<LibusbEnumeration> enumeration_;
  const uint8_t manufacturerIndex_;
  const uint8_t productIndex_;
  const uint8_t serialNumberIndex_;
  std::shared_ptr<LibusbOpenDevice> open_;  // set between open() and close()
};

}  // namespace usb::libusb
