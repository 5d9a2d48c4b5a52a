#pragma once
// The USB backend the application runs on. With the environment variable
// PRINTER_MAINTENANCE_SIMULATE set (for example "PZA" or "PZA,PZA:busy", see sim/DemoPrinters.h),
// it is the in-process virtual bus with those virtual printers attached, so that anyone can see
// and drive the application without hardware; otherwise it is libusb.
//
// Threads: [main] for every member.

#include <memory>

#include <QString>
#include <QStringList>

#include "usb/UsbPlatform.h"

namespace pm {

class DemoMode {
 public:
  // The variable's value, trimmed; empty when the application runs on real hardware.
  static QString simulationSpec();

  // What the demo mode did with its spec.
  struct Outcome {
    int attached = 0;     // devices attached
    QStringList refused;  // the models not admitted (each entry's), in spec order
  };

  // A registry for `spec`: the virtual bus with the printers it names already attached (they live
  // as long as the bus), or the libusb registry for an empty spec. A printer of a model that is not
  // admitted is refused (logged, and named in `outcome`); the others carry the IDs in force.
  static std::shared_ptr<usb::UsbRegistry> makeRegistry(const QString& spec, Outcome* outcome = nullptr);
  // The status bar's words for the refused models; empty when none was refused.
  static QString refusalText(const QStringList& refused);

  DemoMode() = delete;
};

}  // namespace pm
