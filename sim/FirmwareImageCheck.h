#pragma once
// What the printer's update mode checks before it flashes an uploaded firmware image: a Motorola
// S-record text that starts with an S0 header naming this model and its version, carries data
// records and ends with a termination record, every record well-formed with a correct checksum,
// zero-padded to a multiple of 4 bytes, and announced with the right length.
//
// Threading: a pure function; any thread.

#include <QByteArray>
#include <QString>

#include "sim/SimModels.h"

namespace sim {

struct FirmwareImageVerdict {
  bool accepted = false;
  QString versionText;  // the S0 header text, "PZA 01.10", when accepted
  QString problem;      // why it was refused, for logs and tests
};

FirmwareImageVerdict checkFirmwareImage(const QByteArray& payload, const QByteArray& lengthField,
                                        Model model);

}  // namespace sim
