#pragma once
// The control requests a virtual device answers from its descriptors when its handler leaves
// them to the bus: string descriptors with the language list, the printer class's GET_DEVICE_ID
// and SOFT_RESET. Pure functions; any thread.

#include <cstdint>

#include "usb/virtual/VirtualUsbBus.h"

namespace usb::virt::detail {

// The string indexes a device reports for its strings; 0 stands for an absent (empty) string.
inline constexpr uint8_t kManufacturerStringIndex = 1;
inline constexpr uint8_t kProductStringIndex = 2;
inline constexpr uint8_t kSerialNumberStringIndex = 3;

struct StandardAnswer {
  TransferResult result;   // unanswerable requests stall
  bool softReset = false;  // the device must run its reset
};

StandardAnswer answerFromDescription(const VirtualDeviceDescription& description, const SetupPacket& setup);

// A string descriptor (bLength, 3, UTF-16LE); at most 126 characters fit in its length byte.
QByteArray stringDescriptor(const QString& text);

// The device ID as GET_DEVICE_ID sends it: a big-endian length that counts its own two bytes,
// then the text.
QByteArray deviceIdReply(const QByteArray& deviceId);

}  // namespace usb::virt::detail
