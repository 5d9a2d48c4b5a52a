#pragma once
// The state the virtual bus shares with its devices, services and interface objects. They keep
// it alive, so any of them may outlive the bus. Internal to usb/virtual/.
//
// Threading: one mutex guards every mutable field below (marked "guarded"). Handlers and
// callbacks are never called with it held. Events are queued under it and delivered on the main
// thread, one per posted invocation, in the order they were queued.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "usb/virtual/VirtualUsbBus.h"

namespace usb::virt::detail {

class DeviceCore;

// One appearance of a device on the bus: the service of its interface. A re-enumerated device
// gets a new one, so old handles and objects bound to this one stay dead.
struct Enumeration final : ServiceHandle::Token {
  Enumeration(const void* busTag, std::weak_ptr<DeviceCore> device, VirtualDeviceDescription description);

  const void* const busTag;  // the State this service belongs to
  const std::weak_ptr<DeviceCore> device;
  const VirtualDeviceDescription description;  // as enumerated, location filled in
  bool alive = true;                           // guarded
  bool announced = false;                      // guarded: reported through `matched`
};

struct BusEvent {
  enum class Kind { kMatched, kTerminated, kInterest };
  Kind kind = Kind::kMatched;
  std::shared_ptr<Enumeration> service;
  uint32_t messageType = 0;
  void* argument = nullptr;
};

struct InterestEntry {
  std::shared_ptr<Enumeration> service;
  UsbRegistry::InterestCallback callback;
};

// Device time to real time.
using RealDuration = std::chrono::duration<double, std::milli>;

}  // namespace usb::virt::detail

namespace usb::virt {

struct VirtualUsbBus::State : std::enable_shared_from_this<VirtualUsbBus::State> {
  std::mutex mutex;
  std::condition_variable changed;  // a service left, a busy count changed, or the bus went

  // All guarded.
  bool busAlive = true;
  double timeScale = 1.0;
  uint32_t assignedLocations = 0;
  uint64_t nextObjectId = 1;
  std::vector<std::shared_ptr<detail::DeviceCore>> devices;
  ServiceCallback matched;
  ServiceCallback terminated;
  std::map<uint64_t, detail::InterestEntry> interests;
  std::deque<detail::BusEvent> events;

  detail::RealDuration realTimeLocked(uint32_t deviceMs) const {
    return detail::RealDuration(deviceMs * timeScale);
  }
  // Queues an event and posts its delivery to the main thread. Called with the mutex held.
  void queueEventLocked(detail::BusEvent event);
  // Delivers the oldest queued event. Main thread.
  void deliverNextEvent();
};

}  // namespace usb::virt

namespace usb::virt::detail {

// A unique id for each service of the process, for log lines.
uint32_t nextServiceId();

// Runs `block` on the main thread after `delay` real time; at once without an application.
// Any thread.
void runOnMainThreadAfter(RealDuration delay, std::function<void()> block);

// The device objects' implementation; shared with the bus and the objects bound to it.
class DeviceCore final : public VirtualUsbDevice, public std::enable_shared_from_this<DeviceCore> {
 public:
  using State = VirtualUsbBus::State;
  DeviceCore(std::shared_ptr<State> state, const VirtualDeviceDescription& description,
             std::shared_ptr<VirtualDeviceHandler> handler);

  // VirtualUsbDevice; any thread.
  VirtualDeviceDescription description() const override;
  void setDescription(const VirtualDeviceDescription& description) override;
  uint32_t locationId() const override;
  bool isAttached() const override;
  ServiceHandle service() const override;
  void detach() override;
  void attach(uint32_t delayMs = 0) override;
  void reEnumerate(uint32_t delayMs = 0) override;
  void setHeldByOtherProgram(bool held) override;
  void setOpenResult(IOReturn result) override;
  void sendInterestMessage(uint32_t messageType, void* argument = nullptr) override;
  void setReEnumerationDelay(uint32_t delayMs) override;
  double timeScale() const override;
  int openCount() const override;
  bool isOpen() const override;

  // Takes the device off the bus. With `notify`, the interest callbacks and the registry hear of
  // it. Called with the state's mutex held.
  void leaveLocked(bool notify);

  // The device's answers, asked by the objects bound to it on the transferring thread. Each call
  // reaches the handler under the device's transfer lock, never under the state's mutex.
  TransferResult answerControl(const VirtualDeviceDescription& enumerated, const SetupPacket& setup,
                               const QByteArray& outData);
  TransferResult answerBulkOut(uint8_t endpoint, const QByteArray& data);
  TransferResult answerBulkIn(uint8_t endpoint, uint32_t maxLength);
  void resetByHost();

  const std::shared_ptr<State> state;

  // All guarded by the state's mutex.
  struct Guarded {
    VirtualDeviceDescription description;  // for the next enumeration
    std::shared_ptr<Enumeration> current;  // null while detached
    uint64_t attachGeneration = 0;         // a pending delayed attach runs only if unchanged
    bool heldByOtherProgram = false;
    IOReturn openResult = kIOReturnSuccess;
    uint64_t openOwner = 0;  // id of the interface object holding it open
    int openCount = 0;
    uint32_t reEnumerationDelayMs = 0;
  } g;

 private:
  void attachIfGeneration(uint64_t generation);

  const std::shared_ptr<VirtualDeviceHandler> handler_;
  std::mutex transferMutex_;  // one handler call at a time per device
};

}  // namespace usb::virt::detail
