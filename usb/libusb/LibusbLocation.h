#pragma once
// USB location IDs in the form the printer code keys its device information by (the macOS form):
// the bus number in the top 8 bits, then one nibble per hub port of the path from the root hub,
// most significant first, the rest zero. Bus 1, port path 4.2 -> 0x01420000. Pure; any thread.
//
// A nibble holds ports 1 to 15; a port above 15 (large root hubs) is written as 15, and a path
// deeper than six hubs keeps its first six ports, as on macOS. Such devices may then share a
// location ID; the location is only used to recognise a printer on the same port again.

#include <cstdint>
#include <span>

namespace usb::libusb {

uint32_t locationIdFromPortPath(uint8_t busNumber, std::span<const uint8_t> portPath);

}  // namespace usb::libusb
