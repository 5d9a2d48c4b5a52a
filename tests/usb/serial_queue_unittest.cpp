// SerialQueue: delayed blocks, and shutting down without the main thread waiting. (Order and the
// identity of the running queue are the printer transport test's: its replies travel through a
// printer's queue.)

#include <QElapsedTimer>
#include <QPointer>
#include <QThread>
#include <QtTest>

#include "support/SerialQueue.h"

using pm::SerialQueue;

class SerialQueueTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanupTestCase() { SerialQueue::shutdownAll(2000); }

  void delayedBlocksWait() {
    SerialQueue queue(QStringLiteral("test.delay"));
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> late{-1}, soon{-1};
    queue.asyncAfter(150, [&] { late = clock.elapsed(); });
    queue.async([&] { soon = clock.elapsed(); });
    QTRY_VERIFY(late.load() >= 0);
    QVERIFY(soon.load() >= 0 && soon.load() < late.load());
    QVERIFY(late.load() >= 140);
  }

  void destroyingNeverWaits() {
    auto queue = std::make_unique<SerialQueue>(QStringLiteral("test.destroy"));
    std::atomic<QThread*> thread{nullptr};
    std::atomic<int> ran{0};
    queue->async([&] {
      thread = QThread::currentThread();
      QThread::msleep(200);
      ++ran;
    });
    queue->async([&] { ++ran; });
    QTRY_VERIFY(thread.load() != nullptr);
    const QPointer<QThread> watch(thread.load());
    QElapsedTimer clock;
    clock.start();
    queue.reset();
    QVERIFY(clock.elapsed() < 100);
    // What was queued still runs; then the thread ends and is deleted.
    QTRY_COMPARE(ran.load(), 2);
    QTRY_VERIFY(watch.isNull());
  }

  void shutdownIsBounded() {
    auto queue = std::make_unique<SerialQueue>(QStringLiteral("test.stuck"));
    std::atomic<bool> release{false}, started{false};
    queue->async([&] {
      started = true;
      while (!release) QThread::msleep(1);
    });
    QTRY_VERIFY(started.load());
    QElapsedTimer clock;
    clock.start();
    SerialQueue::shutdownAll(100);
    QVERIFY(clock.elapsed() < 1000);
    release = true;
    queue.reset();
    SerialQueue::shutdownAll(2000);
  }
};

QTEST_GUILESS_MAIN(SerialQueueTest)
#include "serial_queue_unittest.moc"
