#pragma once
// Names of numeric codes for log lines. Each function returns a static constant string, never
// null, and may be called from any thread.

#include <cstdint>

#include "support/IOReturn.h"

namespace pm {

// IOKit return code -> constant name ("kIOReturnExclusiveAccess"); unknown codes, and
// kIOReturnError itself, give "kIOReturnError".
const char* stringForIOReturn(IOReturn code);
// Device (interest) message type -> constant name; unknown types give "kIOMessageUnknown".
const char* stringForIOMessage(uint32_t messageType);
// Stream status 0..7 -> "kCFStreamStatusNotOpen" ...; others "kCFStreamStatusUnknown".
const char* stringForCFStreamStatus(unsigned long status);
// Stream event 0, 1, 2, 4, 8, 16 -> "kCFStreamEventNone" ...; others "kCFStreamEventUnknown".
const char* stringForCFStreamEvent(unsigned long event);
// BSD error numbers 1..43 (35 is EAGAIN there, whatever the host's numbering) -> "EPERM - ...";
// others "unknown".
const char* stringForErrno(int32_t errorNumber);
// BSD signal numbers 1..31 -> "HangUP" ...; others "unknown".
const char* stringForSignal(int32_t signalNumber);

}  // namespace pm
