#include "support/NameTables.h"

#include <errno.h>
#include <signal.h>

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
    {0xE0000010, "kIOMessageServiceIsTerminated"},     {0xE0000020, "kIOMessageServiceIsSuspended"},
    {0xE0000030, "kIOMessageServiceIsResumed"},        {0xE0000100, "kIOMessageServiceIsRequestingClose"},
    {0xE0000101, "kIOMessageServiceIsAttemptingOpen"}, {0xE0000110, "kIOMessageServiceWasClosed"},
    {0xE0000120, "kIOMessageServiceBusyStateChange"},  {0xE0000130, "kIOMessageServicePropertyChange"},
    {0xE0000200, "kIOMessageCanDevicePowerOff"},       {0xE0000210, "kIOMessageDeviceWillPowerOff"},
    {0xE0000220, "kIOMessageDeviceWillNotPowerOff"},   {0xE0000230, "kIOMessageDeviceHasPoweredOn"},
    {0xE0000240, "kIOMessageCanSystemPowerOff"},       {0xE0000250, "kIOMessageSystemWillPowerOff"},
    {0xE0000260, "kIOMessageSystemWillNotPowerOff"},   {0xE0000270, "kIOMessageCanSystemSleep"},
    {0xE0000280, "kIOMessageSystemWillSleep"},         {0xE0000290, "kIOMessageSystemWillNotSleep"},
    {0xE0000300, "kIOMessageSystemHasPoweredOn"},      {0xE0000310, "kIOMessageSystemWillRestart"},
    {0xE0000320, "kIOMessageSystemWillPowerOn"},       {0xE0000330, "kIOMessageCopyClientID"},
    {0xE000400D, "kIOUSBBufferUnderrunErr"},
};

constexpr const char* kStreamStatusNames[] = {
    "kCFStreamStatusNotOpen", "kCFStreamStatusOpening", "kCFStreamStatusOpen",   "kCFStreamStatusReading",
    "kCFStreamStatusWriting", "kCFStreamStatusAtEnd",   "kCFStreamStatusClosed", "kCFStreamStatusError",
};

constexpr CodeName kStreamEventNames[] = {
    {0, "kCFStreamEventNone"},
    {1, "kCFStreamEventOpenCompleted"},
    {2, "kCFStreamEventHasBytesAvailable"},
    {4, "kCFStreamEventCanAcceptBytes"},
    {8, "kCFStreamEventErrorOccurred"},
    {16, "kCFStreamEventEndEncountered"},
};

// The texts name the codes; each is keyed by this system's own number for it (EAGAIN is 11 on
// Linux, not 35), so a logged errno or signal reads as what actually happened.
struct NumberName {
  int number;
  const char* name;
};

constexpr NumberName kErrnoNames[] = {
    {EPERM, "EPERM - Operation not permitted"},
    {ENOENT, "ENOENT - No such file or directory"},
    {ESRCH, "ESRCH - No such process"},
    {EINTR, "EINTR - Interrupted system call"},
    {EIO, "EIO - Input/output error"},
    {ENXIO, "ENXIO - Device not configured"},
    {E2BIG, "E2BIG - Argument list too long"},
    {ENOEXEC, "ENOEXEC - Exec format error"},
    {EBADF, "EBADF - Bad file descriptor"},
    {ECHILD, "ECHILD - No child processes"},
    {EDEADLK, "EDEADLK - Resource deadlock avoided"},
    {ENOMEM, "ENOMEM - Cannot allocate memory"},
    {EACCES, "EACCES - Permission denied"},
    {EFAULT, "EFAULT - Bad address"},
    {ENOTBLK, "ENOTBLK - Block device required"},
    {EBUSY, "EBUSY - Device / Resource busy"},
    {EEXIST, "EEXIST - File exists"},
    {EXDEV, "EXDEV - Cross-device link"},
    {ENODEV, "ENODEV - Operation not supported by device"},
    {ENOTDIR, "ENOTDIR - Not a directory"},
    {EISDIR, "EISDIR - Is a directory"},
    {EINVAL, "EINVAL - Invalid argument"},
    {ENFILE, "ENFILE - Too many open files in system"},
    {EMFILE, "EMFILE - Too many open files"},
    {ENOTTY, "ENOTTY - Inappropriate ioctl for device"},
    {ETXTBSY, "ETXTBSY - Text file busy"},
    {EFBIG, "EFBIG - File too large"},
    {ENOSPC, "ENOSPC - No space left on device"},
    {ESPIPE, "ESPIPE - Illegal seek"},
    {EROFS, "EROFS - Read-only file system"},
    {EMLINK, "EMLINK - Too many links"},
    {EPIPE, "EPIPE - Broken pipe"},
    {EDOM, "EDOM - Numerical argument out of domain"},
    {ERANGE, "ERANGE - Result too large"},
    {EAGAIN, "EAGAIN - Resource temporarily unavailable; Operation would block"},
    {EINPROGRESS, "EINPROGRESS - Operation now in progress"},
    {EALREADY, "EALREADY - Operation already in progress"},
    {ENOTSOCK, "ENOTSOCK - Socket operation on non-socket"},
    {EDESTADDRREQ, "EDESTADDRREQ - Destination address required"},
    {EMSGSIZE, "EMSGSIZE - Message too long"},
    {EPROTOTYPE, "EPROTOTYPE - Protocol wrong type for socket"},
    {ENOPROTOOPT, "ENOPROTOOPT - Protocol not available"},
    {EPROTONOSUPPORT, "EPROTONOSUPPORT - Protocol not supported"},
};

// Linux has no SIGEMT or SIGINFO: their texts have no number here, and its own SIGSTKFLT and
// SIGPWR have no text, so they read "unknown".
constexpr NumberName kSignalNames[] = {
    {SIGHUP, "HangUP"},
    {SIGINT, "INTerrupt"},
    {SIGQUIT, "QUIT"},
    {SIGILL, "ILLegal instruction"},
    {SIGTRAP, "trace TRAP"},
    {SIGABRT, "ABoRT"},
    {SIGFPE, "Floating Point Exception"},
    {SIGKILL, "KILL"},
    {SIGBUS, "BUS error"},
    {SIGSEGV, "SEGmentation Violation"},
    {SIGSYS, "bad argument to SYStem call"},
    {SIGPIPE, "write on a PIPE with no one to read it"},
    {SIGALRM, "ALaRM clock"},
    {SIGTERM, "software TERMination signal from kill"},
    {SIGURG, "URGent condition on IO channel"},
    {SIGSTOP, "sendable STOP signal not from tty"},
    {SIGTSTP, "Tty SToP signal"},
    {SIGCONT, "CONTinue a stopped process"},
    {SIGCHLD, "to parent on CHiLD stop or exit"},
    {SIGTTIN, "to readers pgrp upon background TTy read IN"},
    {SIGTTOU, "like TTin for OUtput"},
    {SIGIO, "Input/Output possible signal"},
    {SIGXCPU, "eXceeded CPU time limit"},
    {SIGXFSZ, "eXceeded File SiZe limit"},
    {SIGVTALRM, "Virtual Time ALaRM"},
    {SIGPROF, "PROFiling time alarm"},
    {SIGWINCH, "WINdow size CHanges"},
    {SIGUSR1, "USeR 1"},
    {SIGUSR2, "USeR 2"},
};

// Two texts on one number would make one of them unreachable.
template <size_t N>
constexpr bool numbersDistinct(const NumberName (&table)[N]) {
  for (size_t i = 0; i < N; ++i)
    for (size_t j = i + 1; j < N; ++j)
      if (table[i].number == table[j].number) return false;
  return true;
}

static_assert(std::size(kIOReturnNames) == 47);
static_assert(std::size(kIOMessageNames) == 23);
static_assert(std::size(kErrnoNames) == 43 && numbersDistinct(kErrnoNames));
static_assert(numbersDistinct(kSignalNames));
constexpr bool byCode(const CodeName& a, const CodeName& b) { return a.code < b.code; }
static_assert(std::is_sorted(std::begin(kIOReturnNames), std::end(kIOReturnNames), byCode));
static_assert(std::is_sorted(std::begin(kIOMessageNames), std::end(kIOMessageNames), byCode));
static_assert(std::is_sorted(std::begin(kStreamEventNames), std::end(kStreamEventNames), byCode));

template <size_t N>
const char* lookUp(const CodeName (&table)[N], uint64_t code, const char* otherwise) {
  const auto* end = table + N;
  const auto* it =
      std::lower_bound(table, end, code, [](const CodeName& entry, uint64_t c) { return entry.code < c; });
  return (it != end && it->code == code) ? it->name : otherwise;
}

template <size_t N>
const char* byNumber(const NumberName (&table)[N], int32_t number) {
  for (const NumberName& entry : table)
    if (entry.number == number) return entry.name;
  return "unknown";
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

const char* stringForErrno(int32_t errorNumber) { return byNumber(kErrnoNames, errorNumber); }

const char* stringForSignal(int32_t signalNumber) { return byNumber(kSignalNames, signalNumber); }

}  // namespace pm
