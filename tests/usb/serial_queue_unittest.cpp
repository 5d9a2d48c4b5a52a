// SerialQueue: shutting down without the main thread waiting. (Order and the identity of the
// running queue are the printer transport test's: its replies travel through a printer's queue;
// delayed blocks are the update end-to-end test's: its status poll counts their rounds.)

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

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
};

QTEST_GUILESS_MAIN(SerialQueueTest)
#include "serial_queue_unittest.moc"
