// A virtual device's life on the bus: attach, detach, re-enumeration and the knobs tests turn.

#include "usb/virtual/StandardRequests.h"
#include "usb/virtual/VirtualBusState.h"

namespace usb::virt::detail {

Enumeration::Enumeration(const void* tag, std::weak_ptr<DeviceCore> owner,
                         VirtualDeviceDescription enumerated)
    : busTag(tag), device(std::move(owner)), description(std::move(enumerated)) {
  id = nextServiceId();
}

DeviceCore::DeviceCore(std::shared_ptr<State> busState, const VirtualDeviceDescription& description,
                       std::shared_ptr<VirtualDeviceHandler> handler)
    : state(std::move(busState)), handler_(std::move(handler)) {
  g.description = description;
}

VirtualDeviceDescription DeviceCore::description() const {
  std::lock_guard lock(state->mutex);
  return g.description;
}

void DeviceCore::setDescription(const VirtualDeviceDescription& description) {
  std::lock_guard lock(state->mutex);
  const uint32_t location = g.description.locationId;
  g.description = description;
  // The port does not change with what the device says about itself.
  if (g.description.locationId == 0) g.description.locationId = location;
}

uint32_t DeviceCore::locationId() const {
  std::lock_guard lock(state->mutex);
  return g.description.locationId;
}

bool DeviceCore::isAttached() const {
  std::lock_guard lock(state->mutex);
  return g.current != nullptr;
}

ServiceHandle DeviceCore::service() const {
  std::lock_guard lock(state->mutex);
  return g.current ? ServiceHandle(g.current) : ServiceHandle();
}

void DeviceCore::detach() {
  {
    std::lock_guard lock(state->mutex);
    ++g.attachGeneration;  // a pending delayed attach is called off
    leaveLocked(true);
  }
  state->changed.notify_all();
}

void DeviceCore::leaveLocked(bool notify) {
  if (!g.current) return;
  const std::shared_ptr<Enumeration> leaving = std::move(g.current);
  leaving->alive = false;
  g.openOwner = 0;
  if (notify) {
    state->queueEventLocked({BusEvent::Kind::kInterest, leaving, kIOMessageServiceIsTerminated, nullptr});
    state->queueEventLocked({BusEvent::Kind::kTerminated, leaving, 0, nullptr});
  }
}

void DeviceCore::attach(uint32_t delayMs) {
  uint64_t generation = 0;
  RealDuration delay{};
  {
    std::lock_guard lock(state->mutex);
    generation = ++g.attachGeneration;
    delay = state->realTimeLocked(delayMs);
  }
  if (delayMs == 0) {
    attachIfGeneration(generation);
    return;
  }
  runOnMainThreadAfter(delay, [weak = weak_from_this(), generation] {
    if (const auto self = weak.lock()) self->attachIfGeneration(generation);
  });
}

void DeviceCore::attachIfGeneration(uint64_t generation) {
  std::lock_guard lock(state->mutex);
  if (!state->busAlive || g.current || g.attachGeneration != generation) return;
  g.current = std::make_shared<Enumeration>(state.get(), weak_from_this(), g.description);
  // The registry watches printer-class interfaces only; others are on the bus but not reported.
  if (g.description.interfaceClass == kUSBPrintingClass) {
    state->queueEventLocked({BusEvent::Kind::kMatched, g.current, 0, nullptr});
  }
}

void DeviceCore::reEnumerate(uint32_t delayMs) {
  detach();
  attach(delayMs);
}

void DeviceCore::setHeldByOtherProgram(bool held) {
  std::lock_guard lock(state->mutex);
  g.heldByOtherProgram = held;
}

void DeviceCore::setOpenResult(IOReturn result) {
  std::lock_guard lock(state->mutex);
  g.openResult = result;
}

void DeviceCore::sendInterestMessage(uint32_t messageType, void* argument) {
  std::lock_guard lock(state->mutex);
  if (!g.current) return;
  state->queueEventLocked({BusEvent::Kind::kInterest, g.current, messageType, argument});
}

void DeviceCore::setReEnumerationDelay(uint32_t delayMs) {
  std::lock_guard lock(state->mutex);
  g.reEnumerationDelayMs = delayMs;
}

double DeviceCore::timeScale() const {
  std::lock_guard lock(state->mutex);
  return state->timeScale;
}

int DeviceCore::openCount() const {
  std::lock_guard lock(state->mutex);
  return g.openCount;
}

bool DeviceCore::isOpen() const {
  std::lock_guard lock(state->mutex);
  return g.openOwner != 0;
}

// --- answers ----------------------------------------------------------------------------------

TransferResult DeviceCore::answerControl(const VirtualDeviceDescription& enumerated, const SetupPacket& setup,
                                         const QByteArray& outData) {
  std::lock_guard transfer(transferMutex_);
  if (handler_) {
    if (auto answer = handler_->controlRequest(*this, setup, outData)) return *std::move(answer);
  }
  StandardAnswer standard = answerFromDescription(enumerated, setup);
  if (standard.softReset && handler_) handler_->reset(*this);
  return std::move(standard.result);
}

TransferResult DeviceCore::answerBulkOut(uint8_t endpoint, const QByteArray& data) {
  std::lock_guard transfer(transferMutex_);
  return handler_ ? handler_->bulkOut(*this, endpoint, data) : TransferResult::stall();
}

TransferResult DeviceCore::answerBulkIn(uint8_t endpoint, uint32_t maxLength) {
  std::lock_guard transfer(transferMutex_);
  return handler_ ? handler_->bulkIn(*this, endpoint, maxLength) : TransferResult::stall();
}

void DeviceCore::resetByHost() {
  std::lock_guard transfer(transferMutex_);
  if (handler_) handler_->reset(*this);
}

}  // namespace usb::virt::detail
