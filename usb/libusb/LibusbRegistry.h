#pragma once
// The USB registry on libusb-1.0: the backend the application runs on real hardware.
//
// Services: every interface of class 7 (printer) of a device in its active configuration is one
// interface service, whatever its subclass (the application itself tells printers by subclass).
// A service lives from the device's arrival until it leaves the bus or re-enumerates; then the
// interest callbacks of the service get kIOMessageServiceIsTerminated, the `terminated` callback
// runs, and every object of it answers kIOReturnNoDevice. Location IDs: LibusbLocation.h;
// transfers and time-outs: LibusbInterface.h; resets and re-enumeration: LibusbDevice.h.
//
// Hot-plug: one callback with LIBUSB_HOTPLUG_ENUMERATE, whose events are forwarded to the main
// thread. A device that has no active configuration yet when it arrives (the kernel configures it
// a moment later) is looked at again every second until it has one; its services are reported
// then. addInterfaceNotifications also lists the devices itself, so that the printers already
// attached are reported before it returns; a device seen both ways is reported once.
//
// Never fails: without libusb (null context), without hot-plug support or without /dev/bus/usb it
// reports what it can find, possibly nothing, and logs the reason once.
//
// Threads:
//  - [main] construction, destruction, addInterfaceNotifications, and the handling of hot-plug
//    events; every callback the registry makes runs here, from the event loop.
//  - [any]  createInterface, addInterestNotification, isServiceAlive: printer objects call them
//    from their command queues too.
//  - libusb's events are handled on a thread of the registry's own (LibusbEventThread), stopped
//    and joined by the destructor. Interface and device objects may outlive the registry.

#include <memory>
#include <vector>

#include <QObject>
#include <QTimer>

#include "usb/UsbPlatform.h"
#include "usb/libusb/LibusbEnumeration.h"
#include "usb/libusb/LibusbHandles.h"

namespace usb::libusb {

class HotplugForwarder;
class HotplugRegistration;
class LibusbEventThread;
class LibusbInterestTable;
class MainThreadPoster;

class LibusbRegistry final : public UsbRegistry {
 public:
  // `context` may be null (libusb could not start): the registry then reports no printers.
  explicit LibusbRegistry(std::shared_ptr<LibusbContext> context);  // [main]
  ~LibusbRegistry() override;                                       // [main]

  void addInterfaceNotifications(ServiceCallback matched, ServiceCallback terminated) override;
  std::shared_ptr<UsbInterface> createInterface(const ServiceHandle& service, IOReturn* result) override;
  std::unique_ptr<InterestRegistration> addInterestNotification(const ServiceHandle& service,
                                                                InterestCallback callback,
                                                                IOReturn* result) override;
  bool isServiceAlive(const ServiceHandle& service) override;

 private:
  // One enumeration of one device; services empty for a device without printer interfaces.
  struct Device {
    std::shared_ptr<LibusbEnumeration> enumeration;
    std::vector<ServiceHandle> services;
    bool configured = true;  // false while it had no active configuration
  };

  // LibusbRegistry.cpp
  void startHotplug();  // [main]
  bool onMainThread() const;

  // LibusbRegistryEvents.cpp, in the order events happen
  void forwardHotplug(libusb_device* device, bool arrived);                  // [any] libusb's callback
  void enumeratePresentDevices();                                            // [main]
  void deviceArrived(const DeviceRef& device);                               // [main]
  void deviceLeft(const DeviceRef& device);                                  // [main]
  void reEnumerated(const std::shared_ptr<LibusbEnumeration>& enumeration);  // [main]
  Device& record(const DeviceRef& device);                                   // [main]
  Device* find(const libusb_device* device);                                 // [main]
  void reportMatched(const std::vector<ServiceHandle>& services);            // [main]
  void terminate(const Device& device);                                      // [main]
  void lookAgainAtUnconfigured();                                            // [main]

  const std::shared_ptr<LibusbContext> context_;
  const std::shared_ptr<LibusbInterestTable> interests_;
  std::unique_ptr<QObject> mainThread_;  // receives the events posted to the main thread
  const std::shared_ptr<MainThreadPoster> poster_;
  std::shared_ptr<HotplugForwarder> forwarder_;
  std::unique_ptr<HotplugRegistration> hotplug_;
  std::unique_ptr<LibusbEventThread> eventThread_;
  QTimer* configurationWatch_ = nullptr;  // child of mainThread_; runs while a device is unconfigured

  // [main]
  std::vector<Device> devices_;  // in arrival order
  ServiceCallback matched_;
  ServiceCallback terminated_;
  bool loggedNoDevices_ = false;
};

}  // namespace usb::libusb

namespace usb {

// The registry on libusb. Never fails: when libusb cannot start it logs why and returns a
// registry that reports no printers. [main]
std::unique_ptr<UsbRegistry> makeLibusbRegistry();

}  // namespace usb
