#include "bench/BenchRig.h"

#include <atomic>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include "support/MainQueue.h"

namespace bench {

BenchRig::BenchRig(bool probeNewPrinters, double timeScale) {
  bus_.setTimeScale(timeScale);
  TBUSBPrinter::clearDeviceInfoRegistry();
  bus_.addInterfaceNotifications(
      [this, probeNewPrinters](const usb::ServiceHandle& service) {
        IOReturn result = kIOReturnSuccess;
        std::shared_ptr<usb::UsbInterface> interface = bus_.createInterface(service, &result);
        if (!interface) return;
        auto printer = TBUSBPrinter::create<TBUSBPrinterOLM>(&bus_, std::move(interface), service);
        if (!printer) return;
        printers_.push_back(printer);
        if (onMade_) onMade_(printer);
        if (probeNewPrinters) printer->probe();
      },
      [](const usb::ServiceHandle&) {});
}

BenchRig::~BenchRig() {
  bus_.addInterfaceNotifications(nullptr, nullptr);
  std::vector<std::weak_ptr<TBUSBPrinterOLM>> leaving;
  for (const auto& printer : printers_) {
    printer->prepareForRelease();
    leaving.push_back(printer);
  }
  printers_.clear();
  waitFor([&leaving] {
    for (const auto& weak : leaving)
      if (!weak.expired()) return false;
    return true;
  });
}

std::shared_ptr<sim::VirtualPrinter> BenchRig::attach(sim::VirtualPrinterConfig config) {
  auto device = sim::VirtualPrinter::attach(bus_, std::move(config));
  devices_.push_back(device);
  return device;
}

bool BenchRig::isProbed(const TBUSBPrinterOLM& printer) {
  // The attach sequence's final read; the status is stored on the main queue before it starts.
  return printer.deviceInfoDict()->contains(QStringLiteral("ZOVRAN_OLM_USB_ISerialisSet")) &&
         printer.deviceInfoDict()->contains(QStringLiteral("printerStatus"));
}

bool BenchRig::waitUntilIdle(const std::shared_ptr<TBUSBPrinterOLM>& printer) {
  if (!waitFor([&] { return isProbed(*printer); })) return false;
  for (int round = 0; round < 4; ++round) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    printer->printerCommandQueue()->async([done] { pm::performAsyncOnMainQueue([done] { *done = true; }); });
    if (!waitFor([done] { return done->load(); })) return false;
  }
  return true;
}

bool BenchRig::waitFor(const std::function<bool()>& condition, int timeoutMs) {
  // Blocks in the event loop between checks; the timer bounds the wait for a condition that
  // other threads change without posting anything to the main thread.
  QDeadlineTimer deadline(timeoutMs);
  QTimer wake;
  wake.start(5);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

}  // namespace bench
