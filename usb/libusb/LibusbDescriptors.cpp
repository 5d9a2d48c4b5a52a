#include "usb/libusb/LibusbDescriptors.h"

#include <array>
#include <memory>

#include "usb/libusb/LibusbLocation.h"

namespace usb::libusb {

namespace {

struct ConfigDescriptorFree {
  void operator()(libusb_config_descriptor* config) const { libusb_free_config_descriptor(config); }
};
using ConfigDescriptor = std::unique_ptr<libusb_config_descriptor, ConfigDescriptorFree>;

LibusbInterfaceDescription describeInterface(const libusb_interface& interface,
                                             const libusb_config_descriptor& config,
                                             const libusb_device_descriptor& device, uint32_t locationId) {
  const libusb_interface_descriptor& alt = interface.altsetting[0];
  LibusbInterfaceDescription d;
  d.interfaceNumber = alt.bInterfaceNumber;
  d.alternateSetting = alt.bAlternateSetting;
  d.alternateSettingCount = static_cast<uint8_t>(interface.num_altsetting);
  d.interfaceClass = alt.bInterfaceClass;
  d.interfaceSubClass = alt.bInterfaceSubClass;
  d.interfaceProtocol = alt.bInterfaceProtocol;
  for (int i = 0; i < alt.bNumEndpoints; ++i) {
    d.endpoints.push_back({alt.endpoint[i].bEndpointAddress, pipePropertiesOf(alt.endpoint[i])});
  }
  d.configurationValue = config.bConfigurationValue;
  d.vendorId = device.idVendor;
  d.productId = device.idProduct;
  d.manufacturerStringIndex = device.iManufacturer;
  d.productStringIndex = device.iProduct;
  d.serialNumberStringIndex = device.iSerialNumber;
  d.locationId = locationId;
  return d;
}

}  // namespace

std::vector<LibusbInterfaceDescription> describePrinterInterfaces(libusb_device* device) {
  std::vector<LibusbInterfaceDescription> printers;
  libusb_device_descriptor deviceDescriptor{};
  if (libusb_get_device_descriptor(device, &deviceDescriptor) != LIBUSB_SUCCESS) return printers;

  libusb_config_descriptor* raw = nullptr;
  if (libusb_get_active_config_descriptor(device, &raw) != LIBUSB_SUCCESS) return printers;
  const ConfigDescriptor config(raw);

  const uint32_t locationId = locationIdOfDevice(device);
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    const libusb_interface& interface = config->interface[i];
    if (interface.num_altsetting < 1) continue;
    if (interface.altsetting[0].bInterfaceClass != kUSBPrintingClass) continue;
    printers.push_back(describeInterface(interface, *config, deviceDescriptor, locationId));
  }
  return printers;
}

uint32_t locationIdOfDevice(libusb_device* device) {
  std::array<uint8_t, 7> ports{};  // USB 3 allows at most 7 tiers below the root
  const int depth = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
  const size_t used = depth > 0 ? static_cast<size_t>(depth) : 0;
  return locationIdFromPortPath(libusb_get_bus_number(device), std::span(ports.data(), used));
}

PipeProperties pipePropertiesOf(const libusb_endpoint_descriptor& endpoint) {
  PipeProperties p;
  p.direction =
      (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN ? kUSBIn : kUSBOut;
  p.number = endpoint.bEndpointAddress & LIBUSB_ENDPOINT_ADDRESS_MASK;
  p.transferType = endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
  p.maxPacketSize = endpoint.wMaxPacketSize;
  p.interval = endpoint.bInterval;
  return p;
}

}  // namespace usb::libusb
