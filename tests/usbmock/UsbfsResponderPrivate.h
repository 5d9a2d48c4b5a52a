#pragma once
// What UsbfsResponder keeps per descriptor and per URB. Include <umockdev.h> before any Qt header
// (GLib's headers use the word "signals").

#include <umockdev.h>

#include <chrono>
#include <deque>
#include <utility>

#include <QByteArray>

#include "tests/usbmock/UsbfsResponder.h"

namespace usbmock {

// One counted reference to a GObject (an ioctl client or a block of client memory).
template <typename T>
class GRef {
 public:
  GRef() = default;
  static GRef adopt(T* object) { GRef r; r.object_ = object; return r; }
  static GRef retain(T* object) { return adopt(object ? static_cast<T*>(g_object_ref(object)) : nullptr); }
  GRef(GRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  GRef& operator=(GRef&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  GRef(const GRef&) = delete;
  GRef& operator=(const GRef&) = delete;
  ~GRef() {
    if (object_) g_object_unref(object_);
  }
  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

using Clock = std::chrono::steady_clock;

struct Urb {
  GRef<UMockdevIoctlData> urb;     // the client's struct usbdevfs_urb
  GRef<UMockdevIoctlData> buffer;  // its buffer; empty for a transfer of no bytes
  unsigned long address = 0;       // the URB's address in the client
  uint64_t sequence = 0;
  uint8_t type = 0;
  uint8_t endpoint = 0;            // with direction bit
  int length = 0;                  // buffer_length (control: setup included)

  bool answered = false;           // has its result; complete once readyAt has passed
  int status = 0;
  QByteArray in;                   // data for the host; control: without the setup
  int actualLength = 0;            // bytes moved, control: without the setup
  Clock::time_point readyAt;
};

struct UsbfsResponder::Client {
  GRef<UMockdevIoctlClient> client;
  std::deque<Urb> urbs;            // submitted and not reaped, in submission order
};

}  // namespace usbmock
