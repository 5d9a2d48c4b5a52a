#pragma once
// The kernel side of one emulated USB device node (/dev/bus/usb/BBB/DDD) as libusb meets it: the
// usbdevfs requests libusb makes (capabilities, claim and release, URB submit, reap and discard,
// port reset, clear halt) answered from an EmulatedDevice with the errno values and URB statuses
// the kernel would give. One responder serves one enumeration of a device; a device that comes
// back is a new node with a new responder.
//
// What it copies from the kernel:
//  - URBs complete asynchronously and are reaped in completion order. A URB the device does not
//    answer stays in flight until libusb discards it (its time-out) and then reaps with -ENOENT;
//    an answer with latency completes that much later.
//  - Bulk-in data arrives in packets (see BulkInFraming); a packet larger than the room left in
//    the URB ends it with -EOVERFLOW. A stall is -EPIPE.
//  - A claim of an interface another program (or another descriptor) holds answers EBUSY; a
//    control request addressed to an interface claims it implicitly, except the printer class's
//    GET_DEVICE_ID, which the kernel always lets through.
//  - Disconnect: URBs in flight end with -ESHUTDOWN, reaps then answer ENODEV and so does every
//    other request. The node is a regular file, so libusb never sees POLLERR: the responder
//    notices the device's departure itself, at the next request or through disconnect().
//
// Threads: constructed and destroyed [main]; the ioctl callback runs on umockdev's worker thread
// [worker]; disconnect() and counters() [any]. One mutex guards the state; the device is called
// with it held (its calls never come back here).

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "tests/usbmock/EmulatedDevice.h"

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace usbmock {

struct Urb;  // UsbfsResponderPrivate.h

class UsbfsResponder {
 public:
  explicit UsbfsResponder(std::shared_ptr<EmulatedDevice> device);  // [main]
  ~UsbfsResponder();                                                 // [main]
  UsbfsResponder(const UsbfsResponder&) = delete;
  UsbfsResponder& operator=(const UsbfsResponder&) = delete;

  // The handler to attach to the device node. [main]
  UMockdevIoctlBase* handler() const { return handler_; }

  // The device has left the bus. [any]
  void disconnect();

  struct Counters {
    int submitted = 0;   // URBs accepted
    int discarded = 0;   // URBs libusb gave up on (its time-outs)
    int overflows = 0;   // bulk-in URBs ended with -EOVERFLOW
  };
  Counters counters() const;  // [any]

 private:
  struct Client;  // UsbfsResponderPrivate.h

  static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);

  // UsbfsResponder.cpp [worker], lock held
  void handle(UMockdevIoctlClient* client);
  void forgetClosedDescriptors();
  Client& clientOf(UMockdevIoctlClient* client);
  void noticeDeparture();
  void endConnection();
  int claim(UMockdevIoctlClient* client, uint32_t interface);
  int release(UMockdevIoctlClient* client, uint32_t interface);
  int claimForControl(UMockdevIoctlClient* client, const usb::virt::SetupPacket& setup);
  void resetPort();

  // UsbfsResponderUrbs.cpp [worker], lock held, in the order a URB goes through them
  int submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  void runControl(Urb& urb, const usb::virt::SetupPacket& setup);
  void runBulkOut(Urb& urb);
  void runBulkIn(Urb& urb);
  void runBulkInPackets(Urb& urb);
  bool reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);  // completes the request itself
  int discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);

  const std::shared_ptr<EmulatedDevice> device_;
  UMockdevIoctlBase* handler_ = nullptr;

  mutable std::mutex mutex_;
  bool gone_ = false;
  uint64_t nextSequence_ = 0;
  std::map<UMockdevIoctlClient*, std::unique_ptr<Client>> clients_;
  std::map<uint32_t, UMockdevIoctlClient*> claims_;  // interface number -> descriptor holding it
  Counters counters_;
};

}  // namespace usbmock
