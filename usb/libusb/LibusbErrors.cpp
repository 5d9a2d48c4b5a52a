#include "usb/libusb/LibusbErrors.h"

#include <libusb.h>

#include "support/BlockingCalls.h"

namespace usb::libusb {

namespace {

IOReturn mappedLibusbError(int libusbResult) {
  switch (libusbResult) {
    case LIBUSB_ERROR_BUSY:
      return kIOReturnExclusiveAccess;
    case LIBUSB_ERROR_TIMEOUT:
      return kIOReturnTimeout;
    case LIBUSB_ERROR_NO_DEVICE:
      return kIOReturnNoDevice;
    case LIBUSB_ERROR_PIPE:
      return kIOUSBPipeStalled;
    case LIBUSB_ERROR_ACCESS:
      return kIOReturnNotPrivileged;
    default:
      return kIOReturnError;
  }
}

}  // namespace

IOReturn ioReturnFromLibusb(int libusbResult) {
  if (libusbResult >= 0) return kIOReturnSuccess;
  const IOReturn result = mappedLibusbError(libusbResult);
  // libusb's names are static strings.
  pm::noteFailureCause(result, libusb_error_name(libusbResult));
  return result;
}

unsigned int libusbTimeoutMs(uint32_t noDataTimeoutMs, uint32_t completionTimeoutMs) {
  return completionTimeoutMs != 0 ? completionTimeoutMs : noDataTimeoutMs;
}

}  // namespace usb::libusb
