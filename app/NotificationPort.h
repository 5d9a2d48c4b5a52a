#pragma once
// The process's one USB notification port: the registry that reports the arrival and removal of
// printer-class interfaces and the interest messages of each printer's service. It is made on the
// first request from the factory the application (or a test) installed, published as
// usb::platformRegistry() for the printer objects, and destroyed at termination; a request after
// that makes a new one.
//
// Threads: [main] for every member (the registry delivers its callbacks on the main thread).

#include <functional>
#include <memory>

#include "usb/UsbPlatform.h"

namespace pm {

class NotificationPort {
 public:
  using Factory = std::function<std::shared_ptr<usb::UsbRegistry>()>;

  // What the port is made of: the libusb backend, the virtual bus of the demo mode, or a test's
  // bus. Replacing the factory leaves a port that already exists alone.
  static void setFactory(Factory factory);

  // The port, made on first request (without a factory: the registry already installed as
  // usb::platformRegistry(), not owned); null when none can be made (tried again next time).
  static usb::UsbRegistry* shared();
  static bool exists();

  // Ends the port: it reports nothing more and is no longer published, so the next request makes
  // a new one. Its object is parked until reclaim(): printers released at termination may still
  // have work queued that reaches the registry they were made with.
  static void destroy();
  // Frees the ports destroy() parked. At process exit, once the printers' queues have stopped
  // (SerialQueue::shutdownAll), or in a test once its printers are gone. Whoever else still holds
  // a registry (a test keeping its bus) keeps it alive.
  static void reclaim();

  NotificationPort() = delete;
};

}  // namespace pm
