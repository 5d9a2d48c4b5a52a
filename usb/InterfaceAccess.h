#pragma once
// usb::InterfaceAccess: how a printer holds and lets go of its USB interface. It keeps the
// interface and device objects, the service object with its interest registration, opens (with
// the busy, refused and failing interface's rules and texts) and closes, gives an unused
// interface back, finds the bulk pipes, resets and re-enumerates, and knows when the printer has
// gone. One per TBUSBPrinter, which owns it; it borrows that printer for its command queue, its
// status texts, its connection-state announcements and its description in log lines.
//
// Threads and queues (checked with Q_ASSERT in debug builds):
//  - [main]  the main thread: the registry and the interest registrations.
//  - [queue] the printer's command queue: opens, pipes, the idle-release bookkeeping.
//  - [any]   any thread.
// The references, the service and the open-failure text sit behind one mutex; the numeric state
// is atomic.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include <QString>

#include "support/IOReturn.h"
#include "usb/UsbPlatform.h"

class TBUSBPrinter;

namespace usb {

// How far the printer has gone: its service terminated (unplugged, re-enumerated) or the printer
// let go (prepareForRelease). Any thread; a command queue retrying an open sleeps on it, so
// that it wakes as soon as either happens.
class GoneFlag {
 public:
  void markTerminated() { mark(terminated_); }
  void markReleased() { mark(released_); }
  // Quitting: like released, and what is still queued talks to the device no more.
  void markAbandoned();
  bool abandoned() const;
  bool terminated() const;
  bool released() const;
  // Sleeps up to `pause`, or until the printer terminates or is let go.
  void waitFor(std::chrono::milliseconds pause) const;

 private:
  void mark(bool& flag);

  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  bool terminated_ = false;
  bool released_ = false;
  bool abandoned_ = false;
};

class InterfaceAccess {
 public:
  using Completion = std::function<void(IOReturn result)>;
  // With Report (the user's actions: they must answer at once) a busy interface ends the open
  // with kIOReturnExclusiveAccess after one attempt.
  enum class BusyOpen { Retry, Report };
  // Once no work has used the open interface for this long, it is closed and so given back to
  // the system (its printer driver can print again).
  static constexpr int kDefaultIdleReleaseMs = 2000;

  explicit InterfaceAccess(TBUSBPrinter& printer);
  ~InterfaceAccess();  // [main] ends the interest registrations
  InterfaceAccess(const InterfaceAccess&) = delete;
  InterfaceAccess& operator=(const InterfaceAccess&) = delete;

  // The registry the interface came from (borrowed; it must outlive the printer's queued work),
  // where the printer registers for its service's interest messages. Before the first work. [main]
  void setRegistry(UsbRegistry* registry) { registry_ = registry; }
  // True on the printer's command queue (and before it is made). [any]
  bool isOnCommandQueue() const;

  // ---- Connection state (`state`, values of TBUSBPrinterState) -----------------------------------
  int64_t state() const { return state_; }                      // [any]
  void storeState(int64_t state) { state_ = state; }            // [any]; the printer announces it
  int8_t isOwned() const;                                       // [any]
  void setIsOwned(int64_t owned);                               // [main]
  int32_t interfaceStatus() const { return interfaceStatus_; }  // [any]
  bool isInterfaceOpen() const;                                 // [any]

  // ---- References ------------------------------------------------------------------------------
  std::shared_ptr<UsbInterface> interface() const;  // [any]
  // Stores the interface; answers whether it changed. [queue]
  bool replaceInterface(std::shared_ptr<UsbInterface> interface);
  std::shared_ptr<UsbDevice> deviceInterface();                // [queue] made on first use
  void setDeviceInterface(std::shared_ptr<UsbDevice> device);  // queued
  ServiceHandle deviceObject() const;                          // [any]
  // Registers for the service's interest messages and runs the first open-close cycle, which
  // marks the printer probed unless the interface was busy or gone. Queued.
  void setDeviceObject(const ServiceHandle& service);

  // ---- Open and close ------------------------------------------------------------------------------
  // Opens the interface; returns once it is open, with kIOReturnError once the interface
  // reference has been dropped, or kIOReturnNoDevice once the device has gone; at once with
  // kIOReturnNotPrivileged when the process may not open the device (status texts say so, the
  // log names the udev rule: usb/UsbPermission.h). While another program holds the interface it
  // retries every 250 ms; other failures are logged with their cause and retried after a pause
  // growing from 250 ms to 5 s. The status shows the current cause until an open succeeds. While
  // an open with BusyOpen::Report (or other user work, see queueUserWork) waits in the queue,
  // every busy open in front of it gives up after its attempt, so that none holds the queue in
  // front of the user's action. [queue]
  IOReturn openInterface(BusyOpen busy);
  // Inline on the command queue, else queued; the completion runs on the queue. [any]
  void openInterface(Completion completion, BusyOpen busy);
  // Queues work the user is waiting for: busy opens in front of it give up instead of retrying.
  // [any]
  void queueUserWork(std::function<void()> work);
  // Always queued, also from the queue itself. [any]
  void closeInterface(Completion completion);
  void getPipes();                            // queued
  uint8_t bulkIN() const { return bulkIN_; }  // [queue]
  uint8_t bulkOUT() const { return bulkOUT_; }

  // ---- Resets and re-enumeration (caller's thread) ---------------------------------------------------
  IOReturn resetUSBPrinter(bool otherRecipient);  // the printer class's SOFT_RESET
  IOReturn resetUSBDevice();
  IOReturn reEnumerateUSBDevice();
  void hotPlug();  // queues reEnumerateUSBDevice

  // ---- Giving the interface back ---------------------------------------------------------------------
  // The idle release delay of this printer (kDefaultIdleReleaseMs unless its owner shortens it);
  // a change applies to the release already counting. The interface stays open while the
  // printer's keepsInterfaceOpen() says so. [any]
  void setIdleReleaseDelay(int ms);
  int idleReleaseDelay() const { return idleReleaseMs_; }
  // The open interface was just used: the idle release starts counting again. [queue]
  void noteInterfaceUse();
  void prepareForRelease();  // [any] queued: drops every reference
  // At quit: lets go like prepareForRelease, and the work still queued makes no more transfers
  // (each would wait its whole time-out on a printer that answers nothing). [any]
  void prepareForQuit();
  // Marks the printer as gone (its service was terminated): an open retrying on the command
  // queue, which prepareForRelease() cannot reach, ends with kIOReturnNoDevice. [any]
  void noteServiceTerminated() { gone_.markTerminated(); }
  bool hasGone() const { return gone_.terminated(); }  // [any]
  // Quitting: nothing more is asked of the device. [any]
  bool abandoned() const { return gone_.abandoned(); }

 private:
  // A failed open's text in `status` and the printer status, taken back by a successful open. [queue]
  void setOpenFailure(const QString& text);
  void clearOpenFailure();
  IOReturn closeOnQueue();  // [queue]
  // Arms the one idle check of this printer; an earlier one still waiting is void. [queue]
  void armIdleRelease(int delayMs);

  TBUSBPrinter& printer_;
  UsbRegistry* registry_ = nullptr;

  mutable std::mutex lock_;  // guards the members up to `openFailure_`
  std::shared_ptr<UsbInterface> interface_;
  std::shared_ptr<UsbDevice> device_;
  ServiceHandle service_;
  QString openFailure_;  // what a failed open shows in `status`, until an open succeeds

  std::atomic<int64_t> state_{0};
  std::atomic<int64_t> isOwned_{0};
  std::atomic<int32_t> interfaceStatus_{0};
  // The user's actions queued and not yet started: while any waits, an open retrying on a busy
  // interface gives up, so that the user's action behind it answers at once.
  std::atomic<int> userWorkWaiting_{0};
  std::atomic<int> idleReleaseMs_{kDefaultIdleReleaseMs};

  // [main]
  std::unique_ptr<InterestRegistration> interestNotification_;
  std::unique_ptr<InterestRegistration> busyNotification_;  // never registered
  // [queue]
  uint8_t bulkIN_ = 0;
  uint8_t bulkOUT_ = 0;
  std::chrono::steady_clock::time_point lastInterfaceUse_;
  bool idleReleaseArmed_ = false;
  uint64_t idleReleaseGeneration_ = 0;

  GoneFlag gone_;
};

}  // namespace usb
