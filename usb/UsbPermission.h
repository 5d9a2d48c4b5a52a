#pragma once
// A printer the process may not open (kIOReturnNotPrivileged: on Linux the device node belongs to
// root until a udev rule hands it to the user at the seat). Waiting does not help, so the open
// gives up at once; the printer's row says why and the log names the rule that fixes it.
//
// Threads: [any].

#include <cstdint>

#include <QByteArray>
#include <QString>

namespace pm {

// The udev rule, installed into lib/udev/rules.d, that gives the seat's user the printers.
inline constexpr const char* kUdevRuleName = "70-printer-maintenance.rules";

// The status text of such a printer, in the user's language.
QString noPermissionText();
// How to fix it, in the user's language: install the rule, then plug the printer in again.
QString noPermissionAdvice();
// The log line: which device, and which rule to install.
void logNoPermission(const QByteArray& description, uint16_t vendorId, uint16_t productId);

}  // namespace pm
