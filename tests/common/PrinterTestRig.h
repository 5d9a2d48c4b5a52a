#pragma once
// Drives vendor printers in tests without the application: a virtual USB bus (installed as the
// platform registry), virtual printers attached to it, a TBUSBPrinterOLM made and probed for every
// arriving printer interface as discovery does, and a scripted alert presenter and application.
// A printer whose interface goes away is let go as the printer list does (its device information
// is saved by the interest handler of the printer object itself).
//
// Threading: main thread only (construct, use and destroy it on the test's main thread). The
// scripted presenter may be called from any thread; it answers on the main thread.

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/UpdateJournal.h"
#include "sim/VirtualPrinter.h"
#include "support/AlertPresenter.h"
#include "tests/common/Slowdown.h"
#include "usb/virtual/VirtualUsbBus.h"

// Keeps the preferences the tests write out of the user's own.
inline void useTemporarySettings(const QTemporaryDir& dir) {
  QSettings::setDefaultFormat(QSettings::IniFormat);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
  QCoreApplication::setOrganizationName(QStringLiteral("printer-maintenance-tests"));
  QCoreApplication::setApplicationName(QStringLiteral("printer-maintenance-tests"));
}

// The update's own commands a virtual printer received (no status or property reads).
inline std::vector<sim::ReceivedFrame> updateFrames(const sim::VirtualPrinter& device) {
  std::vector<sim::ReceivedFrame> frames;
  for (const sim::ReceivedFrame& frame : device.frames())
    if (frame.category == QLatin1String("FW_UPD") || frame.category == QLatin1String("TBL_CL") ||
        frame.category == QLatin1String("TBL_WT"))
      frames.push_back(frame);
  return frames;
}

// The commands of these frames, in order.
inline QStringList commandsOf(const std::vector<sim::ReceivedFrame>& frames) {
  QStringList names;
  for (const sim::ReceivedFrame& frame : frames) names << frame.command;
  return names;
}

// Records every alert and answers it, asynchronously on the main thread, with the next scripted
// answer (button 1000, not agreed, when the script is empty).
class ScriptedAlertPresenter final : public pm::AlertPresenter {
 public:
  void present(const pm::AlertRequest& request,
               std::function<void(const pm::AlertAnswer&)> completion) override;

  void queueAnswer(int returnCode, bool agreed = false);
  // Leaves the next alerts unanswered while on; turning it off answers the held ones (1000).
  void setHoldAnswers(bool hold);
  std::vector<pm::AlertRequest> requests() const;
  int count() const;
  // The titles shown so far, in order.
  QStringList titles() const;
  void clear();

 private:
  mutable std::mutex lock_;
  std::vector<pm::AlertRequest> requests_;
  std::deque<pm::AlertAnswer> answers_;
  std::vector<std::function<void(const pm::AlertAnswer&)>> held_;
  bool hold_ = false;
};

class ScriptedApplication final : public pm::ApplicationControl {
 public:
  void terminate() override { ++terminations_; }
  int terminations() const { return terminations_.load(); }
  void showStatus(const QString& text) override {
    const std::lock_guard guard(lock_);
    statuses_ << text;
  }
  QStringList statuses() const {
    const std::lock_guard guard(lock_);
    return statuses_;
  }

 private:
  std::atomic<int> terminations_{0};
  mutable std::mutex lock_;
  QStringList statuses_;
};

// How long the main thread was held at worst, while it lives: how late it serves a 5 ms timer,
// less the time it was ready to run but waited for a processor (the machine's load, not the
// application; from /proc/thread-self/schedstat). A main thread waiting on USB shows here. Main
// thread.
class MainThreadWatch {
 public:
  MainThreadWatch() {
    clock_.start();
    lastQueued_ = queuedMs();
    QObject::connect(&ticker_, &QTimer::timeout, [this] {
      const qint64 now = clock_.elapsed();
      const qint64 queued = queuedMs();
      worst_ = std::max(worst_, now - last_ - kTickMs - (queued - lastQueued_));
      last_ = now;
      lastQueued_ = queued;
    });
    ticker_.start(kTickMs);
  }
  qint64 worstLatenessMs() const { return worst_; }
  // The most a main thread that is never held may be late.
  static constexpr qint64 kBoundMs = 50 * kSlowdown;

 private:
  // Time this thread has spent runnable but waiting for a processor, in ms (0 when unknown).
  static qint64 queuedMs() {
    QFile file(QStringLiteral("/proc/thread-self/schedstat"));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = file.readAll().split(' ');
    return fields.size() >= 2 ? fields[1].toLongLong() / 1000000 : 0;
  }

  static constexpr int kTickMs = 5;
  QTimer ticker_;
  QElapsedTimer clock_;
  qint64 last_ = 0;
  qint64 lastQueued_ = 0;
  qint64 worst_ = 0;
};

// What both rigs stand in for around the printers: the scripted presenter and application,
// installed while it lives, the update state file out of the user's own, and no device
// information left from an earlier test.
class ScriptedSession {
 public:
  ScriptedSession();
  ~ScriptedSession();
  ScriptedSession(const ScriptedSession&) = delete;
  ScriptedSession& operator=(const ScriptedSession&) = delete;

  ScriptedAlertPresenter& alerts() { return alerts_; }
  ScriptedApplication& application() { return application_; }

  // Waits (bounded) until each printer is destroyed; answers whether they all went. The last
  // reference may go on a printer's queue, which hands the deletion to the main queue, so "no
  // reference left" is not yet "gone".
  static bool waitUntilDestroyed(const std::vector<QPointer<TBUSBPrinterOLM>>& printers);

 private:
  QTemporaryDir stateDir_;
  ScriptedAlertPresenter alerts_;
  ScriptedApplication application_;
};

class PrinterTestRig : public ScriptedSession {
 public:
  // `timeScale`: real milliseconds per device millisecond (0.01 turns 5000 ms time-outs into
  // 50 ms). Each new printer is probed, as the printer list does.
  explicit PrinterTestRig(double timeScale = 0.01);
  ~PrinterTestRig();

  // Forgets what this process knew (device information, update records in memory, the return
  // watches) as a restarted application would; the update state file stays.
  static void restartApplication();

  // Puts a virtual printer on the bus; its printer object arrives from the event loop.
  std::shared_ptr<sim::VirtualPrinter> attach(sim::VirtualPrinterConfig config);
  // Attaches and waits for the printer object made for it (null when none came in time).
  std::shared_ptr<TBUSBPrinterOLM> attachAndWait(sim::VirtualPrinterConfig config,
                                                 std::shared_ptr<sim::VirtualPrinter>* device = nullptr);

  // The printer objects of the interfaces present now, in arrival order.
  std::vector<std::shared_ptr<TBUSBPrinterOLM>> printers() const;
  // The current printer object of a virtual printer (same location), or null.
  std::shared_ptr<TBUSBPrinterOLM> printerFor(const sim::VirtualPrinter& device) const;

  // Runs the event loop until `condition` holds or `timeoutMs` passes; answers whether it holds.
  static bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000);
  // Lets a printer's pending work finish: a marker passes its queue and then the main queue,
  // `rounds` times (work that hops between the two needs one round per hop), each awaited
  // through `wait` (a waitFor of the caller's own, such as one that does not sleep).
  using Wait = std::function<bool(const std::function<bool()>&, int)>;
  static bool settle(const std::shared_ptr<TBUSBPrinter>& printer, int rounds = 4,
                     const Wait& wait = waitFor);

 private:
  void serviceMatched(const usb::ServiceHandle& service);
  void serviceTerminated(const usb::ServiceHandle& service);

  usb::virt::VirtualUsbBus bus_;
  struct Entry {
    std::shared_ptr<TBUSBPrinterOLM> printer;
    usb::ServiceHandle service;  // the arrival service (the printer sets its own on its queue)
  };
  std::vector<Entry> printers_;
};
