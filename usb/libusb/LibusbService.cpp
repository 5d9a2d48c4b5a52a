#include "usb/libusb/LibusbService.h"

#include <atomic>

namespace usb::libusb {

namespace {
// Service ids are unique within the process (log lines name services by them), across registries.
uint32_t nextServiceId() {
  static std::atomic<uint32_t> next{1};
  return next.fetch_add(1);
}
}  // namespace

LibusbServiceToken::LibusbServiceToken(std::shared_ptr<LibusbEnumeration> enumeration_,
                                       LibusbInterfaceDescription description_)
    : enumeration(std::move(enumeration_)), description(std::move(description_)) {
  id = nextServiceId();
}

std::shared_ptr<const LibusbServiceToken> LibusbServiceToken::of(const ServiceHandle& service) {
  return std::dynamic_pointer_cast<const LibusbServiceToken>(service.token());
}

}  // namespace usb::libusb
