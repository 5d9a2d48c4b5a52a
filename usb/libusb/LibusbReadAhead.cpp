#include "usb/libusb/LibusbReadAhead.h"

#include <algorithm>
#include <cstring>

namespace usb::libusb {

namespace {

// wMaxPacketSize bits 11 and 12 count extra transactions per microframe, not bytes.
constexpr uint16_t kPacketSizeMask = 0x07FF;

// `size` rounded up to whole packets; `size` itself when that would not fit 32 bits.
uint32_t wholePackets(uint32_t size, uint16_t packetSize) {
  if (packetSize == 0) return size;
  const uint64_t rounded = (uint64_t{size} + packetSize - 1) / packetSize * packetSize;
  return rounded > UINT32_MAX ? size : static_cast<uint32_t>(rounded);
}

}  // namespace

IOReturn PacketReadAhead::read(unsigned char* out, uint32_t size, uint32_t* done, uint16_t packetSize,
                               const Transfer& transfer) {
  const uint32_t fromSurplus = std::min<uint32_t>(size, static_cast<uint32_t>(surplus_.size()));
  if (fromSurplus > 0) {
    std::memcpy(out, surplus_.data(), fromSurplus);
    surplus_.erase(surplus_.begin(), surplus_.begin() + fromSurplus);
  }
  *done = fromSurplus;
  if (fromSurplus == size || (fromSurplus > 0 && surplusEndsTransfer_)) return kIOReturnSuccess;

  const uint32_t wanted = size - fromSurplus;
  const uint32_t length = wholePackets(wanted, packetSize & kPacketSizeMask);
  uint32_t brought = 0;  // what the transfer brought
  IOReturn result = kIOReturnSuccess;
  if (length == wanted) {
    result = transfer(out + fromSurplus, length, &brought);
    brought = std::min(brought, length);
    *done += brought;
  } else {
    std::vector<unsigned char> packets(length);
    result = transfer(packets.data(), length, &brought);
    brought = std::min(brought, length);
    const uint32_t taken = std::min(brought, wanted);
    if (taken > 0) std::memcpy(out + fromSurplus, packets.data(), taken);
    surplus_.assign(packets.begin() + taken, packets.begin() + brought);
    *done += taken;
  }
  surplusEndsTransfer_ = brought < length;
  return result;
}

void PacketReadAhead::clear() {
  surplus_.clear();
  surplusEndsTransfer_ = false;
}

}  // namespace usb::libusb
