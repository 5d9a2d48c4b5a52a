#include "support/NameTables.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace pm {

namespace {

struct CodeName {
  uint32_t code;
  const char* name;
};

// Sorted by code, so that a look-up is a binary search.
constexpr CodeName kIOReturnNames[] = {
    {0x00000000, "kIOReturnSuccess"},
    {0xE0000001, "kIOReturnInvalid"},
    {0xE00002BD, "kIOReturnNoMemory"},
    {0xE00002BE, "kIOReturnNoResources"},
    {0xE00002BF, "kIOReturnIPCError"},
    {0xE00002C0, "kIOReturnNoDevice"},
    {0xE00002C1, "kIOReturnNotPrivileged"},
    {0xE00002C2, "kIOReturnBadArgument"},
    {0xE00002C3, "kIOReturnLockedRead"},
    {0xE00002C4, "kIOReturnLockedWrite"},
    {0xE00002C5, "kIOReturnExclusiveAccess"},
    {0xE00002D2, "kIOReturnStillOpen"},
    {0xE00002D6, "kIOReturnTimeout"},
    {0xE00002E7, "kIOReturnUnderrun"},
    {0xE00002E8, "kIOReturnOverrun"},
    {0xE00002E9, "kIOReturnDeviceError"},
    {0xE00002EA, "kIOReturnNoCompletion"},
    {0xE00002EB, "kIOReturnAborted"},
    {0xE00002EC, "kIOReturnNoBandwidth"},
    {0xE00002ED, "kIOReturnNotResponding"},
    {0xE00002F0, "kIOReturnNotFound"},
    {0xE0004001, "kIOUSBCRCErr"},
    {0xE0004002, "kIOUSBBitstufErr"},
    {0xE0004003, "kIOUSBDataToggleErr"},
    {0xE0004006, "kIOUSBPIDCheckErr"},
    {0xE0004007, "kIOUSBWrongPIDErr"},
    {0xE000400A, "kIOUSBReserved1Err"},
    {0xE000400B, "kIOUSBReserved2Err"},
    {0xE000400C, "kIOUSBBufferOverrunErr"},
    {0xE000400D, "kIOUSBBufferUnderrunErr"},
    {0xE000400E, "kIOUSBNotSent1Err"},
    {0xE000400F, "kIOUSBNotSent2Err"},
    {0xE0004010, "kIOUSBLinkErr"},
    {0xE000404B, "kIOUSBHighSpeedSplitError"},
    {0xE000404C, "kIOUSBLowLatencyFrameListNotPreviouslyAllocated"},
    {0xE000404D, "kIOUSBLowLatencyBufferNotPreviouslyAllocated"},
    {0xE000404E, "kIOUSBInterfaceNotFound"},
    {0xE000404F, "kIOUSBPipeStalled"},
    {0xE0004050, "kIOUSBTransactionReturned"},
    {0xE0004051, "kIOUSBTransactionTimeout"},
    {0xE0004056, "kIOUSBConfigNotFound"},
    {0xE0004057, "kIOUSBEndpointNotFound"},
    {0xE000405D, "kIOUSBNotEnoughPowerErr"},
    {0xE000405E, "kIOUSBNotEnoughPipesErr"},
    {0xE000405F, "kIOUSBNoAsyncPortErr"},
    {0xE0004060, "kIOUSBTooManyPipesErr"},
    {0xE0004061, "kIOUSBUnknownPipeErr"},
};

constexpr CodeName kIOMessageNames[] = {
    {0xE0000010, "kIOMessageServiceIsTerminated"},
    {0xE0000020, "kIOMessageServiceIsSuspended"},
    {0xE0000030, "kIOMessageServiceIsResumed"},
    {0xE0000100, "kIOMessageServiceIsRequestingClose"},
    {0xE0000101, "kIOMessageServiceIsAttemptingOpen"},
    {0xE0000110, "kIOMessageServiceWasClosed"},
    {0xE0000120, "kIOMessageServiceBusyStateChange"},
    {0xE0000130, "kIOMessageServicePropertyChange"},
    {0xE0000200, "kIOMessageCanDevicePowerOff"},
    {0xE0000210, "kIOMessageDeviceWillPowerOff"},
    {0xE0000220, "kIOMessageDeviceWillNotPowerOff"},
    {0xE0000230, "kIOMessageDeviceHasPoweredOn"},
    {0xE0000240, "kIOMessageCanSystemPowerOff"},
    {0xE0000250, "kIOMessageSystemWillPowerOff"},
    {0xE0000260, "kIOMessageSystemWillNotPowerOff"},
    {0xE0000270, "kIOMessageCanSystemSleep"},
    {0xE0000280, "kIOMessageSystemWillSleep"},
    {0xE0000290, "kIOMessageSystemWillNotSleep"},
    {0xE0000300, "kIOMessageSystemHasPoweredOn"},
    {0xE0000310, "kIOMessageSystemWillRestart"},
    {0xE0000320, "kIOMessageSystemWillPowerOn"},
    {0xE0000330, "kIOMessageCopyClientID"},
    {0xE000400D, "kIOUSBBufferUnderrunErr"},
};

constexpr const char* kStreamStatusNames[] = {
    "kCFStreamStatusNotOpen", "kCFStreamStatusOpening", "kCFStreamStatusOpen",
    "kCFStreamStatusReading", "kCFStreamStatusWriting", "kCFStreamStatusAtEnd",
    "kCFStreamStatusClosed",  "kCFStreamStatusError",
};

constexpr CodeName kStreamEventNames[] = {
    {0, "kCFStreamEventNone"},
    {1, "kCFStreamEventOpenCompleted"},
    {2, "kCFStreamEventHasBytesAvailable"},
    {4, "kCFStreamEventCanAcceptBytes"},
    {8, "kCFStreamEventErrorOccurred"},
    {16, "kCFStreamEventEndEncountered"},
};

// Index 0 is errno 1.
constexpr const char* kErrnoNames[] = {
    "EPERM - Operation not permitted",
    "ENOENT - No such file or directory",
    "ESRCH - No such process",
    "EINTR - Interrupted system call",
    "EIO - Input/output error",
    "ENXIO - Device not configured",
    "E2BIG - Argument list too long",
    "ENOEXEC - Exec format error",
    "EBADF - Bad file descriptor",
    "ECHILD - No child processes",
    "EDEADLK - Resource deadlock avoided",
    "ENOMEM - Cannot allocate memory",
    "EACCES - Permission denied",
    "EFAULT - Bad address",
    "ENOTBLK - Block device required",
    "EBUSY - Device / Resource busy",
    "EEXIST - File exists",
    "EXDEV - Cross-device link",
    "ENODEV - Operation not supported by device",
    "ENOTDIR - Not a directory",
    "EISDIR - Is a directory",
    "EINVAL - Invalid argument",
    "ENFILE - Too many open files in system",
    "EMFILE - Too many open files",
    "ENOTTY - Inappropriate ioctl for device",
    "ETXTBSY - Text file busy",
    "EFBIG - File too large",
    "ENOSPC - No space left on device",
    "ESPIPE - Illegal seek",
    "EROFS - Read-only file system",
    "EMLINK - Too many links",
    "EPIPE - Broken pipe",
    "EDOM - Numerical argument out of domain",
    "ERANGE - Result too large",
    "EAGAIN - Resource temporarily unavailable; Operation would block",
    "EINPROGRESS - Operation now in progress",
    "EALREADY - Operation already in progress",
    "ENOTSOCK - Socket operation on non-socket",
    "EDESTADDRREQ - Destination address required",
    "EMSGSIZE - Message too long",
    "EPROTOTYPE - Protocol wrong type for socket",
    "ENOPROTOOPT - Protocol not available",
    "EPROTONOSUPPORT - Protocol not supported",
};

// Index 0 is signal 1; 7 reads "unknown" in the table itself.
constexpr const char* kSignalNames[] = {
    "HangUP",
    "INTerrupt",
    "QUIT",
    "ILLegal instruction",
    "trace TRAP",
    "ABoRT",
    "unknown",
    "Floating Point Exception",
    "KILL",
    "BUS error",
    "SEGmentation Violation",
    "bad argument to SYStem call",
    "write on a PIPE with no one to read it",
    "ALaRM clock",
    "software TERMination signal from kill",
    "URGent condition on IO channel",
    "sendable STOP signal not from tty",
    "Tty SToP signal",
    "CONTinue a stopped process",
    "to parent on CHiLD stop or exit",
    "to readers pgrp upon background TTy read IN",
    "like TTin for OUtput",
    "Input/Output possible signal",
    "eXceeded CPU time limit",
    "eXceeded File SiZe limit",
    "Virtual Time ALaRM",
    "PROFiling time alarm",
    "WINdow size CHanges",
    "INFOrmation request",
    "USeR 1",
    "USeR 2",
};

static_assert(std::size(kIOReturnNames) == 47);
static_assert(std::size(kIOMessageNames) == 23);
static_assert(std::size(kErrnoNames) == 43);
static_assert(std::size(kSignalNames) == 31);
constexpr bool byCode(const CodeName& a, const CodeName& b) { return a.code < b.code; }
static_assert(std::is_sorted(std::begin(kIOReturnNames), std::end(kIOReturnNames), byCode));
static_assert(std::is_sorted(std::begin(kIOMessageNames), std::end(kIOMessageNames), byCode));
static_assert(std::is_sorted(std::begin(kStreamEventNames), std::end(kStreamEventNames), byCode));

template <size_t N>
const char* lookUp(const CodeName (&table)[N], uint64_t code, const char* otherwise) {
  const auto* end = table + N;
  const auto* it = std::lower_bound(table, end, code,
                                    [](const CodeName& entry, uint64_t c) { return entry.code < c; });
  return (it != end && it->code == code) ? it->name : otherwise;
}

template <size_t N>
const char* byNumber(const char* const (&table)[N], int64_t number, int64_t first) {
  const int64_t index = number - first;
  return (index >= 0 && index < static_cast<int64_t>(N)) ? table[index] : "unknown";
}

}  // namespace

const char* stringForIOReturn(IOReturn code) {
  return lookUp(kIOReturnNames, static_cast<uint32_t>(code), "kIOReturnError");
}

const char* stringForIOMessage(uint32_t messageType) {
  return lookUp(kIOMessageNames, messageType, "kIOMessageUnknown");
}

const char* stringForCFStreamStatus(unsigned long status) {
  return status < std::size(kStreamStatusNames) ? kStreamStatusNames[status] : "kCFStreamStatusUnknown";
}

const char* stringForCFStreamEvent(unsigned long event) {
  return lookUp(kStreamEventNames, event, "kCFStreamEventUnknown");
}

const char* stringForErrno(int32_t errorNumber) { return byNumber(kErrnoNames, errorNumber, 1); }

const char* stringForSignal(int32_t signalNumber) { return byNumber(kSignalNames, signalNumber, 1); }

}  // namespace pm
