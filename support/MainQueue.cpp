#include "support/MainQueue.h"

#include <condition_variable>
#include <mutex>

#include <QCoreApplication>
#include <QThread>

#include "support/SerialQueue.h"

namespace pm {

bool isMainQueue() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

void performSyncOnMainQueue(const std::function<void()>& block) {
  if (!block) return;
  if (QCoreApplication::instance() == nullptr || isMainQueue()) {
    block();
    return;
  }
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  SerialQueue::main().async([&] {
    block();
    const std::lock_guard guard(lock);
    done = true;
    finished.notify_one();
  });
  std::unique_lock guard(lock);
  finished.wait(guard, [&] { return done; });
}

void performAsyncOnMainQueue(std::function<void()> block) { SerialQueue::main().async(std::move(block)); }

}  // namespace pm
