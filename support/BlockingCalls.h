#pragma once
// Calls that block their thread on a device (transfers, opens, waits for a device to settle) and
// the cause behind the result they report.
//
// The main thread never makes such a call: a device that answers nothing would freeze the window.
// Every backend starts each blocking call with enterBlockingCall(), which aborts a debug build
// when it runs on the main thread and forgets the previous call's cause.
//
// Backends map their own errors onto a few IOReturn codes; several causes end up as one code
// (libusb's I/O, overflow, interrupted, no-memory and not-found errors all become kIOReturnError).
// A backend notes its own name for the cause, and log lines show it beside the code
// (resultText). The note is per thread: a printer's blocking calls and its log lines run on its
// command queue.
//
// Threads: any.

#include <QByteArray>

#include "support/IOReturn.h"

namespace pm {

// At the start of every blocking call of a backend; `call` names it in the assertion.
void enterBlockingCall(const char* call);
// Tests of a backend alone, which drive it from their test thread, lift the check for the process.
void allowBlockingCallsOnMainThread();

// The backend's name for the cause of `mapped`, a result of the current blocking call. `cause`
// must outlive the thread (a string literal or a library's static name).
void noteFailureCause(IOReturn mapped, const char* cause);
// The cause noted for `result` by the last blocking call on this thread, or null.
const char* failureCause(IOReturn result);
// "kIOReturnError (LIBUSB_ERROR_IO)": the code's name, with the cause when one was noted.
QByteArray resultText(IOReturn result);

}  // namespace pm
