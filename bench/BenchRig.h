#pragma once
// The printers of a benchmark without the application's window: a virtual USB bus installed as
// the platform registry, virtual printers on it, and a TBUSBPrinterOLM made (and probed, as the
// printer list does) for every printer interface that arrives.
//
// Threading: main thread only.

#include <functional>
#include <memory>
#include <vector>

#include "olm/printer/TBUSBPrinterOLM.h"
#include "sim/VirtualPrinter.h"
#include "usb/virtual/VirtualUsbBus.h"

namespace bench {

class BenchRig {
 public:
  // `timeScale`: real milliseconds per device millisecond.
  explicit BenchRig(bool probeNewPrinters, double timeScale = 1.0);
  ~BenchRig();
  BenchRig(const BenchRig&) = delete;
  BenchRig& operator=(const BenchRig&) = delete;

  std::shared_ptr<sim::VirtualPrinter> attach(sim::VirtualPrinterConfig config);
  const std::vector<std::shared_ptr<TBUSBPrinterOLM>>& printers() const { return printers_; }
  // Called on the main thread for each printer object as it is made (before its probe).
  void onPrinterMade(std::function<void(const std::shared_ptr<TBUSBPrinterOLM>&)> handler) {
    onMade_ = std::move(handler);
  }

  // True once the printer's attach sequence has stored its last property.
  static bool isProbed(const TBUSBPrinterOLM& printer);
  // Waits until the printer is probed and the work that followed has run dry (a marker passes
  // its queue and then the main queue, four times over).
  static bool waitUntilIdle(const std::shared_ptr<TBUSBPrinterOLM>& printer);
  // Runs the event loop until `condition` holds or `timeoutMs` passes.
  static bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

 private:
  usb::virt::VirtualUsbBus bus_;
  std::vector<std::shared_ptr<sim::VirtualPrinter>> devices_;
  std::vector<std::shared_ptr<TBUSBPrinterOLM>> printers_;
  std::function<void(const std::shared_ptr<TBUSBPrinterOLM>&)> onMade_;
};

}  // namespace bench
