#pragma once
// A serial executor: one QThread running an event loop, with a context object living in it.
// Blocks run one at a time, in submission order. Used as each printer's command queue.
//
// Threading: every member may be called from any thread, except shutdownAll() (main thread).
// Destroying a queue never waits for it: the thread is told to quit after what is already queued
// and deletes itself (on the main thread) once finished. shutdownAll() is the one place that
// waits, at process exit, bounded by its time-out; blocks still queued then are dropped.

#include <functional>
#include <memory>

#include <QString>

namespace pm {

class SerialQueue {
 public:
  explicit SerialQueue(const QString& label);
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  QString label() const { return label_; }

  // True when the calling code runs on this queue.
  bool isCurrent() const;
  // The queue the calling code runs on, or null.
  static SerialQueue* current();

  // Queues `block` after everything already queued.
  void async(std::function<void()> block);
  // Queues `block` after `delayMs` milliseconds (a timer in the queue's thread).
  void asyncAfter(int delayMs, std::function<void()> block);

  // At process exit: asks every live queue's thread to quit and waits up to `timeoutMs` in all.
  static void shutdownAll(int timeoutMs);

  struct Impl;

 private:
  QString label_;
  std::shared_ptr<Impl> impl_;
};

}  // namespace pm
