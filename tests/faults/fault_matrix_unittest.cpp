// The fault matrix: every model attached and updated on the virtual bus while its virtual printer
// fails at each step: unplugged at every command of the attach sequence and of the three update
// phases, every kind of broken reply at every exchange of the attach sequence, gone for good after
// a restart until it is switched on again (and held by another program when it returns). Every
// other unplug during the update also restarts the application while the printer is off (the next
// process must finish the update).
// One checker judges every case: no deadlock (every wait is bounded), a responsive main thread,
// every printer queue drained, an update stage that matches what the printer really did, no
// success report unless the printer really runs the new firmware with every colour table of the
// archive written, no colour table left erased at the end, no update abandoned while the printer
// runs the new firmware, no update command to a printer other than the one updated, and no update
// that ends in silence or leaves the window showing a running phase.
//
// Standard error (the system log of thousands of exchanges) goes to fault_matrix.log in the
// temporary directory; the summary line and the failed cases go to standard output.

#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "olm/update/FirmwareArchive.h"
#include "olm/update/UpdateJournal.h"
#include "olm/update/UpdateReturnWatch.h"
#include "tests/common/PrinterTestRig.h"

using sim::Model;
using sim::ReplyFault;

namespace {

constexpr double kTimeScale = 0.002;     // 5000 ms device time-outs last 10 ms
constexpr int kTickMs = 5;               // how often printer objects are looked for
constexpr qint64 kMaxLatenessMs = 2000;  // a main thread held longer has frozen
constexpr int kOutcomeMs = 20000;        // bound of every awaited outcome (a hang, not a delay)
constexpr int kQuietMs = 10;             // no new frame for this long counts as quiet
constexpr int kReturnWatchMs = 100;      // "has not come back" bound of the never-back cases

const QString kStageKey = QStringLiteral("deviceFirmwareStatus");
const QString kSuccessTitle = QStringLiteral("Firmware update was successful!");
const QString kNotBackTitle = QStringLiteral("The printer has not come back");
const QString kBusyStatus = QStringLiteral("In use by other application");

enum class Kind { Clean, UnplugAttach, ReplyAttach, UnplugUpdate, NeverBackBusy };

struct Case {
  Model model;
  Kind kind;
  int at = 0;  // command (unplug) or exchange (reply fault) number, from 1
  ReplyFault reply = ReplyFault::None;
};

QString describe(const Case& c) {
  static const char* const kinds[] = {"clean", "unplug at attach command", "reply fault at attach exchange",
                                      "unplug at update command", "never back, busy on return"};
  static const char* const replies[] = {"",          "no reply",     "blank header", "garbage header",
                                        "00004097",  "stall",        "late reply",   "split reply",
                                        "long body", "garbage after"};
  QString text = sim::modelName(c.model) + QLatin1String(": ") + QLatin1String(kinds[int(c.kind)]);
  if (c.at > 0) text += QLatin1Char(' ') + QString::number(c.at);
  if (c.reply != ReplyFault::None)
    text += QLatin1String(" (") + QLatin1String(replies[int(c.reply)]) + QLatin1Char(')');
  return text;
}

// Runs the event loop until `condition` holds or `timeoutMs` passes. Unlike QTest::qWaitFor it
// does not sleep between rounds, so the many hops between a printer's queue and the main thread
// cost nothing, and thousands of exchanges fit in seconds.
bool spinUntil(const std::function<bool()>& condition, int timeoutMs) {
  if (condition()) return true;
  QElapsedTimer clock;
  clock.start();
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (condition() || clock.elapsed() >= timeoutMs) loop.quit();
  });
  poll.start(1);
  loop.exec();
  return condition();
}

// What the clean run of a model counted: the cases of that model are numbered from it.
struct Counts {
  int attachCommands = 0;
  int attachExchanges = 0;
  int updateCommands = 0;
  int firstTableEnd = 0;  // update commands up to the first colour table's data (the rest repeats)
};

// One case from attach to teardown; collects what went wrong instead of stopping at it.
class CaseRun {
 public:
  explicit CaseRun(const Case& c) : case_(c), rig_(std::make_unique<PrinterTestRig>(kTimeScale)) {
    const QStringList files =
        pm::FirmwareArchive::archiveForProductID(sim::traitsOf(c.model).productId)->fileNames;
    newFirmware_ = files.first().chopped(3);
    tableCount_ = int(files.size()) - 1;
    QObject::connect(&tracker_, &QTimer::timeout, [this] { track(); });
    tracker_.start(kTickMs);
  }

  // Runs the case; the problems found, empty when it passed. `counts` is filled by a clean run.
  QStringList run(Counts* counts) {
    device_ = rig_->attach({.model = case_.model});
    switch (case_.kind) {
      case Kind::Clean:
        clean(counts);
        break;
      case Kind::UnplugAttach:
        device_->unplugAtCommand(case_.at);
        expect(unplugged(), "the unplug never came");
        quiet();
        check("after the unplug");
        device_->powerCycle();
        attached();
        break;
      case Kind::ReplyAttach:
        device_->injectReplyFault(case_.reply, case_.at);
        expect(waitFor([&] { return device_->answeredCommands() >= uint64_t(case_.at); }),
               "fault never reached");
        quiet();
        check("after the fault");
        noValueShifted();
        readsStillWork();
        break;
      case Kind::UnplugUpdate:
        if (!attached()) break;
        device_->clearFrames();
        device_->unplugAtCommand(case_.at);
        startUpdate();
        expect(unplugged(), "the unplug never came");
        quiet();
        check("after the unplug");
        if (case_.at % 2 == 1) PrinterTestRig::restartApplication();
        switchedOnAgain();
        break;
      case Kind::NeverBackBusy:
        neverBack();
        break;
    }
    check("at the end");
    endedInWords();
    teardown();
    return problems_;
  }

 private:
  void expect(bool holds, const QString& what) {
    if (!holds) problems_ << what;
  }

  bool waitFor(const std::function<bool()>& condition, int timeoutMs = kOutcomeMs) {
    return spinUntil(
        [&] {
          track();
          return condition();
        },
        timeoutMs);
  }

  // Every printer object ever made for the device, to see them all drained at the end.
  void track() {
    for (const auto& printer : rig_->printers()) {
      if (std::none_of(seen_.begin(), seen_.end(), [&](const auto& weak) { return weak.lock() == printer; }))
        seen_.push_back(printer);
      key_ = printer->keyUSBdevice();
    }
  }

  // The unplug happened (not merely a restart's time off the bus).
  bool unplugged() {
    return waitFor([&] { return !device_->unplugPending() && !device_->device()->isAttached(); });
  }

  std::shared_ptr<TBUSBPrinterOLM> current() const { return rig_->printerFor(*device_); }
  QString status() const { return current() ? current()->printerStatus() : QString(); }

  // Lets queued and timed work run until the printer sees no new command for a while.
  void quiet() {
    QElapsedTimer waited;
    waited.start();
    qsizetype last = -1;
    for (int stable = 0; stable < 2;) {
      if (waited.elapsed() > kOutcomeMs) return expect(false, QStringLiteral("the printer never fell quiet"));
      if (const auto printer = current()) PrinterTestRig::settle(printer, 2, spinUntil);
      spinUntil([] { return false; }, kQuietMs);
      track();
      const qsizetype now = device_->frames().size();
      stable = now == last ? stable + 2 : 0;
      last = now;
    }
  }

  // The attach sequence has run on the current printer object and read the real version.
  bool attached() {
    const bool ok = waitFor([&] {
      const auto printer = current();
      return printer && printer->firmwareVersion() == device_->firmwareVersion();
    });
    expect(ok, QStringLiteral("the printer was not read after its attach"));
    if (ok) quiet();
    return ok;
  }

  // A broken or late reply costs at most its own value: every value read holds the printer's own
  // or none, never another command's reply.
  void noValueShifted() {
    const auto printer = current();
    if (!printer) return;
    const auto ownOrNone = [&](const char* key, const QString& value, const QString& own) {
      if (value != own && value != TBUSBPrinterOLM::kNotReadText && !value.isEmpty())
        problems_ << QStringLiteral("%1 read as \"%2\"").arg(QLatin1String(key), value);
    };
    ownOrNone("firmware version", printer->firmwareVersion(), device_->firmwareVersion());
    ownOrNone("lifetime counter", printer->properties().lifetimeCounter(),
              QString::number(device_->counters().lifetime));
    ownOrNone("serial number", printer->printerSerialNumber(), device_->serialNumber());
    if (sim::hasISerialOption(case_.model, device_->firmwareVersion()))
      ownOrNone("USB serial-number setting",
                printer->deviceInfoDict()->string(QStringLiteral("ZOVRAN_OLM_USB_ISerialisSet")),
                QStringLiteral("1"));
  }

  // After a broken reply the printer object still reads fresh values.
  void readsStillWork() {
    const auto printer = current();
    if (!printer) return expect(false, QStringLiteral("no printer object after the fault"));
    device_->setFirmwareVersion(sim::modelName(case_.model) + QStringLiteral(" 09.99"));
    device_->setStatusSequence({QStringLiteral("01000")});
    printer->properties().getPrinterFirmwareVersion();
    printer->updatePrinterStatus();
    expect(waitFor([&] { return printer->firmwareVersion() == device_->firmwareVersion(); }),
           QStringLiteral("a later version read failed: \"%1\"").arg(printer->firmwareVersion()));
    expect(waitFor([&] { return printer->printerStatus() == QLatin1String("Cover Open"); }),
           QStringLiteral("a later status read failed: \"%1\"").arg(printer->printerStatus()));
  }

  // Back from an unplug during the update: an update that reached the loader finishes; one that
  // never asked for the restart leaves an ordinary printer.
  void switchedOnAgain() {
    const int recorded = stage().toInt();
    const bool underWay =
        device_->inUpdateMode() || (device_->firmwareVersion() == newFirmware_ && recorded == 2);
    device_->powerCycle();
    if (underWay)
      expect(waitFor([&] { return succeeded(); }), QStringLiteral("the update did not finish once back"));
    else if (recorded != 1) attached();
    quiet();
  }

  void startUpdate() {
    updateStarted_ = true;
    rig_->alerts().queueAnswer(1001, true);
    rig_->alerts().queueAnswer(1001);
    current()->update().updateFirmware();
  }

  bool succeeded() const { return rig_->alerts().titles().contains(kSuccessTitle); }

  void clean(Counts* counts) {
    if (!attached()) return;
    counts->attachCommands = int(device_->frames().size());
    counts->attachExchanges = int(device_->answeredCommands());
    device_->clearFrames();
    startUpdate();
    expect(waitFor([&] { return succeeded(); }), QStringLiteral("the clean update did not succeed"));
    quiet();
    const std::vector<sim::ReceivedFrame> frames = device_->frames();
    counts->updateCommands = int(frames.size());
    counts->firstTableEnd = counts->updateCommands;
    for (int i = 0, tables = 0; i < int(frames.size()); ++i)
      if (frames[size_t(i)].command == QLatin1String("TBL_WTCTRLD_UPDATE_CW") && ++tables == 1)
        counts->firstTableEnd = i + 1;
  }

  void neverBack() {
    pm::UpdateReturnWatch::setTimeoutMs(kReturnWatchMs);
    if (!attached()) return;
    device_->setUpdateFault(sim::UpdateFault::NeverReturnAfterRestart);
    startUpdate();
    // Gone after the rewrite request, then (switched on, still failing) after the upload; each
    // alert says which step the printer was last asked for. It returns held by another program.
    for (int away = 1; away <= 2; ++away) {
      expect(waitFor([&] { return rig_->alerts().titles().count(kNotBackTitle) == away; }),
             QStringLiteral("no \"not come back\" alert %1").arg(away));
      expect(rig_->alerts().requests().back().message.contains(
                 QLatin1String(away == 1 ? "asked to restart into its firmware update mode"
                                         : "The new firmware was sent to the printer")),
             QStringLiteral("\"not come back\" alert %1 names the wrong step").arg(away));
      check("while away");
      if (away == 2) device_->setUpdateFault(sim::UpdateFault::None);
      device_->device()->setHeldByOtherProgram(true);
      device_->powerCycle();
      expect(waitFor([&] { return status() == kBusyStatus; }), "the returning printer was not shown as busy");
      device_->device()->setHeldByOtherProgram(false);
    }
    expect(waitFor([&] { return succeeded(); }), QStringLiteral("the update did not finish once back"));
    quiet();
  }

  // An update that did not succeed said so (an alert besides the warning and the confirmation), and
  // the printer present shows no running phase once all is quiet.
  void endedInWords() {
    if (!updateStarted_ || !problems_.isEmpty()) return;
    const QStringList said =
        rig_->alerts().titles().filter(QRegularExpression(QStringLiteral("^(?!Attention:|-- Warning --)")));
    if (!succeeded() && said.isEmpty()) problems_ << QStringLiteral("the update ended in silence");
    if (const auto printer = current(); printer && printer->inFirmwareUpdate())
      problems_ << QStringLiteral("the window still shows a running update phase");
  }

  QVariant stage() const {
    if (const auto printer = current()) return printer->deviceInfoDict()->value(kStageKey);
    return key_.isEmpty() ? QVariant() : TBUSBPrinter::deviceInfoForKey(key_)->value(kStageKey);
  }

  // The invariants that hold at any quiet moment of any case.
  void check(const char* when) {
    const auto fail = [&](const QString& what) {
      problems_ << what + QLatin1String(" (") + QLatin1String(when) + QLatin1Char(')');
    };
    if (watch_.worstLatenessMs() > kMaxLatenessMs)
      fail(QStringLiteral("main thread late by %1 ms").arg(watch_.worstLatenessMs()));
    const bool newFirmware = device_->firmwareVersion() == newFirmware_;
    const bool updateMode = device_->inUpdateMode();
    const QVariant recorded = stage();
    const int s = recorded.isValid() ? recorded.toInt() : 0;
    // In the loader the update is under way (1 or 2); with the old firmware it was at most asked
    // to restart (1); with the new one it is past the upload (2, 3) or closed (none).
    const bool consistent = updateMode ? (s == 1 || s == 2) : newFirmware ? s != 1 : (s == 0 || s == 1);
    if (!consistent)
      fail(QStringLiteral("stage %1 while the printer runs \"%2\"%3")
               .arg(recorded.toString(), device_->firmwareVersion(), updateMode ? " in update mode" : ""));
    const int successes = rig_->alerts().titles().count(kSuccessTitle);
    if (successes > 1) fail(QStringLiteral("%1 success reports").arg(successes));
    if (successes > 0 && (!newFirmware || updateMode))
      fail(QStringLiteral("success reported while the printer runs \"%1\"").arg(device_->firmwareVersion()));
    // Every case ends with the printer back and its update run to its end: a phase 3 that was
    // not interrupted leaves no table erased.
    const bool atTheEnd = QLatin1String(when) == QLatin1String("at the end");
    for (const sim::ColorTable& table : device_->colorTables())
      if ((successes > 0 || s == 3 || atTheEnd) && table.version == QLatin1String("0000"))
        return fail(QStringLiteral("success, stage 3 or the end with erased colour tables"));
    // The record goes without success only when the printer does not run the new firmware.
    if (updateStarted_ && newFirmware && successes == 0 && pm::UpdateJournal::records().isEmpty())
      fail(QStringLiteral("the update was abandoned while the printer runs the new firmware"));
    // Success: every table of the archive was written after the last erase.
    if (successes > 0) {
      int written = 0;
      for (const sim::ReceivedFrame& frame : device_->frames()) {
        if (frame.command == QLatin1String("TBL_CL")) written = 0;
        if (frame.command == QLatin1String("TBL_WTCTRLD_UPDATE_CW")) ++written;
      }
      if (written != tableCount_)
        fail(QStringLiteral("success reported with %1 of %2 tables written").arg(written).arg(tableCount_));
    }
  }

  // Every printer object's queue runs dry and the object goes with the rig.
  void teardown() {
    for (const auto& weak : seen_)
      if (const auto printer = weak.lock(); printer && !PrinterTestRig::settle(printer, 2, spinUntil))
        problems_ << QStringLiteral("a printer queue did not drain");
    tracker_.stop();
    if (!key_.isEmpty()) pm::UpdateReturnWatch::arrived(key_);
    pm::UpdateReturnWatch::setTimeoutMs(90000);
    rig_.reset();
    for (const auto& weak : seen_)
      if (!weak.expired()) problems_ << QStringLiteral("a printer object outlived its rig");
  }

  const Case case_;
  std::unique_ptr<PrinterTestRig> rig_;
  std::shared_ptr<sim::VirtualPrinter> device_;
  QString newFirmware_;
  int tableCount_ = 0;
  bool updateStarted_ = false;
  QString key_;
  std::vector<std::weak_ptr<TBUSBPrinterOLM>> seen_;
  QTimer tracker_;         // every printer object made, also between waits
  MainThreadWatch watch_;  // how long the main thread was held
  QStringList problems_;
};

// Every case of one model, numbered from its clean run. The quick matrix (the default) unplugs at
// every update command up to the first colour table's data and at every tenth one after it (the
// tables repeat the same commands), and breaks replies on the VLA only (every reply goes through
// the same reader; the VLA's attach has every kind of exchange); PM_FAULT_MATRIX=full runs all.
std::vector<Case> casesOf(Model model, const Counts& counts, bool full) {
  std::vector<Case> cases;
  for (int at = 1; at <= counts.attachCommands; ++at) cases.push_back({model, Kind::UnplugAttach, at});
  if (full || model == Model::VLA)
    for (const ReplyFault fault : {ReplyFault::NoReply, ReplyFault::BlankHeader, ReplyFault::GarbageHeader,
                                   ReplyFault::OversizeHeader, ReplyFault::Stall, ReplyFault::SlowReply,
                                   ReplyFault::SplitReply, ReplyFault::LongBody, ReplyFault::GarbageAfter})
      for (int at = 1; at <= counts.attachExchanges; ++at)
        cases.push_back({model, Kind::ReplyAttach, at, fault});
  for (int at = 1; at <= counts.updateCommands; ++at)
    if (full || at <= counts.firstTableEnd || (at - counts.firstTableEnd) % 10 == 0)
      cases.push_back({model, Kind::UnplugUpdate, at});
  cases.push_back({model, Kind::NeverBackBusy});
  return cases;
}

}  // namespace

class FaultMatrixTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    useTemporarySettings(settingsDir_);
    const QByteArray log = QDir::temp().filePath(QStringLiteral("fault_matrix.log")).toLocal8Bit();
    std::printf("fault matrix: log in %s\n", log.constData());
    std::fflush(stdout);
    const int fd = ::open(log.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) ::dup2(fd, STDERR_FILENO), ::close(fd);
    clock_.start();
  }

  void cleanupTestCase() {
    const QByteArray sample = stride_ > 1 ? ", one case in " + QByteArray::number(stride_) : QByteArray();
    std::printf("fault matrix: %d cases, %d passed (%s%s, %.1f s)\n", run_, passed_, full_ ? "full" : "quick",
                sample.constData(), double(clock_.elapsed()) / 1000);
    std::fflush(stdout);
  }

  // One row per model (each row has its own QtTest time-out): its clean run, then its cases.
  void matrix_data() {
    QTest::addColumn<Model>("model");
    for (const Model model : sim::kAllModels) QTest::newRow(qPrintable(sim::modelName(model))) << model;
  }

  void matrix() {
    QFETCH(Model, model);
    const QString only = qEnvironmentVariable("PM_FAULT_MATRIX_ONLY");  // a part of a case's name
    const int offset = static_cast<int>(model) % stride_;
    Counts counts;
    std::vector<Case> cases{{model, Kind::Clean}};
    QStringList failures;
    for (size_t i = 0; i < cases.size(); ++i) {
      const QString name = describe(cases[i]);
      if (i > 0 && !only.isEmpty() && !name.contains(only)) continue;
      if (i > 0 && int(i) % stride_ != offset) continue;
      std::fprintf(stderr, "==== fault matrix case: %s\n", qPrintable(name));
      const QStringList problems = CaseRun(cases[i]).run(&counts);
      ++run_;
      if (problems.isEmpty()) ++passed_;
      else failures << name + QLatin1String(": ") + problems.join(QLatin1String("; "));
      if (i == 0) {
        std::fprintf(
            stderr,
            "==== %d attach commands, %d attach exchanges, %d update commands, %d to the first table\n",
            counts.attachCommands, counts.attachExchanges, counts.updateCommands, counts.firstTableEnd);
        const std::vector<Case> more = casesOf(model, counts, full_);
        cases.insert(cases.end(), more.begin(), more.end());
      }
    }
    for (const QString& failure : failures) std::printf("FAILED %s\n", qPrintable(failure));
    QVERIFY2(failures.isEmpty(),
             qPrintable(QString::number(failures.size()) + QLatin1String(" cases failed")));
  }

 private:
  QTemporaryDir settingsDir_;
  const bool full_ = qEnvironmentVariable("PM_FAULT_MATRIX") == QLatin1String("full");
  // Every stride-th case only (sanitizer builds, where each case is several times slower); the
  // models start at different offsets, so together they still reach every index.
  const int stride_ = std::max(1, qEnvironmentVariableIntValue("PM_FAULT_MATRIX_STRIDE"));
  QElapsedTimer clock_;
  int run_ = 0;
  int passed_ = 0;
};

QTEST_GUILESS_MAIN(FaultMatrixTest)
#include "fault_matrix_unittest.moc"
