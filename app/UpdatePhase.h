#pragma once
// Which of the firmware update's three phases a printer is in, for the window: 1 while the
// printer is asked to restart into its update mode, 2 while the new firmware is written and the
// printer restarts with it, 3 while the colour tables are written and the result is reported.
// The update records its stage under "deviceFirmwareStatus"; the phase is read from that stage
// and from the update flag, and changes nothing in the update.
//
// Threads: [main].

#include <QString>

class TBUSBPrinter;

namespace pm {

inline constexpr int kUpdatePhaseCount = 3;

// 1..kUpdatePhaseCount while `printer` is in a firmware update, else 0.
int updatePhase(const TBUSBPrinter& printer);
// "Phase 2 of 3" in the user's language.
QString updatePhaseText(int phase);
// What the phase does, in the user's language, to follow a colon: "writing the new firmware".
QString updatePhaseDescription(int phase);

}  // namespace pm
