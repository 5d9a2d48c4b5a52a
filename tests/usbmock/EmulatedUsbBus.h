#pragma once
// The test harness's USB bus: devices of an in-process virtual USB bus (the virtual printers of
// sim/ among them) shown to libusb as emulated kernel devices (umockdev: fake sysfs entries and
// /dev/bus/usb nodes, with "add" and "remove" uevents), so that the real libusb backend runs
// unchanged against them.
//
// The virtual bus is the devices' side: a printer attaches, answers, restarts, unplugs itself and
// is held by another program there, and the emulated bus follows every change. Each enumeration
// of a virtual device becomes a device node (a new device number each time) on the device's own
// port of root hub 1, so a device that comes back keeps its location ID; its departure is a
// "remove" uevent, with open descriptors disconnected as the kernel would (UsbfsResponder).
// Devices without a printer interface, which the virtual bus does not report, are shown directly.
//
// The process must have been started with libumockdev-preload.so.0 preloaded (CTest sets it up);
// preloadActive() tells. One bus per process at a time; make it before libusb starts, and stop
// libusb before destroying it.
//
// Threads: [main] every member (asserted). The virtual bus reports its changes from the event
// loop, so a change shows on the emulated bus only once the event loop has run.

#include <memory>
#include <utility>
#include <vector>

#include <QString>

#include "sim/VirtualPrinter.h"
#include "tests/usbmock/UsbfsResponder.h"
#include "usb/virtual/VirtualUsbBus.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace usbmock {

class EmulatedUsbBus {
 public:
  static bool preloadActive();

  EmulatedUsbBus();
  ~EmulatedUsbBus();  // takes every device off and removes the fake tree
  EmulatedUsbBus(const EmulatedUsbBus&) = delete;
  EmulatedUsbBus& operator=(const EmulatedUsbBus&) = delete;

  // Puts a virtual printer (or any handler's device) on its own port.
  std::shared_ptr<sim::VirtualPrinter> attachPrinter(const sim::VirtualPrinterConfig& config,
                                                     BulkInFraming framing = BulkInFraming::AsRequested);
  // `configured` false: the device appears with no active configuration (as before the kernel
  // chose one) until configure(). A device without a printer interface, which the virtual bus
  // does not report, is shown at once; nothing answers its transfers.
  std::shared_ptr<usb::virt::VirtualUsbDevice> attachDevice(
      const usb::virt::VirtualDeviceDescription& description,
      std::shared_ptr<usb::virt::VirtualDeviceHandler> handler, bool configured = true);
  void configure(const usb::virt::VirtualUsbDevice& device);

  // The location ID libusb's port path gives the device: bus 1, its root-hub port.
  uint32_t locationIdOf(const usb::virt::VirtualUsbDevice& device) const;
  // Whether it is on the emulated bus now.
  bool isShown(const usb::virt::VirtualUsbDevice& device) const;
  // The kernel-driver requests libusb made for it over all its enumerations: {detaches,
  // re-attaches} (see UsbfsResponder).
  std::pair<int, int> driverRequestsOf(const usb::virt::VirtualUsbDevice& device) const;

 private:
  struct Port {
    std::shared_ptr<usb::virt::VirtualUsbDevice> device;
    std::shared_ptr<usb::virt::VirtualDeviceHandler> handler;
    BulkInFraming framing = BulkInFraming::AsRequested;
    uint8_t number = 0;
    bool configured = true;
  };
  struct Node {
    usb::ServiceHandle service;
    const Port* port = nullptr;
    QString sysfsPath;
    std::unique_ptr<UsbfsResponder> responder;
    bool shown = true;
  };

  void serviceMatched(const usb::ServiceHandle& service);
  void serviceTerminated(const usb::ServiceHandle& service);
  Port& addPort(std::shared_ptr<usb::virt::VirtualUsbDevice> device,
                std::shared_ptr<usb::virt::VirtualDeviceHandler> handler, BulkInFraming framing);
  // Adds the node of the port's next enumeration; ioctls on it go to `responder` (may be null).
  void addNode(const Port& port, const usb::virt::VirtualDeviceDescription& description,
               const usb::ServiceHandle& service, std::unique_ptr<UsbfsResponder> responder);
  const Port* portOf(const usb::virt::VirtualUsbDevice& device) const;

  UMockdevTestbed* testbed_ = nullptr;  // freed after the nodes and their responders
  std::shared_ptr<usb::virt::VirtualUsbBus> bus_;
  std::vector<std::unique_ptr<Port>> ports_;
  // Every node made: a descriptor opened before a departure still reaches its responder.
  std::vector<Node> nodes_;
  uint8_t nextDeviceNumber_ = 2;
};

}  // namespace usbmock
