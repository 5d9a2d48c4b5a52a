#include "support/SerialQueue.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <set>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>

#include "support/Completion.h"
#include "support/SystemLog.h"

namespace pm {

namespace {

bool onMainThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

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

// The blocks wait in a list of their own, behind this object's lock; the call queued to the
// context only says "run the next one" and carries no data of ours. Handing the blocks over
// through a lock of ours (rather than inside Qt's posted events, whose locking ThreadSanitizer
// cannot see in a stock Qt) keeps the hand-over checkable.
struct SerialQueue::Impl {
  QThread* thread = nullptr;  // null for the main queue; deletes itself (main thread) when done
  std::atomic<SerialQueue*> owner{nullptr};  // null once the SerialQueue object is gone

  std::mutex lock;
  QObject* context = nullptr;                // lives in the queue's thread; null once it ended
  std::deque<std::function<void()>> blocks;  // waiting, oldest first

  void post(std::function<void()> block) {
    {
      const std::lock_guard guard(lock);
      if (context != nullptr) {
        blocks.push_back(std::move(block));
        QMetaObject::invokeMethod(context, "runNext", Qt::QueuedConnection);
        return;
      }
    }
    // The thread has ended: the block goes unrun, with what it carries (outside the lock).
    const AbandonedWork abandoned;
    const std::function<void()> dropped = std::move(block);
  }

  void runNext() {
    std::function<void()> block;
    {
      const std::lock_guard guard(lock);
      if (blocks.empty()) return;
      block = std::move(blocks.front());
      blocks.pop_front();
    }
    block();
  }

  QObject* currentContext() {
    const std::lock_guard guard(lock);
    return context;
  }

  // On the queue's thread as it ends (run() has marked what it drops as abandoned): later posts
  // are dropped, and so are blocks still waiting (outside the lock, as their captures may post
  // elsewhere when they go).
  void finished() {
    std::deque<std::function<void()>> dropped;
    {
      const std::lock_guard guard(lock);
      context = nullptr;
      dropped.swap(blocks);
    }
  }
};

namespace detail {

// Runs the queue's blocks, one per queued call, in the queue's thread.
class BlockRunner final : public QObject {
  Q_OBJECT

 public:
  explicit BlockRunner(SerialQueue::Impl* impl) : impl_(impl) {}
  Q_INVOKABLE void runNext() { impl_->runNext(); }

 private:
  SerialQueue::Impl* impl_;  // outlives this object
};

}  // namespace detail

using detail::BlockRunner;

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
    // Orders this destruction after the thread's last touch of the queue (finished()).
    { const std::lock_guard guard(impl_->lock); }
    const std::lock_guard guard(liveThreads().lock);
    liveThreads().threads.erase(this);
  }

 protected:
  void run() override {
    t_currentQueue = impl_.get();
    exec();
    t_currentQueue = nullptr;
    // From here the thread only tears down: the blocks still waiting, delayed blocks whose timers
    // go with the thread's event dispatcher, and the context object, all given up deliberately.
    AbandonedWork::forRestOfThread();
  }

 private:
  std::shared_ptr<SerialQueue::Impl> impl_;
};

}  // namespace

SerialQueue::SerialQueue(const QString& label) : label_(label), impl_(std::make_shared<Impl>()) {
  // The main queue is made on the main thread, before any queue could post to it.
  if (onMainThread()) main();
  impl_->owner = this;
  auto* thread = new QueueThread(impl_);
  thread->setObjectName(label);
  // The thread object belongs to the main thread, whose event loop deletes it once it finished;
  // the context object belongs to the queue's thread and is deleted there as the thread ends.
  if (QCoreApplication* app = QCoreApplication::instance()) thread->moveToThread(app->thread());
  auto* context = new BlockRunner(impl_.get());
  context->moveToThread(thread);
  Impl* impl = impl_.get();
  QObject::connect(
      thread, &QThread::finished, context, [impl] { impl->finished(); }, Qt::DirectConnection);
  QObject::connect(thread, &QThread::finished, context, &QObject::deleteLater);
  QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  impl_->thread = thread;
  {
    const std::lock_guard guard(impl_->lock);
    impl_->context = context;
  }
  thread->start();
}

SerialQueue::SerialQueue(MainQueueTag) : label_(QStringLiteral("main")), impl_(std::make_shared<Impl>()) {
  impl_->owner = this;
  mainRunner_ = std::make_unique<BlockRunner>(impl_.get());
  if (QCoreApplication* app = QCoreApplication::instance()) mainRunner_->moveToThread(app->thread());
  const std::lock_guard guard(impl_->lock);
  impl_->context = mainRunner_.get();
}

SerialQueue::~SerialQueue() {
  impl_->owner = nullptr;
  if (impl_->thread == nullptr) {
    // The main queue, at process exit.
    const std::lock_guard guard(impl_->lock);
    impl_->context = nullptr;
    return;
  }
  // Quit after everything already queued; never wait here.
  QThread* thread = impl_->thread;
  impl_->post([thread] { thread->quit(); });
}

QString SerialQueue::label() const {
  const std::lock_guard guard(labelLock_);
  return label_;
}

void SerialQueue::setLabel(const QString& label) {
  const std::lock_guard guard(labelLock_);
  label_ = label;
}

SerialQueue& SerialQueue::main() {
  static SerialQueue queue{MainQueueTag{}};
  return queue;
}

bool SerialQueue::isCurrent() const {
  return impl_->thread != nullptr ? QThread::currentThread() == impl_->thread : onMainThread();
}

SerialQueue* SerialQueue::current() {
  if (t_currentQueue != nullptr) return t_currentQueue->owner.load();
  return onMainThread() ? &main() : nullptr;
}

void SerialQueue::async(std::function<void()> block) {
  if (!block) return;
  if (impl_->thread == nullptr && QCoreApplication::instance() == nullptr) {
    block();  // no main loop to run it later
    return;
  }
  impl_->post(std::move(block));
}

void SerialQueue::asyncAfter(int delayMs, std::function<void()> block) {
  if (!block) return;
  // The timer must be made in the queue's thread, so the request travels there first.
  Impl* impl = impl_.get();
  async([impl, delayMs, block = std::move(block)]() mutable {
    if (QObject* context = impl->currentContext()) {
      QTimer::singleShot(std::max(delayMs, 0), Qt::PreciseTimer, context, std::move(block));
    }
  });
}

bool SerialQueue::shutdownAll(int timeoutMs) {
  const bool onMain = onMainThread();
  Q_ASSERT(QCoreApplication::instance() == nullptr || onMain);
  // Thread objects are deleted on the main thread only, but serving the main queue below runs
  // their deferred deletions: the set is read afresh after each such turn, never kept across it.
  const auto live = [] {
    const std::lock_guard guard(liveThreads().lock);
    return liveThreads().threads;
  };
  const QDeadlineTimer deadline(std::max(timeoutMs, 0));
  for (;;) {
    const std::set<QThread*> threads = live();
    if (threads.empty()) return true;
    // A queue made by a block served here is told to end too.
    for (QThread* thread : threads) thread->quit();
    QThread* thread = *threads.begin();
    if (thread->wait(onMain ? QDeadlineTimer(std::min<qint64>(2, deadline.remainingTime())) : deadline)) {
      delete thread;  // its pending deferred deletion goes with it
      continue;
    }
    if (deadline.hasExpired()) {
      for (QThread* late : threads)
        systemLogf("command queue %s did not finish in time", qUtf8Printable(late->objectName()));
      return false;
    }
    // A queue may be waiting for the main queue (a synchronous hop) before it can end, so the main
    // queue keeps being served while we wait.
    if (onMain) QCoreApplication::sendPostedEvents();
  }
}

}  // namespace pm

#include "SerialQueue.moc"
