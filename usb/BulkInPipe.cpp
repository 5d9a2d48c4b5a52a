#include "usb/BulkInPipe.h"

#include <algorithm>

#include "usb/UsbPlatform.h"

namespace usb {

namespace {

constexpr uint32_t kChunk = 4096;
constexpr qsizetype kLoggedBytes = 32;

// What is left until `deadline`, in whole milliseconds, at least 1 (0 would mean no limit).
uint32_t millisecondsUntil(BulkInPipe::Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - BulkInPipe::Clock::now());
  return static_cast<uint32_t>(std::max<int64_t>(left.count(), 1));
}

void note(BulkInPipe::Dropped& dropped, const char* bytes, uint32_t count) {
  if (dropped.head.size() < kLoggedBytes)
    dropped.head.append(bytes, std::min<qsizetype>(count, kLoggedBytes - dropped.head.size()));
  dropped.bytes += count;
}

}  // namespace

BulkInPipe::Dropped BulkInPipe::settle(UsbInterface& interface, uint8_t pipe, uint32_t replyTimeoutMs,
                                       const WholeReply& whole) {
  Dropped dropped;
  if (std::exchange(suspect_, false)) {
    const uint32_t quietMs =
        std::min<uint32_t>(static_cast<uint32_t>(kQuietBound.count()), std::max<uint32_t>(replyTimeoutMs, 1));
    QByteArray gathered;
    char chunk[kChunk];
    // Each arrival restarts the bound: a reply still coming in is waited for to its end.
    while (gathered.size() < kDropLimit && !(whole && whole(gathered))) {
      uint32_t received = kChunk;
      const IOReturn result = interface.readPipe(pipe, chunk, &received, quietMs, quietMs);
      if (result == kIOReturnNoDevice) dropped.failure = result;
      if (result != kIOReturnSuccess || received == 0) break;
      received = std::min(received, kChunk);
      gathered.append(chunk, received);
      note(dropped, chunk, received);
    }
  }
  const Dropped arrived = dropArrived(interface, pipe);
  note(dropped, arrived.head.constData(), static_cast<uint32_t>(arrived.head.size()));
  dropped.bytes += arrived.bytes - static_cast<uint32_t>(arrived.head.size());
  if (arrived.failure != kIOReturnSuccess) dropped.failure = arrived.failure;
  return dropped;
}

BulkInPipe::Dropped BulkInPipe::dropArrived(UsbInterface& interface, uint8_t pipe) {
  Dropped dropped;
  char chunk[kChunk];
  while (dropped.bytes < kDropLimit) {
    uint32_t received = kChunk;
    const IOReturn result = interface.readArrived(pipe, chunk, &received);
    if (result == kIOReturnNoDevice) dropped.failure = result;
    if (result != kIOReturnSuccess || received == 0) break;
    note(dropped, chunk, std::min(received, kChunk));
  }
  return dropped;
}

IOReturn BulkInPipe::readUntil(UsbInterface& interface, uint8_t pipe, char* buffer, uint32_t wanted,
                               uint32_t* received, Clock::time_point deadline, bool untilReturn) {
  *received = 0;
  IOReturn result = kIOReturnSuccess;
  while (*received < wanted) {
    uint32_t got = wanted - *received;
    const uint32_t leftMs = millisecondsUntil(deadline);
    result = interface.readPipe(pipe, buffer + *received, &got, leftMs, leftMs);
    got = std::min(got, wanted - *received);
    const char* const start = buffer + *received;
    *received += got;
    if (result != kIOReturnSuccess) break;
    if (untilReturn && std::find(start, start + got, '\r') != start + got) break;
    if (Clock::now() >= deadline && *received < wanted) {
      result = kIOReturnTimeout;
      break;
    }
  }
  if (result == kIOReturnTimeout) suspect_ = true;
  return result;
}

}  // namespace usb
