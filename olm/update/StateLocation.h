#pragma once
// Where this user's update records and history live: $XDG_STATE_HOME/printer-maintenance, else
// ~/.local/state/printer-maintenance (Qt 6.4 has no state location yet). In demo mode
// (PRINTER_MAINTENANCE_SIMULATE set) it is that folder's demo/ subfolder, so that virtual
// printers never touch the records of real ones. [any]

#include <QString>

namespace pm {

QString stateDirectory();

}  // namespace pm
