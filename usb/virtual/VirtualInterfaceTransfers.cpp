// Transfers of the interface object: the device's answer, its latency and the caller's time-outs.

#include <algorithm>
#include <cstring>
#include <optional>

#include "support/BlockingCalls.h"
#include "usb/virtual/VirtualInterface.h"

namespace usb::virt::detail {

namespace {

// The caller's limit: the shorter of the two time-outs that are set; none when both are 0.
std::optional<uint32_t> effectiveTimeout(uint32_t noDataTimeoutMs, uint32_t completionTimeoutMs) {
  if (noDataTimeoutMs == 0 && completionTimeoutMs == 0) return std::nullopt;
  if (noDataTimeoutMs == 0) return completionTimeoutMs;
  if (completionTimeoutMs == 0) return noDataTimeoutMs;
  return std::min(noDataTimeoutMs, completionTimeoutMs);
}

uint32_t copyIn(const QByteArray& data, void* buffer, uint32_t capacity) {
  const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(data.size()), capacity);
  if (n > 0) std::memcpy(buffer, data.constData(), n);
  return n;
}

}  // namespace

IOReturn ServiceBinding::awaitAnswer(const TransferResult& answer, uint32_t noDataTimeoutMs,
                                     uint32_t completionTimeoutMs) const {
  // An answer given at once was given before anything the handler did to the device.
  if (!answer.noAnswer && answer.latencyMs == 0) return answer.status;

  const std::optional<uint32_t> timeout = effectiveTimeout(noDataTimeoutMs, completionTimeoutMs);
  const bool timesOut = answer.noAnswer || (timeout && answer.latencyMs > *timeout);
  VirtualUsbBus::State& bus = state();
  std::unique_lock lock(bus.mutex);
  const auto gone = [this] { return !service->alive; };
  if (answer.noAnswer && !timeout) {
    bus.changed.wait(lock, gone);
  } else {
    const uint32_t waitMs = timesOut ? *timeout : answer.latencyMs;
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(bus.realTimeLocked(waitMs));
    bus.changed.wait_until(lock, deadline, gone);
  }
  if (!service->alive) return kIOReturnNoDevice;
  return timesOut ? kIOReturnTimeout : answer.status;
}

IOReturn ServiceBinding::sleepUntil(std::chrono::steady_clock::time_point until) const {
  VirtualUsbBus::State& bus = state();
  std::unique_lock lock(bus.mutex);
  bus.changed.wait_until(lock, until, [this] { return !service->alive; });
  return service->alive ? kIOReturnSuccess : kIOReturnNoDevice;
}

std::chrono::steady_clock::duration ServiceBinding::realTime(uint32_t deviceMs) const {
  std::lock_guard lock(state().mutex);
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(state().realTimeLocked(deviceMs));
}

IOReturn VirtualInterface::controlRequest(uint8_t pipeRef, ControlRequest& request) {
  pm::enterBlockingCall("VirtualInterface::controlRequest");
  request.lengthDone = 0;
  if (const IOReturn rc = binding_.liveness(); rc != kIOReturnSuccess) return rc;
  if (pipeRef != 0 || (request.wLength > 0 && request.data == nullptr)) return kIOReturnBadArgument;

  const SetupPacket setup{request.bmRequestType, request.bRequest, request.wValue, request.wIndex,
                          request.wLength};
  const bool deviceToHost = (request.bmRequestType & 0x80) != 0;
  const QByteArray outData =
      deviceToHost ? QByteArray() : QByteArray(static_cast<const char*>(request.data), request.wLength);
  const TransferResult answer = binding_.device->answerControl(binding_.description(), setup, outData);
  const IOReturn rc = binding_.awaitAnswer(answer, request.noDataTimeoutMs, request.completionTimeoutMs);
  if (rc != kIOReturnSuccess) return rc;
  request.lengthDone = deviceToHost ? copyIn(answer.data, request.data, request.wLength) : request.wLength;
  return kIOReturnSuccess;
}

IOReturn VirtualInterface::readPipe(uint8_t pipeRef, void* buffer, uint32_t* size, uint32_t noDataTimeoutMs,
                                    uint32_t completionTimeoutMs) {
  pm::enterBlockingCall("VirtualInterface::readPipe");
  if (size == nullptr) return kIOReturnBadArgument;
  const uint32_t capacity = *size;
  *size = 0;
  uint8_t endpoint = 0;
  if (const IOReturn rc = bulkEndpoint(pipeRef, kUSBIn, &endpoint); rc != kIOReturnSuccess) return rc;
  if (capacity == 0) return kIOReturnSuccess;
  if (buffer == nullptr) return kIOReturnBadArgument;

  const std::optional<uint32_t> timeout = effectiveTimeout(noDataTimeoutMs, completionTimeoutMs);
  const auto start = std::chrono::steady_clock::now();
  if (!pending_ || pending_->endpoint != endpoint) {
    TransferResult answer = binding_.device->answerBulkIn(endpoint, capacity);
    const bool late = !answer.noAnswer && timeout && answer.latencyMs > *timeout;
    if (!late) {
      const IOReturn rc = binding_.awaitAnswer(answer, noDataTimeoutMs, completionTimeoutMs);
      if (rc != kIOReturnSuccess) return rc;
      *size = copyIn(answer.data, buffer, capacity);
      return kIOReturnSuccess;
    }
    pending_ = PendingIn{endpoint, answer.status, std::move(answer.data),
                         start + binding_.realTime(answer.latencyMs)};
  }
  // An answer already on its way: it comes within this read's time-out, or the read gives up.
  // Decided by the times, not by when the sleep ends: at a small time scale a device
  // millisecond is shorter than a sleep's overshoot.
  const auto giveUp = timeout ? start + binding_.realTime(*timeout) : pending_->readyAt;
  const bool timesOut = pending_->readyAt > giveUp;
  if (const IOReturn rc = binding_.sleepUntil(timesOut ? giveUp : pending_->readyAt); rc != kIOReturnSuccess)
    return rc;
  if (timesOut) return kIOReturnTimeout;
  *size = capacity;
  return takePending(buffer, size);
}

IOReturn VirtualInterface::readArrived(uint8_t pipeRef, void* buffer, uint32_t* size) {
  if (size == nullptr) return kIOReturnBadArgument;
  const uint32_t capacity = *size;
  *size = 0;
  uint8_t endpoint = 0;
  if (const IOReturn rc = bulkEndpoint(pipeRef, kUSBIn, &endpoint); rc != kIOReturnSuccess) return rc;
  if (capacity == 0) return kIOReturnSuccess;
  if (buffer == nullptr) return kIOReturnBadArgument;
  if (!pending_ || pending_->endpoint != endpoint) {
    // What the device has ready it gives at once; what it answers later has not arrived yet.
    TransferResult answer = binding_.device->answerBulkIn(endpoint, capacity);
    if (answer.noAnswer) return kIOReturnSuccess;
    pending_ = PendingIn{endpoint, answer.status, std::move(answer.data),
                         std::chrono::steady_clock::now() + binding_.realTime(answer.latencyMs)};
  }
  if (pending_->readyAt > std::chrono::steady_clock::now()) return kIOReturnSuccess;
  *size = capacity;
  return takePending(buffer, size);
}

IOReturn VirtualInterface::takePending(void* buffer, uint32_t* size) {
  const IOReturn status = pending_->status;
  if (status != kIOReturnSuccess) {
    pending_.reset();
    *size = 0;
    return status;
  }
  *size = copyIn(pending_->data, buffer, *size);
  pending_->data.remove(0, *size);
  if (pending_->data.isEmpty()) pending_.reset();
  return kIOReturnSuccess;
}

IOReturn VirtualInterface::writePipe(uint8_t pipeRef, const void* buffer, uint32_t size,
                                     uint32_t noDataTimeoutMs, uint32_t completionTimeoutMs) {
  pm::enterBlockingCall("VirtualInterface::writePipe");
  uint8_t endpoint = 0;
  if (const IOReturn rc = bulkEndpoint(pipeRef, kUSBOut, &endpoint); rc != kIOReturnSuccess) return rc;
  if (size > 0 && buffer == nullptr) return kIOReturnBadArgument;

  // One buffer for every write of this object: a firmware image goes out in many pieces, and each
  // should cost its copy and no allocation.
  outBuffer_.resize(static_cast<qsizetype>(size));
  if (size > 0) std::memcpy(outBuffer_.data(), buffer, size);
  const TransferResult answer = binding_.device->answerBulkOut(endpoint, outBuffer_);
  return binding_.awaitAnswer(answer, noDataTimeoutMs, completionTimeoutMs);
}

}  // namespace usb::virt::detail
