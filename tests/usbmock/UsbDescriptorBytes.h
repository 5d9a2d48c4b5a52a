#pragma once
// The descriptor bytes a USB device reports, laid out as the kernel exposes them in sysfs
// ("descriptors": the device descriptor, then the active configuration descriptor with its
// interface and endpoint descriptors). libusb reads an emulated device's descriptors from there.
// Pure functions; any thread.

#include <cstdint>
#include <vector>

#include <QByteArray>

#include "usb/UsbPlatform.h"
#include "usb/virtual/VirtualUsbBus.h"

namespace usbmock {

struct InterfaceLayout {
  uint8_t number = 0;
  uint8_t alternateSetting = 0;
  uint8_t interfaceClass = 0;
  uint8_t interfaceSubClass = 0;
  uint8_t interfaceProtocol = 0;
  std::vector<usb::PipeProperties> endpoints;
};

struct DeviceLayout {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint8_t manufacturerIndex = 0;
  uint8_t productIndex = 0;
  uint8_t serialNumberIndex = 0;
  uint8_t configurationValue = 1;
  std::vector<InterfaceLayout> interfaces;
};

QByteArray sysfsDescriptors(const DeviceLayout& layout);

// The layout of a device of the virtual bus: one interface, string indexes as the bus answers them.
DeviceLayout layoutOf(const usb::virt::VirtualDeviceDescription& description);

// The endpoint address (bEndpointAddress) of a pipe.
uint8_t endpointAddress(const usb::PipeProperties& pipe);

}  // namespace usbmock
