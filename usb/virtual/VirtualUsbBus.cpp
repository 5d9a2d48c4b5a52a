// The bus itself: devices put on it, its time scale, and the registry it shows to printer code.

#include "usb/virtual/VirtualUsbBus.h"

#include <algorithm>
#include <utility>

#include <QCoreApplication>

#include "support/BlockingCalls.h"
#include "support/MainQueue.h"
#include "usb/virtual/VirtualBusState.h"
#include "usb/virtual/VirtualInterface.h"

namespace usb::virt {

using detail::DeviceCore;
using detail::Enumeration;

namespace {

constexpr uint32_t kFirstAssignedLocation = 0x14100000;

// Registry calls come from the main thread; without an application there is only one thread.
bool onRegistryThread() { return QCoreApplication::instance() == nullptr || pm::isMainQueue(); }

// Ends one interest registration when destroyed. Main thread.
class VirtualInterestRegistration final : public InterestRegistration {
 public:
  VirtualInterestRegistration(std::weak_ptr<VirtualUsbBus::State> state, uint64_t id)
      : state_(std::move(state)), id_(id) {}
  ~VirtualInterestRegistration() override {
    const auto state = state_.lock();
    if (!state) return;
    detail::InterestEntry removed;  // its callback dies after the lock is released
    std::lock_guard lock(state->mutex);
    if (const auto it = state->interests.find(id_); it != state->interests.end()) {
      removed = std::move(it->second);
      state->interests.erase(it);
    }
  }

 private:
  std::weak_ptr<VirtualUsbBus::State> state_;
  uint64_t id_;
};

// The service a handle denotes, if it is one of this bus's.
std::shared_ptr<Enumeration> enumerationOf(const VirtualUsbBus::State& state, const ServiceHandle& service) {
  auto enumeration = std::dynamic_pointer_cast<Enumeration>(service.token());
  if (!enumeration || enumeration->busTag != &state) return nullptr;
  return enumeration;
}

}  // namespace

VirtualUsbBus::VirtualUsbBus() : state_(std::make_shared<State>()) {}

VirtualUsbBus::~VirtualUsbBus() {
  Q_ASSERT(onRegistryThread());
  // Everything the bus held dies after the lock is released: callbacks may own objects whose
  // destructors reach back into the state.
  std::vector<std::shared_ptr<DeviceCore>> devices;
  std::map<uint64_t, detail::InterestEntry> interests;
  ServiceCallback matched;
  ServiceCallback terminated;
  {
    std::lock_guard lock(state_->mutex);
    for (const auto& device : state_->devices) device->leaveLocked(false);
    state_->busAlive = false;
    state_->events.clear();
    devices.swap(state_->devices);
    interests.swap(state_->interests);
    matched.swap(state_->matched);
    terminated.swap(state_->terminated);
  }
  state_->changed.notify_all();
}

std::shared_ptr<VirtualUsbDevice> VirtualUsbBus::attach(const VirtualDeviceDescription& description,
                                                        std::shared_ptr<VirtualDeviceHandler> handler,
                                                        uint32_t delayMs) {
  VirtualDeviceDescription located = description;
  {
    std::lock_guard lock(state_->mutex);
    ++state_->assignedLocations;
    if (located.locationId == 0) located.locationId = kFirstAssignedLocation + state_->assignedLocations;
  }
  auto device = std::make_shared<DeviceCore>(state_, located, std::move(handler));
  {
    std::lock_guard lock(state_->mutex);
    state_->devices.push_back(device);
  }
  device->attach(delayMs);
  return device;
}

std::vector<std::shared_ptr<VirtualUsbDevice>> VirtualUsbBus::devices() const {
  std::lock_guard lock(state_->mutex);
  return {state_->devices.begin(), state_->devices.end()};
}

void VirtualUsbBus::setTimeScale(double realPerDevice) {
  std::lock_guard lock(state_->mutex);
  state_->timeScale = std::max(0.0, realPerDevice);
}

double VirtualUsbBus::timeScale() const {
  std::lock_guard lock(state_->mutex);
  return state_->timeScale;
}

void VirtualUsbBus::addInterfaceNotifications(ServiceCallback matched, ServiceCallback terminated) {
  Q_ASSERT(onRegistryThread());
  std::vector<std::shared_ptr<Enumeration>> present;
  ServiceCallback previousMatched;
  ServiceCallback previousTerminated;
  {
    std::lock_guard lock(state_->mutex);
    previousMatched = std::exchange(state_->matched, matched);
    previousTerminated = std::exchange(state_->terminated, std::move(terminated));
    for (const auto& device : state_->devices) {
      const auto& service = device->g.current;
      if (!matched || !service || service->description.interfaceClass != kUSBPrintingClass) continue;
      service->announced = true;
      present.push_back(service);
    }
  }
  for (const auto& service : present) {
    bool alive = false;
    {
      std::lock_guard lock(state_->mutex);
      alive = service->alive;
    }
    if (alive) matched(ServiceHandle(service));
  }
}

std::shared_ptr<UsbInterface> VirtualUsbBus::createInterface(const ServiceHandle& service, IOReturn* result) {
  Q_ASSERT(onRegistryThread());
  IOReturn ignored = kIOReturnSuccess;
  IOReturn& rc = result ? *result : ignored;
  const auto enumeration = enumerationOf(*state_, service);
  if (!enumeration) {
    rc = kIOReturnBadArgument;
    return nullptr;
  }
  const auto device = enumeration->device.lock();
  uint64_t id = 0;
  {
    std::lock_guard lock(state_->mutex);
    if (!enumeration->alive || !device) {
      rc = kIOReturnNoDevice;
      return nullptr;
    }
    id = state_->nextObjectId++;
  }
  rc = kIOReturnSuccess;
  return std::make_shared<detail::VirtualInterface>(detail::ServiceBinding{device, enumeration}, id);
}

std::unique_ptr<InterestRegistration> VirtualUsbBus::addInterestNotification(const ServiceHandle& service,
                                                                             InterestCallback callback,
                                                                             IOReturn* result) {
  Q_ASSERT(onRegistryThread());
  IOReturn ignored = kIOReturnSuccess;
  IOReturn& rc = result ? *result : ignored;
  const auto enumeration = enumerationOf(*state_, service);
  if (!enumeration || !callback) {
    rc = kIOReturnBadArgument;
    return nullptr;
  }
  // A service that has already gone is accepted: its termination message may still be queued.
  uint64_t id = 0;
  {
    std::lock_guard lock(state_->mutex);
    id = state_->nextObjectId++;
    state_->interests.emplace(id, detail::InterestEntry{enumeration, std::move(callback)});
  }
  rc = kIOReturnSuccess;
  return std::make_unique<VirtualInterestRegistration>(state_, id);
}

bool VirtualUsbBus::isServiceAlive(const ServiceHandle& service) {
  const auto enumeration = enumerationOf(*state_, service);
  if (!enumeration) return false;
  std::lock_guard lock(state_->mutex);
  return enumeration->alive;
}

}  // namespace usb::virt
