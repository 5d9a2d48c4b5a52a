#pragma once
// What the printer tests share: a virtual bus installed as the platform registry (at a small time
// scale), a device handler that records the setup packets it receives and answers transfers from
// scripts, and helpers that run work on a printer's queue while the main loop keeps turning.

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include <QPointer>
#include <QtTest>

#include "support/SerialQueue.h"
#include "usb/TBUSBPrinter.h"
#include "usb/virtual/VirtualUsbBus.h"

namespace bench {

using usb::virt::SetupPacket;
using usb::virt::TransferResult;
using usb::virt::VirtualDeviceDescription;
using usb::virt::VirtualUsbDevice;

// Scripts are set before the device is attached; the records may be read at any time.
class ScriptedHandler : public usb::virt::VirtualDeviceHandler {
 public:
  std::function<std::optional<TransferResult>(const SetupPacket&)> control;
  std::function<TransferResult(const QByteArray&)> out = [](const QByteArray&) {
    return TransferResult::ok();
  };
  std::function<TransferResult(uint32_t maxLength)> in = [](uint32_t) {
    return TransferResult::silent();
  };

  std::vector<SetupPacket> setups() const {
    const std::lock_guard guard(lock_);
    return setups_;
  }
  QList<QByteArray> written() const {
    const std::lock_guard guard(lock_);
    return written_;
  }

  std::optional<TransferResult> controlRequest(VirtualUsbDevice&, const SetupPacket& setup,
                                               const QByteArray&) override {
    {
      const std::lock_guard guard(lock_);
      setups_.push_back(setup);
    }
    return control ? control(setup) : std::nullopt;
  }
  TransferResult bulkOut(VirtualUsbDevice&, uint8_t, const QByteArray& data) override {
    {
      const std::lock_guard guard(lock_);
      written_.append(data);
    }
    return out(data);
  }
  TransferResult bulkIn(VirtualUsbDevice&, uint8_t, uint32_t maxLength) override {
    return in(maxLength);
  }

 private:
  mutable std::mutex lock_;
  std::vector<SetupPacket> setups_;
  QList<QByteArray> written_;
};

inline VirtualDeviceDescription pza() {
  VirtualDeviceDescription d;
  d.vendorId = 0x2B3C;
  d.productId = 0x0017;
  d.manufacturer = QStringLiteral("Varnholt Printing");
  d.product = QStringLiteral("PZA");
  d.serialNumber = QStringLiteral("USB42");
  d.deviceId1284 = "MFG:Varnholt Printing;MDL:PZA;SERN:P123;";
  return d;
}

class Bench {
 public:
  Bench() {
    bus.setTimeScale(0.01);
    usb::setPlatformRegistry(&bus);
  }
  // Printers must be gone before the bus: they borrow it as their notification port.
  ~Bench() {
    const bool gone = QTest::qWaitFor([this] {
      for (const auto& p : printers_) if (!p.isNull()) return false;
      return true;
    }, 5000);
    if (!gone) qWarning("a printer outlived its test");
    usb::setPlatformRegistry(nullptr);
  }

  std::shared_ptr<VirtualUsbDevice> attach(const VirtualDeviceDescription& d,
                                           std::shared_ptr<ScriptedHandler> handler = nullptr) {
    if (!handler) handler = std::make_shared<ScriptedHandler>();
    return bus.attach(d, std::move(handler));
  }

  template <class T = TBUSBPrinter>
  std::shared_ptr<T> printerFor(const std::shared_ptr<VirtualUsbDevice>& device) {
    IOReturn result = kIOReturnSuccess;
    auto interface = bus.createInterface(device->service(), &result);
    auto printer = TBUSBPrinter::create<T>(std::move(interface), device->service());
    if (printer) printers_.append(QPointer<TBUSBPrinter>(printer.get()));
    return printer;
  }

  // A printer whose first open-close cycle has finished.
  template <class T = TBUSBPrinter>
  std::shared_ptr<T> settledPrinterFor(const std::shared_ptr<VirtualUsbDevice>& device) {
    auto printer = printerFor<T>(device);
    if (!QTest::qWaitFor([&] { return printer->state() == TBUSBPrinterStateClosed; }, 5000)) {
      qWarning("the printer's first open-close cycle did not end");
    }
    return printer;
  }

  usb::virt::VirtualUsbBus bus;

 private:
  QList<QPointer<TBUSBPrinter>> printers_;
};

// Runs `work` on the printer's command queue and waits for it, turning the main loop meanwhile
// (the queue may hop to the main queue).
inline bool onQueue(TBUSBPrinter& printer, const std::function<void()>& work) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  printer.performInlineOnCommandQueue([work, done] {
    work();
    *done = true;
  });
  return QTest::qWaitFor([&] { return done->load(); }, 5000);
}

// Drops the test's reference and waits until the object has been destroyed.
template <class T>
bool releaseAndWait(std::shared_ptr<T>& printer) {
  QPointer<TBUSBPrinter> watch(printer.get());
  printer.reset();
  return QTest::qWaitFor([&] { return watch.isNull(); }, 5000);
}

}  // namespace bench
