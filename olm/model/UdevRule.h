#pragma once
// The udev rule that lets the user at the seat use the printers of the model table without root:
// one line per model (admitted or not, so that admitting one in the configuration needs no new
// rule). The build writes it for the built-in IDs (the installed 70-printer-maintenance.rules);
// `printer-maintenance --print-udev-rule` prints it for the IDs in force. [any]

#include <QString>

#include "olm/model/ModelTraits.h"

namespace pm {

QString udevRule(const ModelIdTable& ids);

}  // namespace pm
