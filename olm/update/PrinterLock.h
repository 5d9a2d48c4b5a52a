#pragma once
// PrinterLock: one owner per printer across processes and users. Before a process sends a command
// that changes a printer (the firmware update with its table writes, a counter reset, the USB
// serial-number switch), it takes that printer's lock and keeps it to the operation's verified
// end, across the printer's restarts; a process that finds the lock held leaves the printer alone.
//
// A lock is an open-file-description lock (fcntl F_OFD_SETLK) on a small file per printer, named
// after its serial number (or its device key where it has none), in a directory every user of the
// tool can write: /run/lock/printer-maintenance (sticky, like /run/lock itself), else
// $XDG_RUNTIME_DIR/printer-maintenance-locks, else the state folder's locks/. Demo mode keeps its
// own under the demo state folder; $PRINTER_MAINTENANCE_LOCK_DIR overrides all (tests). The kernel
// releases the lock when its process dies, however it dies, so a crash never leaves a printer
// locked. The file holds the holder's process id and command line for the others to report; it is
// only read by a process that found the lock held, so a stale text is never shown.
//
// Locks of this process are counted per key: nested takers (an update that restarts the printer
// and takes it up again on its return) share one lock, released with the last of them.
//
// Threads: every member is [any]; one mutex guards the process's locks.

#include <optional>

#include <QString>

namespace pm {

// Who holds a printer's lock in another process.
struct LockHolder {
  qint64 pid = 0;   // 0 when the holder wrote none (yet)
  QString command;  // its command line, blank-separated; may be empty
  // "process 1234 (printer-maintenance-cli update --all)", for the user's texts.
  QString describe() const;
};

class PrinterLock {
 public:
  PrinterLock() = delete;

  // The lock's key for a printer: its serial number, else its device key.
  static QString keyFor(const QString& serialNumber, const QString& deviceKey);

  // Takes (or counts once more) this process's lock on `key`. Answers nullopt when taken; the
  // holder when another process has it; a holder with pid 0 and `command` set to the reason when
  // the lock could not be made (no lock directory): the caller then refuses to change the printer.
  static std::optional<LockHolder> take(const QString& key);
  // Counts one taker less; the lock goes with the last. A key not taken is ignored.
  static void release(const QString& key);
  // Whether this process holds the lock on `key`.
  static bool heldHere(const QString& key);
  // The holder when another process holds the lock on `key`; nullopt when it is free or ours.
  // Never takes the lock, so a reader never stands in a writer's way.
  static std::optional<LockHolder> heldElsewhere(const QString& key);

  // The directory of the lock files in force (made when needed); empty when none can be had.
  static QString directory();
};

}  // namespace pm
