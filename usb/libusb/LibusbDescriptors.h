#pragma once
// What enumeration learns of a device's printer-class interfaces, read once from the descriptors
// libusb cached when the device appeared (no device I/O). The description of a service is fixed
// for the service's life; a device that changes its descriptors does so by enumerating again.
// Pure functions over libusb's cached data; any thread.

#include <cstdint>
#include <vector>

#include <libusb.h>

#include "usb/UsbPlatform.h"

namespace usb::libusb {

struct LibusbEndpoint {
  uint8_t address = 0;        // bEndpointAddress, as libusb transfers want it
  PipeProperties properties;  // as GetPipeProperties reports it
};

struct LibusbInterfaceDescription {
  // Interface (its first alternate setting, the one a freshly configured device starts in).
  uint8_t interfaceNumber = 0;
  uint8_t alternateSetting = 0;
  uint8_t alternateSettingCount = 1;
  uint8_t interfaceClass = 0;
  uint8_t interfaceSubClass = 0;
  uint8_t interfaceProtocol = 0;
  std::vector<LibusbEndpoint> endpoints;  // pipe reference = index + 1
  // Device.
  uint8_t configurationValue = 0;  // of the active configuration
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint8_t manufacturerStringIndex = 0;
  uint8_t productStringIndex = 0;
  uint8_t serialNumberStringIndex = 0;
  uint32_t locationId = 0;  // see LibusbLocation.h
};

// One description per interface of class 7 (printer) in the active configuration, whatever its
// subclass, so that the application can tell printers by class from printers by subclass. Empty
// for other devices and for a device without an active configuration.
std::vector<LibusbInterfaceDescription> describePrinterInterfaces(libusb_device* device);

// The location ID of a device from its bus number and port path.
uint32_t locationIdOfDevice(libusb_device* device);

// GetPipeProperties from an endpoint descriptor.
PipeProperties pipePropertiesOf(const libusb_endpoint_descriptor& endpoint);

}  // namespace usb::libusb
