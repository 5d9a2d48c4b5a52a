#pragma once
// The result type of every USB operation and the IOKit constants the printer code tests or names.
// Both USB backends map their native errors onto these values.

#include <cstdint>

using IOReturn = int32_t;

#define PM_IORETURN(x) static_cast<IOReturn>(static_cast<uint32_t>(x))

inline constexpr IOReturn kIOReturnSuccess = 0;
inline constexpr IOReturn kIOReturnInvalid = PM_IORETURN(0xE0000001);
inline constexpr IOReturn kIOReturnError = PM_IORETURN(0xE00002BC);
inline constexpr IOReturn kIOReturnNoMemory = PM_IORETURN(0xE00002BD);
inline constexpr IOReturn kIOReturnNoResources = PM_IORETURN(0xE00002BE);
inline constexpr IOReturn kIOReturnIPCError = PM_IORETURN(0xE00002BF);
inline constexpr IOReturn kIOReturnNoDevice = PM_IORETURN(0xE00002C0);
inline constexpr IOReturn kIOReturnNotPrivileged = PM_IORETURN(0xE00002C1);
inline constexpr IOReturn kIOReturnBadArgument = PM_IORETURN(0xE00002C2);
inline constexpr IOReturn kIOReturnLockedRead = PM_IORETURN(0xE00002C3);
inline constexpr IOReturn kIOReturnLockedWrite = PM_IORETURN(0xE00002C4);
inline constexpr IOReturn kIOReturnExclusiveAccess = PM_IORETURN(0xE00002C5);
inline constexpr IOReturn kIOReturnStillOpen = PM_IORETURN(0xE00002D2);
inline constexpr IOReturn kIOReturnTimeout = PM_IORETURN(0xE00002D6);
inline constexpr IOReturn kIOReturnUnderrun = PM_IORETURN(0xE00002E7);
inline constexpr IOReturn kIOReturnOverrun = PM_IORETURN(0xE00002E8);
inline constexpr IOReturn kIOReturnDeviceError = PM_IORETURN(0xE00002E9);
inline constexpr IOReturn kIOReturnNoCompletion = PM_IORETURN(0xE00002EA);
inline constexpr IOReturn kIOReturnAborted = PM_IORETURN(0xE00002EB);
inline constexpr IOReturn kIOReturnNoBandwidth = PM_IORETURN(0xE00002EC);
inline constexpr IOReturn kIOReturnNotResponding = PM_IORETURN(0xE00002ED);
inline constexpr IOReturn kIOReturnNotFound = PM_IORETURN(0xE00002F0);
inline constexpr IOReturn kIOUSBPipeStalled = PM_IORETURN(0xE000404F);
inline constexpr IOReturn kIOUSBTransactionTimeout = PM_IORETURN(0xE0004051);

// Device (interest) message types.
inline constexpr uint32_t kIOMessageServiceIsTerminated = 0xE0000010;
inline constexpr uint32_t kIOMessageServiceIsSuspended = 0xE0000020;
inline constexpr uint32_t kIOMessageServiceIsResumed = 0xE0000030;
inline constexpr uint32_t kIOMessageServiceIsRequestingClose = 0xE0000100;
inline constexpr uint32_t kIOMessageServiceIsAttemptingOpen = 0xE0000101;
inline constexpr uint32_t kIOMessageServiceWasClosed = 0xE0000110;
inline constexpr uint32_t kIOMessageServiceBusyStateChange = 0xE0000120;
inline constexpr uint32_t kIOMessageServicePropertyChange = 0xE0000130;

// Pipe properties.
inline constexpr uint8_t kUSBOut = 0;
inline constexpr uint8_t kUSBIn = 1;
inline constexpr uint8_t kUSBControl = 0;
inline constexpr uint8_t kUSBIsoc = 1;
inline constexpr uint8_t kUSBBulk = 2;
inline constexpr uint8_t kUSBInterrupt = 3;

// USB printer class.
inline constexpr uint8_t kUSBPrintingClass = 7;
inline constexpr uint8_t kUSBPrintingSubClass = 1;
