#pragma once
// The demo mode's printers: reads the value of PRINTER_MAINTENANCE_SIMULATE and attaches one
// virtual printer per entry. The value is a comma-separated list of model[:option...], for
// example "PZA", "PZA,PZA:busy", "PZA:fw=01.05" or "PZA:serial=123:latency=2s". A model the
// application does not admit is refused (the admission says so); admitting one in the model
// configuration ("KTC admitted=yes" in models.conf) lets "KTC:fw=04.20" attach. Options:
//   busy            another program holds the printer
//   deaf            a device of the model that answers no request at all (each waits for its
//                   time-out): not a printer that works, so it is not among those returned
//   fw=VERSION      the firmware version after the model name ("04.20")
//   serial=TEXT     the serial number (default: one per printer, "SIM0001", "SIM0002", ...)
//   latency=N       added to every reply: milliseconds, or seconds with an "s" suffix ("2s")
//   idlatency=N     added to each of its USB strings only (a printer slow to say who it is)
//   status=CODE     the status code every "STATUS" answers ("01000")
//   late=COMMAND    every reply to COMMAND ("FVER", "COUNTER_LIFE", "STATUS") comes after the
//                   host's read gave up and waits in the pipe for the next read
//   restart=N       time off the bus at each restart, as latency (default 2.5 s)
//   tableversion=name  a colour table's version read answers the version name it was written with
//   tableversion=late  the first colour-table version read after each table's data comes late
//   fwformat=short  "FVER" answers "PZA 1.10" for "PZA 01.10"
//   loaderserial=S  its loader reports serial number S ("0") in its USB string and device ID
//   loader          powered on in its firmware update mode, as a printer left between an
//                   update's phases
// Given a folder, each printer keeps its firmware, loader state, counters, settings and colour
// tables there across runs, by serial number (DemoPrinterMemory), over the entry's fw= and loader.
// Unknown models and options are logged and skipped. Demo printers stay off the bus for two and
// a half seconds at each restart, so that a person sees them leave and come back.
//
// Threading: main thread (the bus is created and driven there).

#include <functional>
#include <memory>
#include <vector>

#include <QString>
#include <QStringList>

#include "sim/VirtualPrinter.h"

namespace sim {

// Whether a requested printer of a model (named as in the entry) is attached, and with which USB
// IDs (0: the model's own).
struct DemoAdmission {
  bool admitted = true;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
};
using DemoAdmit = std::function<DemoAdmission(const QString& model)>;

struct DemoAttached {
  std::vector<std::shared_ptr<VirtualPrinter>> printers;  // the working ones
  int devices = 0;                                        // every device attached, deaf ones too
  QStringList refused;                                    // the models of the refused entries
};

// Without `admit` every model is attached with its own IDs; without `memoryFolder` the printers
// start as their entries say and keep nothing.
DemoAttached attachDemoPrinters(usb::virt::VirtualUsbBus& bus, const QString& spec,
                                const DemoAdmit& admit = {}, const QString& memoryFolder = {});

}  // namespace sim
