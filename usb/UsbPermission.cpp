#include "usb/UsbPermission.h"

#include <QCoreApplication>

#include "support/SystemLog.h"

namespace pm {

QString noPermissionText() {
  return QCoreApplication::translate("TBUSBPrinter", "No permission to use this USB device");
}

QString noPermissionAdvice() {
  return QCoreApplication::translate(
             "TBUSBPrinter",
             "This user may not use the printer's USB device. Install the udev rule %1 "
             "(the printer-maintenance package does), then unplug the printer and plug it "
             "in again.")
      .arg(QLatin1String(kUdevRuleName));
}

void logNoPermission(const QByteArray& description, uint16_t vendorId, uint16_t productId) {
  systemLogf(
      "no permission to open the USB device of %s (%04x:%04x, kIOReturnNotPrivileged): "
      "install the udev rule %s (the package puts it into /usr/lib/udev/rules.d; by hand, "
      "copy it to /etc/udev/rules.d and run 'udevadm control --reload-rules'), then "
      "unplug the printer and plug it in again",
      description.constData(), vendorId, productId, kUdevRuleName);
}

}  // namespace pm
