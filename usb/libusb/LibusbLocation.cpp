#include "usb/libusb/LibusbLocation.h"

#include <algorithm>

namespace usb::libusb {

uint32_t locationIdFromPortPath(uint8_t busNumber, std::span<const uint8_t> portPath) {
  constexpr size_t kMaxDepth = 6;  // six nibbles below the bus byte
  uint32_t location = static_cast<uint32_t>(busNumber) << 24;
  const size_t depth = std::min(portPath.size(), kMaxDepth);
  for (size_t i = 0; i < depth; ++i) {
    const uint32_t port = std::min<uint32_t>(portPath[i], 0xF);
    location |= port << (20 - 4 * i);
  }
  return location;
}

}  // namespace usb::libusb
