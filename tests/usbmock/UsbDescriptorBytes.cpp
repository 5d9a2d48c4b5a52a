#include "tests/usbmock/UsbDescriptorBytes.h"

#include "usb/virtual/StandardRequests.h"

namespace usbmock {

namespace {

constexpr uint8_t kDeviceDescriptorType = 1;
constexpr uint8_t kConfigurationDescriptorType = 2;
constexpr uint8_t kInterfaceDescriptorType = 4;
constexpr uint8_t kEndpointDescriptorType = 5;
constexpr uint8_t kConfigurationLength = 9;

void append16(QByteArray& bytes, uint16_t value) {
  bytes.append(char(value & 0xFF));
  bytes.append(char(value >> 8));
}

QByteArray deviceDescriptor(const DeviceLayout& d) {
  QByteArray bytes;
  bytes.append(char(18));
  bytes.append(char(kDeviceDescriptorType));
  append16(bytes, 0x0200);  // USB 2.0
  bytes.append(3, '\0');    // class, subclass, protocol given per interface
  bytes.append(char(64));   // bMaxPacketSize0
  append16(bytes, d.vendorId);
  append16(bytes, d.productId);
  append16(bytes, 0x0100);  // bcdDevice
  bytes.append(char(d.manufacturerIndex));
  bytes.append(char(d.productIndex));
  bytes.append(char(d.serialNumberIndex));
  bytes.append(char(1));    // bNumConfigurations
  return bytes;
}

QByteArray interfaceDescriptors(const InterfaceLayout& i) {
  QByteArray bytes;
  bytes.append(char(9));
  bytes.append(char(kInterfaceDescriptorType));
  bytes.append(char(i.number));
  bytes.append(char(i.alternateSetting));
  bytes.append(char(i.endpoints.size()));
  bytes.append(char(i.interfaceClass));
  bytes.append(char(i.interfaceSubClass));
  bytes.append(char(i.interfaceProtocol));
  bytes.append('\0');  // iInterface
  for (const usb::PipeProperties& pipe : i.endpoints) {
    bytes.append(char(7));
    bytes.append(char(kEndpointDescriptorType));
    bytes.append(char(endpointAddress(pipe)));
    bytes.append(char(pipe.transferType));
    append16(bytes, pipe.maxPacketSize);
    bytes.append(char(pipe.interval));
  }
  return bytes;
}

}  // namespace

uint8_t endpointAddress(const usb::PipeProperties& pipe) {
  return static_cast<uint8_t>((pipe.number & 0x0F) | (pipe.direction == kUSBIn ? 0x80 : 0x00));
}

QByteArray sysfsDescriptors(const DeviceLayout& layout) {
  QByteArray interfaces;
  for (const InterfaceLayout& i : layout.interfaces) interfaces += interfaceDescriptors(i);
  QByteArray configuration;
  configuration.append(char(kConfigurationLength));
  configuration.append(char(kConfigurationDescriptorType));
  append16(configuration, static_cast<uint16_t>(kConfigurationLength + interfaces.size()));
  configuration.append(char(layout.interfaces.size()));
  configuration.append(char(layout.configurationValue));
  configuration.append('\0');        // iConfiguration
  configuration.append(char(0xC0));  // self-powered
  configuration.append(char(50));    // 100 mA
  return deviceDescriptor(layout) + configuration + interfaces;
}

DeviceLayout layoutOf(const usb::virt::VirtualDeviceDescription& description) {
  using namespace usb::virt::detail;
  DeviceLayout layout;
  layout.vendorId = description.vendorId;
  layout.productId = description.productId;
  layout.manufacturerIndex = description.manufacturer.isEmpty() ? 0 : kManufacturerStringIndex;
  layout.productIndex = description.product.isEmpty() ? 0 : kProductStringIndex;
  layout.serialNumberIndex = description.serialNumber.isEmpty() ? 0 : kSerialNumberStringIndex;
  layout.configurationValue = description.configurationValue;
  InterfaceLayout interface;
  interface.number = description.interfaceNumber;
  interface.alternateSetting = description.alternateSetting;
  interface.interfaceClass = description.interfaceClass;
  interface.interfaceSubClass = description.interfaceSubClass;
  interface.interfaceProtocol = description.interfaceProtocol;
  interface.endpoints = description.endpoints;
  layout.interfaces.push_back(interface);
  return layout;
}

}  // namespace usbmock
