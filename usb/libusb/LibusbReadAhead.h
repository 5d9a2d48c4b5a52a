#pragma once
// Bulk-in reads in whole packets. A device sends its data in packets of up to wMaxPacketSize, and
// a read shorter than the packet that arrives fails with an overflow: the host controller cannot
// take part of a packet. Printers differ in how they packetise a reply (the header in a packet of
// its own, or header and body together), and the reply reader asks for the 8-byte header first.
// So each read asks the device for a multiple of wMaxPacketSize and keeps what came beyond the
// caller's count; the next read of the same pipe gets that first.
//
// A read served from the surplus goes on with a new transfer only when the transfer that brought
// the surplus was filled (the device may have more of the same message); when it ended with a
// short packet the read ends with the surplus, as a read of that transfer would have.
//
// The owner drops the surplus when the interface closes and when it writes to the device: the
// reply to a new command must not begin with what was left unread of an earlier one.
//
// Threading: one thread at a time, like the interface object that owns it.

#include <cstdint>
#include <functional>
#include <vector>

#include "support/IOReturn.h"

namespace usb::libusb {

class PacketReadAhead {
 public:
  // One transfer of `length` bytes into `buffer`; sets *received and answers its IOReturn.
  using Transfer = std::function<IOReturn(unsigned char* buffer, uint32_t length, uint32_t* received)>;

  // Reads up to `size` bytes into `out`, *done set to the count delivered. `packetSize` 0 reads
  // exactly what is asked for.
  IOReturn read(unsigned char* out, uint32_t size, uint32_t* done, uint16_t packetSize,
                const Transfer& transfer);
  void clear();

 private:
  std::vector<unsigned char> surplus_;
  bool surplusEndsTransfer_ = false;
};

}  // namespace usb::libusb
