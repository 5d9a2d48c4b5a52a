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
// This system's error numbers (EPERM ... EPROTONOSUPPORT, by their <errno.h> values) ->
// "EPERM - ..."; others "unknown".
const char* stringForErrno(int32_t errorNumber);
// This system's signal numbers (SIGHUP ... SIGUSR2, by their <signal.h> values) -> "HangUP" ...;
// others, and signals without a text (SIGSTKFLT, SIGPWR, real-time signals), "unknown".
const char* stringForSignal(int32_t signalNumber);

}  // namespace pm
