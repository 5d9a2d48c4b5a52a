#include "usb/libusb/LibusbErrors.h"

#include <libusb.h>

namespace usb::libusb {

IOReturn ioReturnFromLibusb(int libusbResult) {
  if (libusbResult >= 0) return kIOReturnSuccess;
  switch (libusbResult) {
    case LIBUSB_ERROR_BUSY: return kIOReturnExclusiveAccess;
    case LIBUSB_ERROR_TIMEOUT: return kIOReturnTimeout;
    case LIBUSB_ERROR_NO_DEVICE: return kIOReturnNoDevice;
    case LIBUSB_ERROR_PIPE: return kIOUSBPipeStalled;
    case LIBUSB_ERROR_ACCESS: return kIOReturnNotPrivileged;
    default: return kIOReturnError;
  }
}

unsigned int libusbTimeoutMs(uint32_t noDataTimeoutMs, uint32_t completionTimeoutMs) {
  return completionTimeoutMs != 0 ? completionTimeoutMs : noDataTimeoutMs;
}

}  // namespace usb::libusb
