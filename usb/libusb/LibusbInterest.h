#pragma once
// The interest registrations of the registry's services. Linux tells a program only that a device
// went away, so the one message delivered is kIOMessageServiceIsTerminated.
//
// Threading: add() and the registrations' destruction may happen on any thread (a printer
// registers and lets go from its command queue); callbacksFor() is read on the main thread, which
// then calls the callbacks outside the table's lock. Registrations may outlive the table.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "usb/UsbPlatform.h"

namespace usb::libusb {

class LibusbInterestTable : public std::enable_shared_from_this<LibusbInterestTable> {
 public:
  std::unique_ptr<InterestRegistration> add(const ServiceHandle& service,
                                            UsbRegistry::InterestCallback callback);
  // The callbacks registered for `service` now, in registration order.
  std::vector<UsbRegistry::InterestCallback> callbacksFor(const ServiceHandle& service) const;

 private:
  class Registration;
  void remove(uint64_t id);

  struct Entry {
    ServiceHandle service;
    UsbRegistry::InterestCallback callback;
  };
  mutable std::mutex mutex_;
  uint64_t nextId_ = 1;
  std::map<uint64_t, Entry> entries_;
};

}  // namespace usb::libusb
