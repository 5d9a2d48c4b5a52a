#include "support/MainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace pm {

bool isMainQueue() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

void performSyncOnMainQueue(const std::function<void()>& block) {
  if (!block) return;
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() == app->thread()) {
    block();
    return;
  }
  QMetaObject::invokeMethod(app, [&block] { block(); }, Qt::BlockingQueuedConnection);
}

void performAsyncOnMainQueue(std::function<void()> block) {
  if (!block) return;
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) {
    block();
    return;
  }
  QMetaObject::invokeMethod(app, std::move(block), Qt::QueuedConnection);
}

}  // namespace pm
