// LibusbRegistry: devices arriving, leaving and re-enumerating, and the callbacks they cause.

#include <algorithm>

#include <QString>

#include "support/SystemLog.h"
#include "usb/libusb/LibusbDescriptors.h"
#include "usb/libusb/LibusbHotplug.h"
#include "usb/libusb/LibusbInterest.h"
#include "usb/libusb/LibusbRegistry.h"
#include "usb/libusb/LibusbService.h"

namespace usb::libusb {

namespace {

bool hasActiveConfiguration(libusb_device* device) {
  libusb_config_descriptor* configuration = nullptr;
  if (libusb_get_active_config_descriptor(device, &configuration) != 0) return false;
  libusb_free_config_descriptor(configuration);
  return true;
}

}  // namespace

void LibusbRegistry::addInterfaceNotifications(ServiceCallback matched, ServiceCallback terminated) {
  Q_ASSERT(onMainThread());
  matched_ = std::move(matched);
  terminated_ = std::move(terminated);
  if (!context_) return;
  enumeratePresentDevices();
  // A new registration learns of everything present, also what an earlier one was told.
  std::vector<ServiceHandle> present;
  for (const Device& device : devices_) {
    present.insert(present.end(), device.services.begin(), device.services.end());
  }
  reportMatched(present);
}

// Called by libusb on whichever thread handles its events; only takes a reference and posts.
void LibusbRegistry::forwardHotplug(libusb_device* device, bool arrived) {
  const DeviceRef ref(context_, device);
  poster_->post([this, ref, arrived] {
    if (arrived) {
      deviceArrived(ref);
    } else {
      deviceLeft(ref);
    }
  });
}

// The devices present now that no hot-plug event has brought yet (ENUMERATE events are posted,
// so they come later and then find their device recorded). Recorded in location order, so that
// printers attached at start-up are reported in the same order every time.
void LibusbRegistry::enumeratePresentDevices() {
  const DeviceList list(*context_);
  if (list.error() != 0) {
    pm::systemLogf("USB: listing the USB devices failed (%s)", libusb_error_name(list.error()));
    return;
  }
  if (list.devices().empty() && !loggedNoDevices_) {
    loggedNoDevices_ = true;
    pm::systemLog(QStringLiteral("USB: no USB devices present"));
  }
  std::vector<std::pair<uint32_t, libusb_device*>> fresh;
  for (libusb_device* device : list.devices()) {
    if (find(device) == nullptr) fresh.emplace_back(locationIdOfDevice(device), device);
  }
  std::stable_sort(fresh.begin(), fresh.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [location, device] : fresh) record(DeviceRef(context_, device));
}

void LibusbRegistry::deviceArrived(const DeviceRef& device) {
  Q_ASSERT(onMainThread());
  if (find(device.get()) != nullptr) return;  // already listed by addInterfaceNotifications
  // It may have left again before this event got here; its departure then finds nothing.
  if (!DeviceList(*context_).contains(device.get())) return;
  reportMatched(record(device).services);
}

void LibusbRegistry::deviceLeft(const DeviceRef& device) {
  Q_ASSERT(onMainThread());
  Device* known = find(device.get());
  if (known == nullptr) return;
  const Device gone = std::move(*known);
  devices_.erase(devices_.begin() + (known - devices_.data()));
  terminate(gone);
}

// A port reset that kept the device: end its services and report it again as new ones.
void LibusbRegistry::reEnumerated(const std::shared_ptr<LibusbEnumeration>& enumeration) {
  Q_ASSERT(onMainThread());
  const auto it = std::find_if(devices_.begin(), devices_.end(),
                               [&](const Device& device) { return device.enumeration == enumeration; });
  if (it == devices_.end()) return;  // it left the bus meanwhile
  const Device old = std::move(*it);
  devices_.erase(it);
  terminate(old);
  if (!DeviceList(*context_).contains(old.enumeration->device().get())) return;
  reportMatched(record(old.enumeration->device()).services);
}

LibusbRegistry::Device& LibusbRegistry::record(const DeviceRef& device) {
  Device entry;
  const std::weak_ptr<MainThreadPoster> poster = poster_;
  entry.enumeration = std::make_shared<LibusbEnumeration>(
      device, [this, poster](const std::shared_ptr<LibusbEnumeration>& enumeration) {
        // Any thread; `this` is reached only through the main thread's event loop, which drops
        // the block if the registry has gone.
        if (const auto live = poster.lock()) {
          live->post([this, enumeration] { reEnumerated(enumeration); });
        }
      });
  for (LibusbInterfaceDescription& description : describePrinterInterfaces(device.get())) {
    entry.services.emplace_back(
        std::make_shared<LibusbServiceToken>(entry.enumeration, std::move(description)));
  }
  entry.configured = hasActiveConfiguration(device.get());
  if (!entry.configured) {
    pm::systemLogf("USB: device %.8x has no active configuration yet; looking again",
                   locationIdOfDevice(device.get()));
    configurationWatch_->start();
  }
  devices_.push_back(std::move(entry));
  return devices_.back();
}

void LibusbRegistry::lookAgainAtUnconfigured() {
  Q_ASSERT(onMainThread());
  bool waiting = false;
  std::vector<ServiceHandle> found;
  for (Device& device : devices_) {
    if (device.configured) continue;
    libusb_device* const raw = device.enumeration->device().get();
    if (!hasActiveConfiguration(raw)) {
      waiting = true;
      continue;
    }
    device.configured = true;
    for (LibusbInterfaceDescription& description : describePrinterInterfaces(raw)) {
      device.services.emplace_back(
          std::make_shared<LibusbServiceToken>(device.enumeration, std::move(description)));
      found.push_back(device.services.back());
    }
  }
  if (!waiting) configurationWatch_->stop();
  reportMatched(found);
}

LibusbRegistry::Device* LibusbRegistry::find(const libusb_device* device) {
  const auto it = std::find_if(devices_.begin(), devices_.end(), [&](const Device& known) {
    return known.enumeration->device().get() == device;
  });
  return it == devices_.end() ? nullptr : &*it;
}

void LibusbRegistry::reportMatched(const std::vector<ServiceHandle>& services) {
  for (const ServiceHandle& service : services) {
    const ServiceCallback matched = matched_;  // a callback may replace the callbacks
    if (matched) matched(service);
  }
}

void LibusbRegistry::terminate(const Device& device) {
  device.enumeration->markTerminated();
  for (const ServiceHandle& service : device.services) {
    for (const InterestCallback& callback : interests_->callbacksFor(service)) {
      callback(service, kIOMessageServiceIsTerminated, nullptr);
    }
    const ServiceCallback terminated = terminated_;
    if (terminated) terminated(service);
  }
}

}  // namespace usb::libusb
