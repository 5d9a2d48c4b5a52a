#pragma once
// A bulk-in (or interrupt-in) pipe with a read always pending: from the open of the interface to
// its close one transfer of one packet waits on the pipe, and each that completes is submitted
// again. So the bytes a device sends between two reads arrive at once and wait here, counted:
// the next read takes them first, and UsbInterface::readArrived takes them without a transfer and
// without waiting. A read that times out leaves the transfer pending, so a reply that comes just
// after its reader gave up is not lost in the host controller but kept like any other.
//
// One packet per transfer: a transfer ends at every packet, so no reply of a whole number of
// packets waits for a packet that never comes.
//
// Threads: read, takeArrived and the destructor on the interface's one thread at a time; the
// completion runs on whichever thread handles libusb's events (the event thread, or a reader
// waiting here, which handles them itself). One mutex guards the bytes and the state.

#include <cstdint>
#include <mutex>
#include <vector>

#include <libusb.h>

#include "support/IOReturn.h"

namespace usb::libusb {

class BulkInStream {
 public:
  // Starts the pending read. `interrupt` for an interrupt pipe.
  BulkInStream(libusb_context* context, libusb_device_handle* handle, uint8_t address, uint16_t packetSize,
               bool interrupt);
  // Cancels the pending read and waits (briefly) for it to end.
  ~BulkInStream();
  BulkInStream(const BulkInStream&) = delete;
  BulkInStream& operator=(const BulkInStream&) = delete;

  // Up to `size` bytes into `out` once any have arrived, waiting at most `timeoutMs` (0: no
  // limit). A stall or an error the pipe met is answered once, in order with the bytes.
  IOReturn read(unsigned char* out, uint32_t size, uint32_t* done, unsigned timeoutMs);
  // What has arrived, without waiting.
  IOReturn takeArrived(unsigned char* out, uint32_t size, uint32_t* done);

 private:
  static void LIBUSB_CALL completed(libusb_transfer* transfer);
  void onCompleted();   // [events] takes the lock
  void submitLocked();  // lock held
  // Hands out what arrived, or the failure met; lock held. False when nothing is there.
  bool takeLocked(unsigned char* out, uint32_t size, uint32_t* done, IOReturn* result);
  // Handles libusb's events for up to `timeoutUs` unless something arrived meanwhile.
  void handleEvents(long timeoutUs);

  libusb_context* const context_;
  libusb_device_handle* const handle_;
  const uint8_t address_;
  libusb_transfer* transfer_ = nullptr;
  std::vector<unsigned char> packet_;

  std::mutex mutex_;
  std::vector<unsigned char> arrived_;  // bytes not yet read, from `taken_` on
  size_t taken_ = 0;
  int failure_ = LIBUSB_TRANSFER_COMPLETED;  // a transfer status met and not yet answered
  bool pending_ = false;                     // the transfer is with libusb
  bool stopping_ = false;
  int wake_ = 0;  // libusb's "completed" flag for a reader handling events itself
};

}  // namespace usb::libusb
