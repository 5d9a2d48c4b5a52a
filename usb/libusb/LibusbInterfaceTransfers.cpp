// LibusbInterface: pipes, control requests and bulk transfers.

#include <algorithm>
#include <climits>

#include "support/BlockingCalls.h"
#include "usb/libusb/LibusbErrors.h"
#include "usb/libusb/LibusbInterface.h"

namespace usb::libusb {

namespace {

constexpr uint8_t kRecipientMask = 0x1F;
constexpr uint8_t kRecipientInterface = 0x01;
constexpr uint8_t kRecipientEndpoint = 0x02;

bool addressesInterfaceOrEndpoint(uint8_t bmRequestType) {
  const uint8_t recipient = bmRequestType & kRecipientMask;
  return recipient == kRecipientInterface || recipient == kRecipientEndpoint;
}

// The printer class's GET_DEVICE_ID: the kernel lets it through to a printer interface that no
// one claimed or that its printer driver holds, so asking it needs no claim, and no detaching and
// re-attaching of that driver.
constexpr uint8_t kPrinterClass = 7;
bool isGetDeviceId(const ControlRequest& request, uint8_t interfaceClass) {
  return interfaceClass == kPrinterClass && request.bmRequestType == 0xA1 && request.bRequest == 0;
}

// libusb on Linux refuses a control transfer whose data stage exceeds 4096 bytes (its usbfs
// buffer), while callers ask for up to 0xFFFF bytes (GET_DEVICE_ID does). A device-to-host
// request is sent with the limit as wLength: the device answers what fits, and what it has to
// say is far shorter. A longer host-to-device data stage cannot be cut and is left to fail.
constexpr uint16_t kControlDataLimit = 4096;

int sendControl(libusb_device_handle* handle, ControlRequest& request) {
  const bool deviceToHost = (request.bmRequestType & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
  const uint16_t length = deviceToHost ? std::min(request.wLength, kControlDataLimit) : request.wLength;
  return libusb_control_transfer(handle, request.bmRequestType, request.bRequest, request.wValue,
                                 request.wIndex, static_cast<unsigned char*>(request.data), length,
                                 libusbTimeoutMs(request.noDataTimeoutMs, request.completionTimeoutMs));
}

}  // namespace

// ---- Pipes ------------------------------------------------------------------------------------

IOReturn LibusbInterface::numEndpoints(uint8_t* count) {
  return answer(count, static_cast<uint8_t>(description_.endpoints.size()));
}

IOReturn LibusbInterface::pipeProperties(uint8_t pipeRef, PipeProperties* properties) {
  if (pipeRef == 0 || pipeRef > description_.endpoints.size()) return kIOReturnBadArgument;
  return answer(properties, description_.endpoints[pipeRef - 1].properties);
}

// ---- Control requests (pipe 0) ----------------------------------------------------------------

IOReturn LibusbInterface::controlRequest(uint8_t pipeRef, ControlRequest& request) {
  pm::enterBlockingCall("LibusbInterface::controlRequest");
  request.lengthDone = 0;
  if (pipeRef != 0) return kIOReturnBadArgument;  // only the default pipe carries requests
  if (request.wLength != 0 && request.data == nullptr) return kIOReturnBadArgument;
  if (!service_->isAlive()) return kIOReturnNoDevice;
  if (!open_) return controlRequestOnTemporaryHandle(request);
  const int result = sendControl(open_->get(), request);
  if (result >= 0) request.lengthDone = static_cast<uint32_t>(result);
  return ioReturnFromLibusb(result);
}

IOReturn LibusbInterface::controlRequestOnTemporaryHandle(ControlRequest& request) {
  IOReturn status = kIOReturnSuccess;
  const auto open = service_->enumeration->openDevice(&status);
  if (!open) return status;
  const IOReturn claim = addressesInterfaceOrEndpoint(request.bmRequestType) &&
                                 !isGetDeviceId(request, description_.interfaceClass)
                             ? open->claim(description_.interfaceNumber)
                             : kIOReturnNotFound;  // nothing to claim
  // Unclaimed (another program holds the interface) the request is still tried: the kernel lets
  // the printer class's GET_DEVICE_ID through to a printer that is busy printing.
  const int result = sendControl(open->get(), request);
  if (result >= 0) request.lengthDone = static_cast<uint32_t>(result);
  if (claim == kIOReturnSuccess) open->release(description_.interfaceNumber);
  if (result < 0 && claim == kIOReturnExclusiveAccess) return claim;
  return ioReturnFromLibusb(result);
}

// ---- Bulk transfers ---------------------------------------------------------------------------

void LibusbInterface::startInStreams() {
  libusb_context* const context = service_->enumeration->device().context()->get();
  for (size_t i = 0; i < description_.endpoints.size(); ++i) {
    const LibusbEndpoint& endpoint = description_.endpoints[i];
    const PipeProperties& pipe = endpoint.properties;
    if (pipe.direction != kUSBIn || (pipe.transferType != kUSBBulk && pipe.transferType != kUSBInterrupt))
      continue;
    inStreams_[static_cast<uint8_t>(i + 1)] = std::make_unique<BulkInStream>(
        context, open_->get(), endpoint.address, pipe.maxPacketSize, pipe.transferType == kUSBInterrupt);
  }
}

BulkInStream* LibusbInterface::inStream(uint8_t pipeRef, IOReturn* result) {
  *result = kIOReturnSuccess;
  if (!service_->isAlive()) *result = kIOReturnNoDevice;
  else if (!open_) *result = kIOReturnError;
  else if (pipeRef == 0 || pipeRef > description_.endpoints.size()) *result = kIOReturnBadArgument;
  if (*result != kIOReturnSuccess) return nullptr;
  const auto stream = inStreams_.find(pipeRef);
  if (stream == inStreams_.end()) *result = kIOReturnBadArgument;  // not an IN pipe
  return stream != inStreams_.end() ? stream->second.get() : nullptr;
}

IOReturn LibusbInterface::readPipe(uint8_t pipeRef, void* buffer, uint32_t* size, uint32_t noDataTimeoutMs,
                                   uint32_t completionTimeoutMs) {
  pm::enterBlockingCall("LibusbInterface::readPipe");
  if (size == nullptr) return kIOReturnBadArgument;
  if (*size == 0) {
    // Nothing to read: no transfer, so a device with nothing to say cannot make it wait.
    if (!service_->isAlive()) return kIOReturnNoDevice;
    return kIOReturnSuccess;
  }
  const uint32_t wanted = *size;
  *size = 0;
  IOReturn result = kIOReturnSuccess;
  BulkInStream* const stream = inStream(pipeRef, &result);
  if (!stream) return result;
  if (buffer == nullptr) return kIOReturnBadArgument;
  return stream->read(static_cast<unsigned char*>(buffer), wanted, size,
                      libusbTimeoutMs(noDataTimeoutMs, completionTimeoutMs));
}

IOReturn LibusbInterface::readArrived(uint8_t pipeRef, void* buffer, uint32_t* size) {
  if (size == nullptr) return kIOReturnBadArgument;
  const uint32_t wanted = *size;
  *size = 0;
  IOReturn result = kIOReturnSuccess;
  BulkInStream* const stream = inStream(pipeRef, &result);
  if (!stream || wanted == 0) return result;
  if (buffer == nullptr) return kIOReturnBadArgument;
  return stream->takeArrived(static_cast<unsigned char*>(buffer), wanted, size);
}

IOReturn LibusbInterface::writePipe(uint8_t pipeRef, const void* buffer, uint32_t size,
                                    uint32_t noDataTimeoutMs, uint32_t completionTimeoutMs) {
  pm::enterBlockingCall("LibusbInterface::writePipe");
  uint32_t done = 0;
  // libusb takes a mutable pointer for both directions; it does not write to an OUT buffer.
  return bulkTransfer(pipeRef, kUSBOut, static_cast<unsigned char*>(const_cast<void*>(buffer)), size, &done,
                      noDataTimeoutMs, completionTimeoutMs);
}

IOReturn LibusbInterface::bulkTransfer(uint8_t pipeRef, uint8_t direction, unsigned char* buffer,
                                       uint32_t length, uint32_t* done, uint32_t noDataTimeoutMs,
                                       uint32_t completionTimeoutMs) {
  if (!service_->isAlive()) return kIOReturnNoDevice;
  if (!open_) return kIOReturnError;  // pipes exist only while the interface is open
  if (pipeRef == 0 || pipeRef > description_.endpoints.size()) return kIOReturnBadArgument;
  if (length > static_cast<uint32_t>(INT_MAX) || (length != 0 && buffer == nullptr)) {
    return kIOReturnBadArgument;
  }
  const LibusbEndpoint& endpoint = description_.endpoints[pipeRef - 1];
  if (endpoint.properties.direction != direction) return kIOReturnBadArgument;

  const unsigned int timeout = libusbTimeoutMs(noDataTimeoutMs, completionTimeoutMs);
  int transferred = 0;
  int result = LIBUSB_ERROR_INVALID_PARAM;
  if (endpoint.properties.transferType == kUSBBulk) {
    result = libusb_bulk_transfer(open_->get(), endpoint.address, buffer, static_cast<int>(length),
                                  &transferred, timeout);
  } else if (endpoint.properties.transferType == kUSBInterrupt) {
    result = libusb_interrupt_transfer(open_->get(), endpoint.address, buffer, static_cast<int>(length),
                                       &transferred, timeout);
  } else {
    return kIOReturnBadArgument;  // isochronous pipes are not offered for reads and writes
  }
  *done = static_cast<uint32_t>(transferred > 0 ? transferred : 0);
  if (result == LIBUSB_ERROR_PIPE) {
    // Clear the stall on both ends now, so that the caller's next transfer can go through.
    libusb_clear_halt(open_->get(), endpoint.address);
  }
  return ioReturnFromLibusb(result);
}

}  // namespace usb::libusb
