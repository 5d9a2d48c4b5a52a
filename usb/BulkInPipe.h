#pragma once
// usb::BulkInPipe: a printer's bulk-in pipe between one exchange and the next. A reply must
// answer the command just written, never an earlier one, and an ordinary exchange after an
// ordinary exchange must pay nothing for that:
//  - What arrived outside an exchange (a reply that came after its reader gave up, the rest of
//    one not read whole, bytes sent unasked) is dropped before the next command, at once: the
//    backends keep such bytes (UsbInterface::readArrived), so no read has to wait for them.
//  - After a read timed out the pipe is suspect: the late reply may still be on its way. Before
//    the next command it waits until that reply has arrived whole or the pipe has been quiet for
//    kQuietBound (never longer than the reply time-out), and drops what came.
// What a whole reply is, the vendor layer says (a predicate over the bytes gathered).
//
// Threads: every member on the printer's command queue [queue], with the interface open.

#include <chrono>
#include <cstdint>
#include <functional>

#include <QByteArray>

#include "support/IOReturn.h"

namespace usb {

class UsbInterface;

class BulkInPipe {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kQuietBound{250};
  // A device that never stops sending must not hold its queue for ever.
  static constexpr uint32_t kDropLimit = 1u << 20;
  // Whether the bytes gathered hold a whole reply (and so the late one has come).
  using WholeReply = std::function<bool(const QByteArray& gathered)>;

  struct Dropped {
    uint32_t bytes = 0;
    QByteArray head;                      // the first bytes, for the log
    IOReturn failure = kIOReturnSuccess;  // kIOReturnNoDevice once the device has gone
  };

  // Before a command: the quarantine when suspect, then what arrived.
  Dropped settle(UsbInterface& interface, uint8_t pipe, uint32_t replyTimeoutMs, const WholeReply& whole);
  // Drops what arrived, without waiting.
  Dropped dropArrived(UsbInterface& interface, uint8_t pipe);
  // Reads until `wanted` bytes came, `deadline` passed (kIOReturnTimeout, the bytes that came
  // counted in *received) or, with `untilReturn`, a carriage return came. A time-out makes the
  // pipe suspect.
  IOReturn readUntil(UsbInterface& interface, uint8_t pipe, char* buffer, uint32_t wanted, uint32_t* received,
                     Clock::time_point deadline, bool untilReturn = false);
  void markSuspect() { suspect_ = true; }
  bool suspect() const { return suspect_; }

 private:
  bool suspect_ = false;
};

}  // namespace usb
