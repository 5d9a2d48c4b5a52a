// The command queue of TBUSBPrinter: where work runs, how replies travel, bulk transfers,
// printers without a queue, removal with work still queued, and printers side by side.

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include "support/MainQueue.h"
#include "tests/common/LogCapture.h"
#include "tests/usb/printer_testbench.h"

using namespace bench;

namespace {

// A printer whose replies are numbered, so that their order can be seen.
class NumberingPrinter : public TBUSBPrinter {
 public:
  QByteArray printerReply() override { return QByteArray::number(++replies_); }
  void getDeviceCustomInfo() override { probedOnQueue = isPrinterCommandQueue() && !isMainQueue(); }
  std::atomic<bool> probedOnQueue{false};

 private:
  int replies_ = 0;  // command queue only
};

}  // namespace

class PrinterQueueTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanupTestCase() { pm::SerialQueue::shutdownAll(2000); }

  void inlineOnItsOwnQueueOnly() {
    Bench bench;
    auto a = bench.settledPrinterFor(bench.attach(pza()));
    auto b = bench.settledPrinterFor(bench.attach(pza()));
    QVERIFY(!a->isPrinterCommandQueue());
    std::atomic<bool> ranInline{false}, aOnB{true}, bRan{false};
    std::atomic<QThread*> bThread{nullptr}, aThread{nullptr};
    QVERIFY(onQueue(*a, [&] {
      aThread = QThread::currentThread();
      bool inner = false;
      a->performInlineOnCommandQueue([&] { inner = true; });
      ranInline = inner;
      aOnB = b->isPrinterCommandQueue();
      b->performInlineOnCommandQueue([&] { bThread = QThread::currentThread(); bRan = true; });
    }));
    QVERIFY(ranInline.load());
    QVERIFY(!aOnB.load());
    QTRY_VERIFY(bRan.load());
    QVERIFY(bThread.load() != aThread.load());
  }

  void repliesTravelAsAsked() {
    Bench bench;
    auto printer = bench.settledPrinterFor<NumberingPrinter>(bench.attach(pza()));
    auto other = bench.settledPrinterFor(bench.attach(pza()));

    // No reply queue: the main queue, in the order the commands were sent.
    QStringList replies;
    std::atomic<int> commandsOnQueue{0};
    for (int i = 0; i < 5; ++i) {
      printer->sendPrinterCommand([&] { if (printer->isPrinterCommandQueue()) ++commandsOnQueue; },
                                  nullptr, [&](const QByteArray& r) {
                                    QVERIFY(pm::isMainQueue());
                                    replies << QString::fromLatin1(r);
                                  });
    }
    QTRY_COMPARE(replies, (QStringList{"1", "2", "3", "4", "5"}));
    QCOMPARE(commandsOnQueue.load(), 5);

    // Its own queue: at once, inside the exchange, before anything queued behind it.
    std::vector<int> order;
    std::mutex orderLock;
    const auto note = [&](int step) { const std::lock_guard g(orderLock); order.push_back(step); };
    printer->sendPrinterCommand([&] { note(1); }, printer->printerCommandQueue(),
                                [&](const QByteArray&) { note(printer->isPrinterCommandQueue() ? 2 : -2); });
    printer->performInlineOnCommandQueue([&] { note(3); });
    // Another printer's queue: runs there.
    std::atomic<bool> onOther{false};
    printer->sendPrinterCommand([] {}, other->printerCommandQueue(),
                                [&](const QByteArray& r) { onOther = other->isPrinterCommandQueue() && r == "7"; });
    QTRY_VERIFY(onOther.load());
    const std::lock_guard g(orderLock);
    QCOMPARE(order, (std::vector<int>{1, 2, 3}));
  }

  void missingCommandBlockIsReportedAndIgnored() {
    LogCapture log;
    Bench bench;
    auto printer = bench.settledPrinterFor(bench.attach(pza()));
    bool replied = false;
    printer->sendNoReplyPrinterCommand(nullptr);
    printer->sendPrinterCommand(nullptr, nullptr, [&](const QByteArray&) { replied = true; });
    QCOMPARE(log.count("you must supply a commandBlock"), 2);
    QVERIFY(onQueue(*printer, [] {}));
    QTest::qWait(20);
    QVERIFY(!replied);
  }

  void bulkTransfers() {
    Bench bench;
    auto handler = std::make_shared<ScriptedHandler>();
    std::atomic<int> latency{0};
    handler->in = [&](uint32_t) {
      TransferResult r = TransferResult::ok("12345");
      r.latencyMs = latency;
      return r;
    };
    handler->out = [](const QByteArray& data) {
      return data == "stall" ? TransferResult::stall() : TransferResult::ok();
    };
    auto printer = bench.settledPrinterFor(bench.attach(pza(), handler));
    QByteArray shortRead, slowRead, lateRead;
    IOReturn lateStatus = 0, stallStatus = 0;
    bool emptyWritten = false, stallWritten = true;
    QVERIFY(onQueue(*printer, [&] {
      printer->openInterface();
      shortRead = printer->interfaceReadDataOfSize(16);
      latency = 4000;  // inside the 5000 ms time-out
      slowRead = printer->interfaceReadDataOfSize(5);
      latency = 6000;
      lateRead = printer->interfaceReadDataOfSize(5);
      lateStatus = printer->readStatus();
      emptyWritten = printer->writeToInterfaceWithData(QByteArray());
      stallWritten = printer->writeToInterfaceWithData("stall");
      stallStatus = printer->writeStatus();
    }));
    printer->closeInterface(nullptr);
    QCOMPARE(shortRead, QByteArray("12345") + QByteArray(11, '\0'));
    QCOMPARE(slowRead, QByteArray("12345"));
    QVERIFY(lateRead.isNull());
    QCOMPARE(lateStatus, kIOReturnTimeout);
    QVERIFY(emptyWritten);
    QVERIFY(!stallWritten);
    QCOMPARE(stallStatus, kIOUSBPipeStalled);
    QCOMPARE(handler->written(), (QList<QByteArray>{QByteArray(), "stall"}));
  }

  void withoutADeviceIdEverythingRunsInline() {
    Bench bench;
    auto handler = std::make_shared<ScriptedHandler>();
    handler->control = [](const SetupPacket& s) -> std::optional<TransferResult> {
      if (s.bmRequestType == 0xA1) return TransferResult::stall();
      return std::nullopt;
    };
    auto printer = bench.printerFor<NumberingPrinter>(bench.attach(pza(), handler));
    QVERIFY(printer->printerCommandQueue() == nullptr);
    QVERIFY(printer->isPrinterCommandQueue());
    bool ran = false, closed = false;
    printer->performInlineOnCommandQueue([&] { ran = true; });
    printer->closeInterface([&](IOReturn) { closed = true; });
    QVERIFY(ran && closed);
    QCOMPARE(printer->state(), int64_t{TBUSBPrinterStateClosed});
    QByteArray reply;
    printer->sendPrinterCommand([] {}, nullptr, [&](const QByteArray& r) { reply = r; });
    QVERIFY(reply.isNull());  // delivered later, on the main queue
    QTRY_COMPARE(reply, QByteArray("1"));
    printer->probe();
    QVERIFY(!printer->probedOnQueue);  // ran at once, here
  }

  void probeRunsOnTheQueue() {
    LogCapture log;
    Bench bench;
    auto printer = bench.settledPrinterFor<NumberingPrinter>(bench.attach(pza()));
    printer->updateInfo();
    QTRY_VERIFY(printer->probedOnQueue.load());
    QVERIFY(log.contains("running probe on OLM PZA USB42"));
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> ranAfter{-1};
    printer->performAfterOnCommandQueue(100, [&] { ranAfter = clock.elapsed(); });
    QTRY_VERIFY(ranAfter.load() >= 0);
    QVERIFY(ranAfter.load() >= 90);
  }

  void removalWaitsForQueuedWork() {
    Bench bench;
    auto handler = std::make_shared<ScriptedHandler>();
    handler->out = [](const QByteArray&) {
      TransferResult r = TransferResult::ok();
      r.latencyMs = 2000;  // 20 ms each at the bench's time scale
      return r;
    };
    auto printer = bench.settledPrinterFor(bench.attach(pza(), handler));
    QThread* destroyedOn = nullptr;
    connect(printer.get(), &QObject::destroyed, this, [&] { destroyedOn = QThread::currentThread(); });
    std::atomic<QThread*> thread{nullptr};
    QVERIFY(onQueue(*printer, [&] { thread = QThread::currentThread(); }));
    const QPointer<QThread> queueThread(thread.load());

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 5; ++i) {
      printer->openInterface([p = printer.get(), i](IOReturn) {
        p->writeToInterfaceWithData(QByteArray::number(i));
        p->closeInterface(nullptr);
      });
    }
    printer->prepareForRelease();
    QVERIFY(releaseAndWait(printer));
    QVERIFY(clock.elapsed() >= 90);  // the writes ran first
    QCOMPARE(handler->written().size(), 5);
    QCOMPARE(destroyedOn, QThread::currentThread());
    QTRY_VERIFY(queueThread.isNull());  // its thread ended and was deleted
  }

  void printersRunSideBySide() {
    Bench bench;
    // Each printer's write waits until the other printer's write has started.
    std::atomic<int> started{0};
    auto handler = std::make_shared<ScriptedHandler>();
    handler->out = [&](const QByteArray&) {
      ++started;
      QElapsedTimer wait;
      wait.start();
      while (started < 2 && wait.elapsed() < 2000) QThread::msleep(1);
      return started >= 2 ? TransferResult::ok() : TransferResult::failure(kIOReturnTimeout);
    };
    auto a = bench.settledPrinterFor(bench.attach(pza(), handler));
    auto b = bench.settledPrinterFor(bench.attach(pza(), handler));
    std::atomic<int> succeeded{0};
    for (auto* p : {a.get(), b.get()}) {
      p->openInterface([p, &succeeded](IOReturn) {
        if (p->writeToInterfaceWithData("x")) ++succeeded;
        p->closeInterface(nullptr);
      });
    }
    QTRY_COMPARE(succeeded.load(), 2);
  }
};

QTEST_GUILESS_MAIN(PrinterQueueTest)
#include "printer_queue_unittest.moc"
