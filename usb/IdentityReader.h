#pragma once
// usb::IdentityReader: what a printer says about itself over USB: the IDs of its enumeration
// record, the language IDs and string descriptors, the vendor, product and serial-number strings
// and the IEEE 1284 device ID. It reads and answers; the printer stores what it keeps. One per
// TBUSBPrinter; it reads through that printer's InterfaceAccess.
//
// Threads: the reads run on the printer's command queue [queue]; the IDs and the language
// choice are read from any thread [any] (atomics, a mutex).

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

#include <QSet>
#include <QString>

#include "usb/UsbPlatform.h"

namespace usb {

class InterfaceAccess;

class IdentityReader {
 public:
  explicit IdentityReader(InterfaceAccess& access) : access_(access) {}
  IdentityReader(const IdentityReader&) = delete;
  IdentityReader& operator=(const IdentityReader&) = delete;

  // Location, vendor and product IDs from the interface's enumeration record (no transfer); a
  // failed read is logged and keeps the ID it had. [any]
  void noteIdentifiers(UsbInterface* interface);
  uint16_t vendorID() const { return vendorID_; }  // [any]
  uint16_t productID() const { return productID_; }
  uint32_t locationID() const { return locationID_; }

  // Language IDs offered by the device; nullopt while they cannot be read. [queue]
  std::optional<QSet<uint16_t>> langIds();
  // The language strings are asked in: chosen from the list (pm::usbtext::languageList), 0 while
  // there is none. [queue]
  uint16_t langId();
  void setLangId(uint16_t langId);  // ignored unless offered [queue]
  // String descriptor in the chosen language; null QString for none. [queue]
  QString descriptorStringAtIndex(uint8_t index);

  enum class UsbString { Vendor, Product, SerialNumber };
  // One of the device's USB strings (the vendor's name normalised: pm::usbtext); a null QString
  // when the device has none; nullopt (logged) when its index cannot be read. [queue]
  std::optional<QString> usbString(UsbString which);

  // The IEEE 1284 device ID text (pm::usbtext::deviceIdText); nullopt when the request fails or
  // the text is not UTF-8. [queue]
  std::optional<QString> read1284DeviceID();

 private:
  InterfaceAccess& access_;
  std::atomic<uint32_t> locationID_{0};
  std::atomic<uint16_t> vendorID_{0};
  std::atomic<uint16_t> productID_{0};
  mutable std::mutex lock_;  // guards the two below
  std::optional<QSet<uint16_t>> langIds_;
  uint16_t langId_ = 0;
};

}  // namespace usb
