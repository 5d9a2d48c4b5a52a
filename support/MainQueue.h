#pragma once
// The main queue is the Qt main thread's event loop. These helpers are the only way code on other
// threads reaches it. The main thread never waits for any other thread through them.
//
// Blocks travel through SerialQueue::main(), whose hand-over is behind a lock of ours, so that
// ThreadSanitizer can see it (a stock Qt's posted events are invisible to it).

#include <functional>

namespace pm {

// True on the thread that runs the QCoreApplication (the main queue). Any thread.
bool isMainQueue();

// Runs `block` at once on the main thread, else posts it there and waits until it has run.
// Never call from a thread the main thread may wait for.
// Without a running QCoreApplication, runs the block on the calling thread.
void performSyncOnMainQueue(const std::function<void()>& block);

// Posts `block` to the main queue; it runs after what is already posted. Any thread.
void performAsyncOnMainQueue(std::function<void()> block);

}  // namespace pm
