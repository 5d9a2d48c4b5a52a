#include "usb/libusb/LibusbInterest.h"

namespace usb::libusb {

class LibusbInterestTable::Registration final : public InterestRegistration {
 public:
  Registration(std::weak_ptr<LibusbInterestTable> table, uint64_t id) : table_(std::move(table)), id_(id) {}
  ~Registration() override {
    if (const auto table = table_.lock()) table->remove(id_);
  }

 private:
  const std::weak_ptr<LibusbInterestTable> table_;
  const uint64_t id_;
};

std::unique_ptr<InterestRegistration> LibusbInterestTable::add(const ServiceHandle& service,
                                                               UsbRegistry::InterestCallback callback) {
  const std::lock_guard lock(mutex_);
  const uint64_t id = nextId_++;
  entries_.emplace(id, Entry{service, std::move(callback)});
  return std::make_unique<Registration>(weak_from_this(), id);
}

std::vector<UsbRegistry::InterestCallback> LibusbInterestTable::callbacksFor(
    const ServiceHandle& service) const {
  const std::lock_guard lock(mutex_);
  std::vector<UsbRegistry::InterestCallback> callbacks;
  for (const auto& [id, entry] : entries_) {
    if (entry.service == service && entry.callback) callbacks.push_back(entry.callback);
  }
  return callbacks;
}

void LibusbInterestTable::remove(uint64_t id) {
  Entry removed;
  {
    const std::lock_guard lock(mutex_);
    const auto it = entries_.find(id);
    if (it == entries_.end()) return;
    removed = std::move(it->second);
    entries_.erase(it);
  }
  // `removed` (its callback's captures, the service) goes outside the lock.
}

}  // namespace usb::libusb
