#include "app/Termination.h"

#include <unistd.h>

#include <cstdio>

#include <QCoreApplication>

#include "app/NotificationPort.h"
#include "support/MainQueue.h"
#include "support/SerialQueue.h"
#include "support/SystemLog.h"
#include "support/ToolProcess.h"

namespace pm {

namespace {
// How long quitting waits for the printers' queues: together with the rest of the teardown, Quit
// ends the process within 200 ms.
constexpr int kQueueShutdownMs = 100;
}  // namespace

int finishTermination(int status) {
  Q_ASSERT(isMainQueue());
  // Tools still running (a hanging lpstat) end now; the printers were let go at termination, so
  // their queues end after the block each one runs.
  endRunningTools();
  if (!SerialQueue::shutdownAll(kQueueShutdownMs)) {
    // A queue is still inside a device call (bounded by its time-out, but too long to wait for).
    // Freeing the registry or the main queue under it would crash it: end the process here.
    systemLogf("quitting with a printer queue still in a USB call");
    std::fflush(nullptr);
    ::_exit(status);
  }
  // The printers' deletions were handed to the main queue; they end their registrations before
  // the registry goes.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  NotificationPort::reclaim();
  return status;
}

}  // namespace pm
