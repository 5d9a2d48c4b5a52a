// Delivery of the bus's notifications on the main thread, and its timers.

#include <atomic>
#include <cmath>

#include <QCoreApplication>

#include "support/MainQueue.h"
#include "support/SerialQueue.h"
#include "usb/virtual/VirtualBusState.h"

namespace usb::virt {

using detail::BusEvent;

void VirtualUsbBus::State::queueEventLocked(BusEvent event) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || !busAlive) return;  // nobody could ever receive it
  events.push_back(std::move(event));
  // One invocation per event; each takes the oldest, so posting order does not matter.
  pm::performAsyncOnMainQueue([weak = weak_from_this()] {
    if (const auto self = weak.lock()) self->deliverNextEvent();
  });
}

void VirtualUsbBus::State::deliverNextEvent() {
  Q_ASSERT(pm::isMainQueue());
  std::unique_lock lock(mutex);
  if (events.empty() || !busAlive) return;
  const BusEvent event = std::move(events.front());
  events.pop_front();
  const ServiceHandle handle(event.service);

  switch (event.kind) {
    case BusEvent::Kind::kMatched: {
      // A registration made meanwhile may have reported it already.
      if (event.service->announced || !matched) return;
      event.service->announced = true;
      const ServiceCallback callback = matched;
      lock.unlock();
      callback(handle);
      return;
    }
    case BusEvent::Kind::kTerminated: {
      if (!event.service->announced || !terminated) return;
      const ServiceCallback callback = terminated;
      lock.unlock();
      callback(handle);
      return;
    }
    case BusEvent::Kind::kInterest: {
      std::vector<uint64_t> ids;
      for (const auto& [id, entry] : interests) {
        if (entry.service == event.service) ids.push_back(id);
      }
      lock.unlock();
      // A callback may end other registrations: look each one up again before calling it.
      for (const uint64_t id : ids) {
        lock.lock();
        const auto it = interests.find(id);
        if (it == interests.end() || !busAlive) {
          lock.unlock();
          continue;
        }
        const UsbRegistry::InterestCallback callback = it->second.callback;
        lock.unlock();
        callback(handle, event.messageType, event.argument);
      }
      return;
    }
  }
}

}  // namespace usb::virt

namespace usb::virt::detail {

uint32_t nextServiceId() {
  // Process-wide so that log lines never show two services under one number.
  static std::atomic<uint32_t> counter{0x1000};
  return ++counter;
}

void runOnMainThreadAfter(RealDuration delay, std::function<void()> block) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) {
    block();
    return;
  }
  const int ms = static_cast<int>(std::ceil(std::max(0.0, delay.count())));
  pm::SerialQueue::main().asyncAfter(ms, std::move(block));
}

}  // namespace usb::virt::detail
