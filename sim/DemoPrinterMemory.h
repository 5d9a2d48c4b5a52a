#pragma once
// What demo printers keep between runs of the programs, as a real printer keeps it across them:
// its firmware, whether it waits in its loader (update mode), its counters, its USB serial-number
// setting and its colour tables. One file per printer, named by its serial number, in a folder of
// the demo state; each is written whole (a new file renamed over the old) whenever a command
// changed the printer, so a process ending at any moment leaves the last state or the one before.
// What is kept wins over the entry's own options (fw=, loader); removing the folder starts afresh.
//
// Threading: recall() and watch() on the thread that attaches the printers; the saves run on the
// printer's transferring thread (one transfer at a time per printer, one file per printer).

#include <memory>

#include <QString>

#include "sim/VirtualPrinter.h"

namespace sim {

class DemoPrinterMemory {
 public:
  // An empty folder keeps nothing.
  explicit DemoPrinterMemory(QString folder) : folder_(std::move(folder)) {}

  // Overlays on `config` what was kept of the printer with its serial number.
  void recall(VirtualPrinterConfig& config) const;
  // Puts the kept colour tables back into the attached printer and saves it at every change.
  void watch(const std::shared_ptr<VirtualPrinter>& printer) const;

  QString fileOf(const QString& serialNumber) const;

 private:
  QString folder_;
};

}  // namespace sim
