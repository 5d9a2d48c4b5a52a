#pragma once
// The kernel side of one emulated USB device node (/dev/bus/usb/BBB/DDD) as libusb meets it: the
// usbdevfs requests libusb makes answered from a virtual-bus device with the errno values and URB
// statuses the kernel would give. One responder serves one enumeration of a device; a device that
// comes back is a new node with a new responder.
//
// What it copies from the kernel:
//  - URBs complete asynchronously and are reaped in completion order. A URB the device does not
//    answer stays in flight, the device asked again at each reap, until it answers or libusb
//    discards the URB (its time-out; it then reaps with -ENOENT); an answer with latency
//    completes that much later.
//  - Bulk-in data arrives in packets (see BulkInFraming); a packet larger than the room left in
//    the URB ends it with -EOVERFLOW. A stall is -EPIPE.
//  - The device has one interface, held by one descriptor at a time (whatever number a claim
//    names). Claims go to the bus's interface object, so a device another program holds answers
//    EBUSY; a control request addressed to the interface claims it implicitly, except the printer
//    class's GET_DEVICE_ID, which the kernel always lets through. Control requests go through the bus
//    (handler first, then its standard answers); bulk transfers go straight to the handler, so a
//    printer that restarts or unplugs itself does so on the bus.
//  - Disconnect: URBs in flight end with -ESHUTDOWN, reaps then answer ENODEV and so does every
//    other request. The node is a regular file, so libusb never sees POLLERR: the responder
//    notices the device's departure itself, at the next request or through disconnect().
//
// Threads: constructed and destroyed [main]; the ioctl callback runs on umockdev's worker thread
// [worker]; disconnect() [any]. One mutex guards the state; the device is called
// with it held (its calls never come back here).

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "usb/virtual/VirtualUsbBus.h"

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace usbmock {

// How a device hands its bulk-in data to the host.
enum class BulkInFraming {
  // Each read gets exactly the bytes it asks for, as from a device that sends its reply header
  // as a packet of its own and its body after it.
  AsRequested,
  // Back-to-back packets of wMaxPacketSize, header and body in one packet when they fit: a read
  // shorter than the packet overflows, as on real hardware.
  WholePackets,
};

class UsbfsResponder {
 public:
  UsbfsResponder(usb::virt::VirtualUsbBus& bus, const usb::ServiceHandle& service,
                 std::shared_ptr<usb::virt::VirtualUsbDevice> device,
                 std::shared_ptr<usb::virt::VirtualDeviceHandler> handler, BulkInFraming framing);  // [main]
  ~UsbfsResponder();                                                                                // [main]
  UsbfsResponder(const UsbfsResponder&) = delete;
  UsbfsResponder& operator=(const UsbfsResponder&) = delete;

  // The handler to attach to the device node. [main]
  UMockdevIoctlBase* handler() const { return handler_; }

  // The device has left the bus. [any]
  void disconnect();

  // The kernel-driver requests seen: detaching claims (DISCONNECT_CLAIM) and re-attaches
  // (USBDEVFS_IOCTL with USBDEVFS_CONNECT). [any]
  int driverDetaches() const { return detaches_; }
  int driverReattaches() const { return reattaches_; }

 private:
  struct Urb;
  struct Client;

  static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
  static std::mutex& publication();

  // [worker], lock held
  void handle(UMockdevIoctlClient* client);
  void forgetClosedDescriptors();
  Client& clientOf(UMockdevIoctlClient* client);
  void endConnection();
  int claim(UMockdevIoctlClient* client);
  int release(UMockdevIoctlClient* client);
  int claimForControl(UMockdevIoctlClient* client, const usb::virt::SetupPacket& setup);
  void resetPort();
  int submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  void runControl(Urb& urb, const usb::virt::SetupPacket& setup);
  void runBulkIn(Urb& urb);
  bool reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);  // completes the request itself
  int discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);

  usb::virt::VirtualUsbBus& bus_;  // outlives every node (EmulatedUsbBus)
  const usb::ServiceHandle service_;
  const std::shared_ptr<usb::virt::VirtualUsbDevice> device_;
  const std::shared_ptr<usb::virt::VirtualDeviceHandler> deviceHandler_;
  const std::shared_ptr<usb::UsbInterface> interface_;  // null when the service had gone already
  const std::vector<usb::PipeProperties> endpoints_;
  const BulkInFraming framing_;
  UMockdevIoctlBase* handler_ = nullptr;

  std::atomic<int> detaches_{0};
  std::atomic<int> reattaches_{0};
  mutable std::mutex mutex_;
  bool gone_ = false;
  uint64_t nextSequence_ = 0;
  std::map<UMockdevIoctlClient*, std::unique_ptr<Client>> clients_;
  UMockdevIoctlClient* claimant_ = nullptr;  // the descriptor holding the device's one interface
};

}  // namespace usbmock
