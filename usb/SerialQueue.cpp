#include "usb/SerialQueue.h"

#include <atomic>
#include <mutex>
#include <set>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>

#include "support/SystemLog.h"

namespace pm {

namespace {

// Threads that have not been deleted yet, so that shutdownAll() can find the ones still running
// at exit. A thread leaves the set when its QThread object is destroyed (on the main thread).
struct LiveThreads {
  std::mutex lock;
  std::set<QThread*> threads;
};

LiveThreads& liveThreads() {
  static LiveThreads live;
  return live;
}

}  // namespace

struct SerialQueue::Impl {
  QThread* thread = nullptr;    // deletes itself (on the main thread) once finished
  std::atomic<SerialQueue*> owner{nullptr};  // null once the SerialQueue object is gone

  // Posts `block` to the queue's thread; dropped once the thread has finished (at exit).
  void post(std::function<void()> block) {
    const std::lock_guard guard(lock);
    if (context != nullptr) QMetaObject::invokeMethod(context, std::move(block), Qt::QueuedConnection);
  }
  // Called on the queue's thread as it finishes, before the context object is deleted.
  void finished() {
    const std::lock_guard guard(lock);
    context = nullptr;
  }

  std::mutex lock;
  QObject* context = nullptr;   // lives in `thread`; deleted there when the thread finishes
};

namespace {

thread_local SerialQueue::Impl* t_currentQueue = nullptr;

// The queue's thread: marks itself as the current queue while it runs, and leaves the set of
// live threads when destroyed.
class QueueThread final : public QThread {
 public:
  explicit QueueThread(std::shared_ptr<SerialQueue::Impl> impl) : impl_(std::move(impl)) {
    const std::lock_guard guard(liveThreads().lock);
    liveThreads().threads.insert(this);
  }
  ~QueueThread() override {
    const std::lock_guard guard(liveThreads().lock);
    liveThreads().threads.erase(this);
  }

 protected:
  void run() override {
    t_currentQueue = impl_.get();
    exec();
    t_currentQueue = nullptr;
  }

 private:
  std::shared_ptr<SerialQueue::Impl> impl_;
};

}  // namespace

SerialQueue::SerialQueue(const QString& label) : label_(label), impl_(std::make_shared<Impl>()) {
  impl_->owner = this;
  auto* thread = new QueueThread(impl_);
  thread->setObjectName(label);
  // The thread object belongs to the main thread, whose event loop deletes it once it finished;
  // the context object belongs to the queue's thread and is deleted there as the thread ends.
  if (QCoreApplication* app = QCoreApplication::instance()) thread->moveToThread(app->thread());
  auto* context = new QObject;
  context->moveToThread(thread);
  Impl* impl = impl_.get();
  QObject::connect(thread, &QThread::finished, context, [impl] { impl->finished(); },
                   Qt::DirectConnection);
  QObject::connect(thread, &QThread::finished, context, &QObject::deleteLater);
  QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  impl_->thread = thread;
  impl_->context = context;
  thread->start();
}

SerialQueue::~SerialQueue() {
  impl_->owner = nullptr;
  // Quit after everything already queued; never wait here.
  QThread* thread = impl_->thread;
  impl_->post([thread] { thread->quit(); });
}

bool SerialQueue::isCurrent() const { return QThread::currentThread() == impl_->thread; }

SerialQueue* SerialQueue::current() {
  return t_currentQueue != nullptr ? t_currentQueue->owner.load() : nullptr;
}

void SerialQueue::async(std::function<void()> block) {
  if (!block) return;
  impl_->post(std::move(block));
}

void SerialQueue::asyncAfter(int delayMs, std::function<void()> block) {
  if (!block) return;
  // The timer must be made in the queue's thread, so the request travels there first.
  // The context is read on its own thread, where only the thread's end clears it.
  Impl* impl = impl_.get();
  impl_->post([impl, delayMs, block = std::move(block)]() mutable {
    QTimer::singleShot(std::max(delayMs, 0), impl->context, std::move(block));
  });
}

void SerialQueue::shutdownAll(int timeoutMs) {
  // Thread objects are deleted on the main thread only, so none can go while this runs.
  Q_ASSERT(QCoreApplication::instance() == nullptr ||
           QThread::currentThread() == QCoreApplication::instance()->thread());
  std::set<QThread*> threads;
  {
    const std::lock_guard guard(liveThreads().lock);
    threads = liveThreads().threads;
  }
  const QDeadlineTimer deadline(std::max(timeoutMs, 0));
  for (QThread* thread : threads) thread->quit();
  for (QThread* thread : threads) {
    if (thread->wait(deadline)) {
      delete thread;  // its pending deferred deletion goes with it
    } else {
      systemLogf("command queue %s did not finish in time",
                 qUtf8Printable(thread->objectName()));
    }
  }
}

}  // namespace pm
