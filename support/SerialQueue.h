#pragma once
// A serial executor: one QThread running an event loop, with a context object living in it.
// Blocks run one at a time, in submission order. Used as each printer's command queue.
//
// Threading: every member may be called from any thread, except shutdownAll() (main thread).
// Destroying a queue never waits for it: the thread is told to quit after what is already queued
// and deletes itself (on the main thread) once finished. shutdownAll() is the one place that
// waits, at process exit, bounded by its time-out; blocks still queued then are dropped, and so
// are blocks posted to a queue whose thread has ended: both as AbandonedWork (support/Completion.h).

#include <functional>
#include <memory>
#include <mutex>

#include <QObject>
#include <QString>

namespace pm {

class SerialQueue {
 public:
  explicit SerialQueue(const QString& label);
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  // The name it shows in log lines. A printer names its queue once it knows who it is, so the
  // label may change after creation (the thread keeps its first name).
  QString label() const;
  void setLabel(const QString& label);

  // True when the calling code runs on this queue.
  bool isCurrent() const;
  // The queue the calling code runs on (main() on the main thread), or null.
  static SerialQueue* current();

  // Queues `block` after everything already queued.
  void async(std::function<void()> block);
  // Queues `block` after `delayMs` milliseconds (a precise timer in the queue's thread).
  void asyncAfter(int delayMs, std::function<void()> block);

  // At process exit: asks every live queue's thread to quit and waits up to `timeoutMs` in all.
  // Answers whether they all finished (a block inside a device call may not).
  static bool shutdownAll(int timeoutMs);

  // The main queue as a SerialQueue: its blocks run on the main thread's event loop, in order
  // (at once on the calling thread while there is no application object). Its hand-over of
  // blocks is visible to ThreadSanitizer, unlike Qt's posted functors.
  static SerialQueue& main();

  struct Impl;

 private:
  struct MainQueueTag {};
  explicit SerialQueue(MainQueueTag);

  mutable std::mutex labelLock_;
  QString label_;  // behind labelLock_
  std::shared_ptr<Impl> impl_;
  std::unique_ptr<QObject> mainRunner_;  // the main queue's runner object; null otherwise
};

}  // namespace pm
