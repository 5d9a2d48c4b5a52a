// SerialQueue: shutting down without the main thread waiting, and what it gives up. (Order and the identity of the
// running queue are the printer transport test's: its replies travel through a printer's queue;
// delayed blocks are the update end-to-end test's: its status poll counts their rounds.)

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include "support/Completion.h"
#include "support/SerialQueue.h"

using pm::SerialQueue;

class SerialQueueTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanupTestCase() { SerialQueue::shutdownAll(2000); }

  // Destroying a queue returns at once, while its block runs; shutting down gives up at its
  // deadline while a block is stuck.
  void neitherDestructionNorShutdownWaits() {
    auto queue = std::make_unique<SerialQueue>(QStringLiteral("test.destroy"));
    std::atomic<int> ran{0};
    queue->async([&] {
      ++ran;
      QThread::msleep(200);
      ++ran;
    });
    queue->async([&] { ++ran; });
    QTRY_VERIFY(ran.load() > 0);
    QElapsedTimer clock;
    clock.start();
    queue.reset();
    QVERIFY(clock.elapsed() < 100);
    // What was queued still runs (that the thread then ends and is deleted: the printer
    // transport test's removal case).
    QTRY_COMPARE(ran.load(), 3);

    queue = std::make_unique<SerialQueue>(QStringLiteral("test.stuck"));
    std::atomic<bool> release{false}, started{false};
    queue->async([&] {
      started = true;
      while (!release) QThread::msleep(1);
    });
    QTRY_VERIFY(started.load());
    clock.restart();
    SerialQueue::shutdownAll(100);
    QVERIFY(clock.elapsed() < 1000);
    release = true;
    queue.reset();
    SerialQueue::shutdownAll(2000);
  }

  // Shutting down drops what is queued behind the running block, and a block posted once the
  // thread has ended: the completions that work carries are given up with it, unrun and not
  // taken for operations that ended in silence (debug builds assert on those).
  void shutdownGivesUpQueuedWorkWithItsCompletions() {
    auto queue = std::make_unique<SerialQueue>(QStringLiteral("test.abandon"));
    std::atomic<bool> quitting{false};
    std::atomic<int> answered{0};
    const auto answer = [&answered] { return pm::Completion<>([&answered] { ++answered; }); };
    queue->async([&, q = queue.get()] {
      // The main queue is served inside shutdownAll only, after every thread was told to quit.
      SerialQueue::main().async([&] { quitting = true; });
      while (!quitting) QThread::msleep(1);
      q->async([done = answer()] { done(); });
    });
    QVERIFY(SerialQueue::shutdownAll(5000));
    queue->async([done = answer()] { done(); });
    QCOMPARE(answered.load(), 0);
    queue.reset();
  }
};

QTEST_GUILESS_MAIN(SerialQueueTest)
#include "serial_queue_unittest.moc"
