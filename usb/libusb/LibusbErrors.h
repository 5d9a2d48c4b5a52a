#pragma once
// libusb results as IOReturn codes, so that the printer code sees the same results on Linux as on
// the platform it was written for. Pure functions; any thread.

#include "support/IOReturn.h"

namespace usb::libusb {

// A libusb result: 0 and positive values (byte counts) are success; the errors map as
//   BUSY -> kIOReturnExclusiveAccess (another program holds the interface),
//   TIMEOUT -> kIOReturnTimeout, NO_DEVICE -> kIOReturnNoDevice, PIPE -> kIOUSBPipeStalled,
//   ACCESS -> kIOReturnNotPrivileged, anything else -> kIOReturnError.
// Every error's libusb name is noted as the cause of the mapped code (pm::noteFailureCause), so
// log lines still tell LIBUSB_ERROR_IO from LIBUSB_ERROR_OVERFLOW.
IOReturn ioReturnFromLibusb(int libusbResult);

// libusb has one time-out per transfer where IOKit has two (no data, completion). The completion
// time-out is used (0 means none); when only the no-data time-out is given it bounds the transfer
// instead, so a transfer that had a limit keeps one. A device that trickles data slower than the
// no-data time-out cannot be told apart from a silent one here.
unsigned int libusbTimeoutMs(uint32_t noDataTimeoutMs, uint32_t completionTimeoutMs);

}  // namespace usb::libusb
