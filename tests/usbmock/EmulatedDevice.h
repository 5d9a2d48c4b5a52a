#pragma once
// What the kernel side of an emulated USB device node asks of the device behind it: the device's
// answers to claims, control requests and bulk transfers, and how it cuts bulk-in data into
// packets. UsbfsResponder turns these answers into what usbdevfs would deliver to libusb.
//
// Threads: every member is called on umockdev's worker thread [worker], one call at a time,
// except isPresent() [any].

#include <cstdint>

#include <QByteArray>

#include "usb/virtual/VirtualUsbBus.h"

namespace usbmock {

// How a device hands its bulk-in data to the host.
enum class BulkInFraming {
  // Each read gets exactly the bytes it asks for, as from a device that sends its reply header
  // as a packet of its own and its body after it.
  AsRequested,
  // The device sends what it has as back-to-back packets of wMaxPacketSize, header and body in
  // one packet when they fit: a read shorter than the packet overflows, as on real hardware.
  WholePackets,
};

class EmulatedDevice {
 public:
  virtual ~EmulatedDevice() = default;

  // False once this enumeration of the device has left the bus. [any]
  virtual bool isPresent() const = 0;

  // Interface claims: 0, or the errno the kernel answers (EBUSY while another program holds it).
  virtual int claimInterface(uint8_t number) = 0;
  virtual void releaseInterface(uint8_t number) = 0;

  // One control request on the default pipe; `outData` holds the host-to-device data stage.
  virtual usb::virt::TransferResult control(const usb::virt::SetupPacket& setup,
                                            const QByteArray& outData) = 0;
  // One bulk (or interrupt) transfer; `endpoint` is the endpoint number without direction bit.
  virtual usb::virt::TransferResult bulkOut(uint8_t endpoint, const QByteArray& data) = 0;
  // At most `maxLength` bytes the device sends now on the bulk-in endpoint.
  virtual usb::virt::TransferResult bulkIn(uint8_t endpoint, uint32_t maxLength) = 0;
  // The host reset the port (USBDEVFS_RESET).
  virtual void resetPort() = 0;

  virtual BulkInFraming framing() const = 0;
  // wMaxPacketSize of an endpoint given by its address (direction bit included); 0 if unknown.
  virtual uint16_t maxPacketSize(uint8_t endpointAddress) const = 0;
};

}  // namespace usbmock
