#pragma once
// The process's one USB notification port: the registry that reports the arrival and removal of
// printer-class interfaces and the interest messages of each printer's service. It is made on the
// first request from the factory of the controller that asks (the libusb backend, the demo mode's
// bus or a test's bus), handed to each printer object made from it, and destroyed at termination;
// a request after that makes a new one.
//
// Threads: [main] for every member (the registry delivers its callbacks on the main thread).

#include <functional>
#include <memory>

#include "usb/UsbPlatform.h"

namespace pm {

class NotificationPort {
 public:
  using Factory = std::function<std::shared_ptr<usb::UsbRegistry>()>;

  // What a front end's port is made of: the demo mode's virtual bus when
  // PRINTER_MAINTENANCE_SIMULATE asks for one, else the libusb backend.
  static Factory defaultFactory();

  // The port, made from `factory` on first request; null when none can be made (tried again next
  // time). A port that exists is answered whatever the factory.
  static usb::UsbRegistry* shared(const Factory& factory);
  static bool exists();

  // Ends the port: it reports nothing more, and the next request makes a new one. Its object is parked until reclaim(): printers released at termination may still
  // have work queued that reaches the registry they were made with.
  static void destroy();
  // Frees the ports destroy() parked. At process exit, once the printers' queues have stopped
  // (SerialQueue::shutdownAll), or in a test once its printers are gone. Whoever else still holds
  // a registry (a test keeping its bus) keeps it alive.
  static void reclaim();

  NotificationPort() = delete;
};

}  // namespace pm
