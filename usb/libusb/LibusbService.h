#pragma once
// The service token of one printer-class interface of one device enumeration: what a
// usb::ServiceHandle of this backend carries. Immutable after creation; any thread.

#include <memory>

#include "usb/UsbPlatform.h"
#include "usb/libusb/LibusbDescriptors.h"
#include "usb/libusb/LibusbEnumeration.h"

namespace usb::libusb {

class LibusbServiceToken final : public ServiceHandle::Token {
 public:
  LibusbServiceToken(std::shared_ptr<LibusbEnumeration> enumeration, LibusbInterfaceDescription description);

  // The token of a handle made by this backend, or null (an empty or foreign handle).
  static std::shared_ptr<const LibusbServiceToken> of(const ServiceHandle& service);

  bool isAlive() const { return enumeration->isAlive(); }

  const std::shared_ptr<LibusbEnumeration> enumeration;
  const LibusbInterfaceDescription description;
};

}  // namespace usb::libusb
