#pragma once
// An emulated kernel USB tree (umockdev): fake sysfs entries and /dev/bus/usb nodes that libusb,
// running unchanged in this process, enumerates, opens and hot-plugs. Adding and removing a
// device sends the "add" and "remove" uevents libusb's hot-plug monitor listens to.
//
// The process must have been started with libumockdev-preload.so.0 preloaded (CTest sets it
// up); preloadActive() tells. One testbed per process at a time; make it before libusb starts.
//
// Threads: [main] every member (asserted). Ioctls on the nodes are answered by the responders on
// umockdev's own worker thread.

#include <cstdint>

#include <QByteArray>
#include <QString>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace usbmock {

class UsbfsResponder;

// One USB device on a root hub port: sysfs name "<bus>-<port>", node bus/usb/BBB/DDD.
struct UsbDeviceNode {
  uint8_t busNumber = 1;
  uint8_t port = 1;
  uint8_t deviceNumber = 2;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  QByteArray descriptors;  // the sysfs "descriptors" attribute (UsbDescriptorBytes.h)
};

class UmockdevTestbed {
 public:
  static bool preloadActive();

  UmockdevTestbed();
  ~UmockdevTestbed();  // removes the fake tree
  UmockdevTestbed(const UmockdevTestbed&) = delete;
  UmockdevTestbed& operator=(const UmockdevTestbed&) = delete;

  // Adds the device and its node; ioctls on the node go to `responder` (null: none answered).
  // Answers the sysfs path, empty on failure.
  QString addDevice(const UsbDeviceNode& node, UsbfsResponder* responder);
  // Sends "remove" and takes the device out of sysfs. Descriptors already open on its node stay
  // connected to its responder, as on a kernel that keeps them until they are closed.
  void removeDevice(const QString& sysfsPath);

 private:
  UMockdevTestbed* testbed_ = nullptr;
};

}  // namespace usbmock
