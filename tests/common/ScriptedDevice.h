#pragma once
// A virtual USB device that answers from scripts and records what reached it: one hook per kind
// of request (control: std::nullopt leaves the request to the bus's own answers; bulk out; bulk
// in). Set the hooks before the device is attached, or while no transfer runs.
//
// Threading: the hooks run on whichever thread the bus calls from (a printer's queue, a test's
// thread); the records are guarded and may be read from any thread.

#include <QByteArrayList>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "usb/virtual/VirtualUsbBus.h"

// The PZA the bus-level tests attach; a test changes the fields it needs afterwards (assigned, so
// that every other field keeps its default).
inline usb::virt::VirtualDeviceDescription pzaDescription(
    const QString& serial = QStringLiteral("USB42"),
    const QByteArray& deviceId = "MFG:Varnholt Printing;MDL:PZA;SERN:P123;") {
  usb::virt::VirtualDeviceDescription d;
  d.vendorId = 0x2B3C;
  d.productId = 0x0017;
  d.manufacturer = QStringLiteral("Varnholt Printing");
  d.product = QStringLiteral("PZA");
  d.serialNumber = serial;
  d.deviceId1284 = deviceId;
  return d;
}

// A reply that takes `latencyMs` of device time.
inline usb::virt::TransferResult delayedReply(const QByteArray& bytes, uint32_t latencyMs) {
  usb::virt::TransferResult r = usb::virt::TransferResult::ok(bytes);
  r.latencyMs = latencyMs;
  return r;
}

class ScriptedDevice : public usb::virt::VirtualDeviceHandler {
 public:
  using TransferResult = usb::virt::TransferResult;
  using SetupPacket = usb::virt::SetupPacket;

  std::function<std::optional<TransferResult>(const SetupPacket&)> control;
  std::function<TransferResult(const QByteArray&)> out = [](const QByteArray&) {
    return TransferResult::ok();
  };
  std::function<TransferResult(uint32_t maxLength)> in = [](uint32_t) { return TransferResult::silent(); };

  std::vector<SetupPacket> setups() const {
    const std::lock_guard g(lock_);
    return setups_;
  }
  QByteArrayList written() const {
    const std::lock_guard g(lock_);
    return written_;
  }
  QByteArray lastControlData() const {
    const std::lock_guard g(lock_);
    return controlData_;
  }
  int reads() const { return reads_; }
  int resets() const { return resets_; }

  std::optional<TransferResult> controlRequest(usb::virt::VirtualUsbDevice&, const SetupPacket& setup,
                                               const QByteArray& outData) override {
    {
      const std::lock_guard g(lock_);
      setups_.push_back(setup);
      controlData_ = outData;
    }
    return control ? control(setup) : std::nullopt;
  }
  TransferResult bulkOut(usb::virt::VirtualUsbDevice&, uint8_t, const QByteArray& data) override {
    {
      const std::lock_guard g(lock_);
      written_.append(data);
    }
    return out(data);
  }
  TransferResult bulkIn(usb::virt::VirtualUsbDevice&, uint8_t, uint32_t maxLength) override {
    ++reads_;
    return in(maxLength);
  }
  void reset(usb::virt::VirtualUsbDevice&) override { ++resets_; }

 private:
  mutable std::mutex lock_;
  std::vector<SetupPacket> setups_;
  QByteArrayList written_;
  QByteArray controlData_;
  std::atomic<int> reads_{0}, resets_{0};
};
