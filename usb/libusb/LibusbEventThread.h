#pragma once
// The thread that runs libusb's event handling, which is where hot-plug callbacks come from.
// Constructed and destroyed on the main thread; the destructor stops the loop (waking libusb's
// event handler) and joins, in well under a second.

#include <atomic>
#include <memory>
#include <thread>

#include "usb/libusb/LibusbHandles.h"

namespace usb::libusb {

class LibusbEventThread {
 public:
  explicit LibusbEventThread(std::shared_ptr<LibusbContext> context);
  ~LibusbEventThread();
  LibusbEventThread(const LibusbEventThread&) = delete;
  LibusbEventThread& operator=(const LibusbEventThread&) = delete;

 private:
  void run();  // [event thread]

  const std::shared_ptr<LibusbContext> context_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace usb::libusb
