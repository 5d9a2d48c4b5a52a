#include "usb/libusb/LibusbBulkIn.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "support/SystemLog.h"
#include "usb/libusb/LibusbErrors.h"

// A submitted transfer reaches the event thread through the kernel (usbfs submit, then reap), an
// ordering no lock in this process shows: ThreadSanitizer is told of the hand-over, so that what
// the submitting thread wrote before (the transfer, this object) counts as seen by the completion.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#define PM_HAND_OVER(address) __tsan_release(address)
#define PM_TAKE_OVER(address) __tsan_acquire(address)
#else
#define PM_HAND_OVER(address) static_cast<void>(address)
#define PM_TAKE_OVER(address) static_cast<void>(address)
#endif

namespace usb::libusb {

namespace {

// wMaxPacketSize bits 11 and 12 count extra transactions per microframe, not bytes.
constexpr uint16_t kPacketSizeMask = 0x07FF;
constexpr uint16_t kFallbackPacketSize = 512;
// How long a close waits for the cancelled read to come back before it gives up on it.
constexpr auto kCancelWait = std::chrono::seconds(1);

// The libusb error a transfer's status stands for.
int errorOfStatus(int status) {
  switch (status) {
    case LIBUSB_TRANSFER_STALL:
      return LIBUSB_ERROR_PIPE;
    case LIBUSB_TRANSFER_NO_DEVICE:
      return LIBUSB_ERROR_NO_DEVICE;
    case LIBUSB_TRANSFER_OVERFLOW:
      return LIBUSB_ERROR_OVERFLOW;
    case LIBUSB_TRANSFER_TIMED_OUT:
      return LIBUSB_ERROR_TIMEOUT;
    case LIBUSB_TRANSFER_CANCELLED:
      return LIBUSB_ERROR_INTERRUPTED;
    default:
      return LIBUSB_ERROR_IO;
  }
}

}  // namespace

BulkInStream::BulkInStream(libusb_context* context, libusb_device_handle* handle, uint8_t address,
                           uint16_t packetSize, bool interrupt)
    : context_(context), handle_(handle), address_(address), transfer_(libusb_alloc_transfer(0)) {
  const uint16_t size = packetSize & kPacketSizeMask;
  packet_.resize(size != 0 ? size : kFallbackPacketSize);
  if (interrupt) {
    libusb_fill_interrupt_transfer(transfer_, handle_, address_, packet_.data(), int(packet_.size()),
                                   &BulkInStream::completed, this, 0);
  } else {
    libusb_fill_bulk_transfer(transfer_, handle_, address_, packet_.data(), int(packet_.size()),
                              &BulkInStream::completed, this, 0);
  }
  const std::lock_guard guard(mutex_);
  submitLocked();
}

BulkInStream::~BulkInStream() {
  {
    const std::lock_guard guard(mutex_);
    stopping_ = true;
    if (pending_) libusb_cancel_transfer(transfer_);
  }
  const auto giveUp = std::chrono::steady_clock::now() + kCancelWait;
  for (;;) {
    {
      const std::lock_guard guard(mutex_);
      if (!pending_) break;
      wake_ = 0;
    }
    if (std::chrono::steady_clock::now() >= giveUp) {
      // Freeing it now would let libusb write into freed memory: it is left to the process.
      pm::systemLog(QStringLiteral("USB: a cancelled bulk-in read did not end; it is left pending"));
      return;
    }
    handleEvents(50000);
  }
  libusb_free_transfer(transfer_);
}

void LIBUSB_CALL BulkInStream::completed(libusb_transfer* transfer) {
  PM_TAKE_OVER(transfer);
  static_cast<BulkInStream*>(transfer->user_data)->onCompleted();
}

void BulkInStream::onCompleted() {
  const std::lock_guard guard(mutex_);
  pending_ = false;
  wake_ = 1;
  const int status = transfer_->status;
  if (status == LIBUSB_TRANSFER_COMPLETED) {
    const auto actual = static_cast<size_t>(std::max(transfer_->actual_length, 0));
    arrived_.insert(arrived_.end(), packet_.begin(), packet_.begin() + std::min(actual, packet_.size()));
  } else if (!(stopping_ && status == LIBUSB_TRANSFER_CANCELLED)) {
    failure_ = errorOfStatus(status);
  }
  // A failure waits for its reader (who clears a stall first); bytes do not.
  if (failure_ == 0 && !stopping_) submitLocked();
}

void BulkInStream::submitLocked() {
  if (pending_ || stopping_) return;
  PM_HAND_OVER(transfer_);
  const int result = libusb_submit_transfer(transfer_);
  if (result == 0) {
    pending_ = true;
  } else {
    failure_ = result;
  }
}

bool BulkInStream::takeLocked(unsigned char* out, uint32_t size, uint32_t* done, IOReturn* result) {
  const size_t available = arrived_.size() - taken_;
  if (available > 0) {
    const size_t n = std::min<size_t>(available, size);
    std::memcpy(out, arrived_.data() + taken_, n);
    taken_ += n;
    if (taken_ == arrived_.size()) {
      arrived_.clear();
      taken_ = 0;
    }
    *done = static_cast<uint32_t>(n);
    *result = kIOReturnSuccess;
    return true;
  }
  if (failure_ == 0) return false;
  *done = 0;
  *result = ioReturnFromLibusb(failure_);
  if (failure_ != LIBUSB_ERROR_NO_DEVICE) failure_ = 0;  // answered once; the read goes on after it
  return true;
}

// libusb's own synchronous transfers wait the same way: `wake_` is set by the completion under
// this object's mutex and read by libusb before it sleeps, so a completion handled by another
// thread just before cannot be slept through.
void BulkInStream::handleEvents(long timeoutUs) {
  timeval timeout{timeoutUs / 1000000, static_cast<suseconds_t>(timeoutUs % 1000000)};
  libusb_handle_events_timeout_completed(context_, &timeout, &wake_);
}

IOReturn BulkInStream::read(unsigned char* out, uint32_t size, uint32_t* done, unsigned timeoutMs) {
  *done = 0;
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    IOReturn result = kIOReturnSuccess;
    bool taken = false;
    {
      const std::lock_guard guard(mutex_);
      taken = takeLocked(out, size, done, &result);
      if (!taken) {
        submitLocked();  // after a failure answered earlier
        wake_ = 0;
      }
    }
    if (taken) {
      if (result == kIOUSBPipeStalled) {
        // Cleared on both ends now, so that the pipe's next transfer can go through.
        libusb_clear_halt(handle_, address_);
      }
      if (result != kIOReturnSuccess && result != kIOReturnNoDevice) {
        const std::lock_guard guard(mutex_);
        submitLocked();
      }
      return result;
    }
    const auto now = std::chrono::steady_clock::now();
    if (timeoutMs != 0 && now >= deadline) return kIOReturnTimeout;
    const long leftUs =
        timeoutMs != 0 ? long(std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count())
                       : 100000;
    handleEvents(std::clamp(leftUs, 1L, 100000L));
  }
}

IOReturn BulkInStream::takeArrived(unsigned char* out, uint32_t size, uint32_t* done) {
  *done = 0;
  IOReturn result = kIOReturnSuccess;
  bool taken = false;
  {
    const std::lock_guard guard(mutex_);
    taken = takeLocked(out, size, done, &result);
    if (!taken) wake_ = 0;
  }
  if (!taken) {
    // A completion not yet handled (no thread handles events just now) is handled here.
    handleEvents(0);
    const std::lock_guard guard(mutex_);
    taken = takeLocked(out, size, done, &result);
  }
  if (taken && result == kIOUSBPipeStalled) libusb_clear_halt(handle_, address_);
  if (taken && result != kIOReturnSuccess && result != kIOReturnNoDevice) {
    const std::lock_guard guard(mutex_);
    submitLocked();
  }
  return result;
}

}  // namespace usb::libusb
