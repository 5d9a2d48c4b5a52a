#pragma once
// The inside of TBUSBPrinter, shared by its implementation files (TBUSBPrinter*.cpp) only.
//
// Threads: the texts and references below are read from any thread and written on the main
// thread or the command queue, so they sit behind `lock`; the numeric state is atomic; the pipe
// references belong to the command queue; the interest registration is made and dropped on the
// main thread only.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include <QImage>
#include <QSet>
#include <QString>

#include "usb/TBUSBPrinter.h"
#include "usb/UsbPlatform.h"

// How far the printer has gone: its service terminated (unplugged, re-enumerated) or the printer
// let go (prepareForRelease). Any thread; a command queue retrying an open sleeps on it, so
// that it wakes as soon as either happens.
class GoneFlag {
 public:
  void markTerminated() { mark(terminated_); }
  void markReleased() { mark(released_); }
  // Quitting: like released, and what is still queued talks to the device no more.
  void markAbandoned() {
    {
      const std::lock_guard guard(lock_);
      abandoned_ = true;
    }
    markReleased();
  }
  bool abandoned() const {
    const std::lock_guard guard(lock_);
    return abandoned_;
  }
  bool terminated() const {
    const std::lock_guard guard(lock_);
    return terminated_;
  }
  bool released() const {
    const std::lock_guard guard(lock_);
    return released_;
  }
  // Sleeps up to `pause`, or until the printer terminates or is let go.
  void waitFor(std::chrono::milliseconds pause) const {
    std::unique_lock guard(lock_);
    changed_.wait_for(guard, pause, [this] { return terminated_ || released_; });
  }

 private:
  void mark(bool& flag) {
    {
      const std::lock_guard guard(lock_);
      flag = true;
    }
    changed_.notify_all();
  }

  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  bool terminated_ = false;
  bool released_ = false;
  bool abandoned_ = false;
};

struct TBUSBPrinter::Private {
  mutable std::mutex lock;  // guards the members up to `langId`

  QString raw1284DeviceID, deviceID, manufacturer, model, vendorUSB, productUSB, serialNumberUSB;
  QString status, statusString;
  QString openFailure;  // what a failed open shows in `status`, until an open succeeds
  QImage image;
  std::shared_ptr<usb::UsbInterface> iInterface;
  std::shared_ptr<usb::UsbDevice> dInterface;
  usb::ServiceHandle deviceObject;
  std::optional<QSet<uint16_t>> langIds;
  uint16_t langId = 0;

  std::atomic<int64_t> state{TBUSBPrinterStateNone};
  std::atomic<int64_t> isOwned{0};
  std::atomic<int32_t> interfaceStatus{0};
  std::atomic<bool> isBusy{false};
  std::atomic<bool> identified{false};
  std::atomic<uint32_t> locationID{0};
  std::atomic<uint16_t> idVendor{0};
  std::atomic<uint16_t> idProduct{0};
  // The user's actions queued and not yet started: while any waits, an open retrying on a busy
  // interface gives up, so that the user's action behind it answers at once.
  std::atomic<int> userWorkWaiting{0};

  usb::UsbRegistry* notifyPort = nullptr;  // borrowed; given by create()
  // [main]
  std::unique_ptr<usb::InterestRegistration> interestNotification;
  std::unique_ptr<usb::InterestRegistration> busyNotification;  // never registered
  // [queue]
  uint8_t bulkIN = 0;
  uint8_t bulkOUT = 0;
  std::chrono::steady_clock::time_point lastInterfaceUse;
  bool idleReleaseArmed = false;

  GoneFlag gone;

  std::shared_ptr<usb::UsbInterface> interface() const {
    const std::lock_guard guard(lock);
    return iInterface;
  }
  usb::ServiceHandle service() const {
    const std::lock_guard guard(lock);
    return deviceObject;
  }
  QString text(const QString Private::*field) const {
    const std::lock_guard guard(lock);
    return this->*field;
  }
  void setText(QString Private::*field, const QString& value) {
    const std::lock_guard guard(lock);
    this->*field = value;
  }
};

namespace tbusb {

// A reference that keeps the printer alive while a block queued for it waits; empty for a
// printer not owned by a shared_ptr.
inline std::shared_ptr<TBUSBPrinter> keepAlive(TBUSBPrinter* printer) {
  return printer->weak_from_this().lock();
}

// Queues `block` on the printer's command queue even when called from it (at once while the
// initialiser has not made the queue yet).
inline void performAsyncOnCommandQueue(TBUSBPrinter* printer, std::function<void()> block) {
  if (pm::SerialQueue* queue = printer->printerCommandQueue()) {
    queue->async([keep = keepAlive(printer), block = std::move(block)] { block(); });
  } else {
    block();
  }
}

// "%@" of a text: "(null)" for none.
inline QByteArray objectText(const QString& text) {
  return text.isNull() ? QByteArrayLiteral("(null)") : text.toUtf8();
}

}  // namespace tbusb
