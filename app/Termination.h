#pragma once
// The last steps of every program of this application (the window and the command-line program)
// after its controller has gone: running tools end, the printers' queues get a short time to run
// dry, the printers' deletions run, and the USB registry goes last. A queue still inside a device
// call cannot be waited for; the registry must not be freed under it, so the process ends there
// with `status`.
//
// Threads: [main], once, at the end of main().

namespace pm {

// Returns `status` (or does not return at all).
int finishTermination(int status);

}  // namespace pm
