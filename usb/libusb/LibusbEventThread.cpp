#include "usb/libusb/LibusbEventThread.h"

#include <pthread.h>

namespace usb::libusb {

LibusbEventThread::LibusbEventThread(std::shared_ptr<LibusbContext> context)
    : context_(std::move(context)), thread_([this] { run(); }) {}

LibusbEventThread::~LibusbEventThread() {
  stopping_.store(true);
  // Wakes the loop at once. While a printer's own transfer holds libusb's event lock the loop
  // waits as an event waiter instead, and the time-out below bounds that wait.
  libusb_interrupt_event_handler(context_->get());
  thread_.join();
}

void LibusbEventThread::run() {
  pthread_setname_np(pthread_self(), "libusb-events");
  while (!stopping_.load()) {
    timeval timeout{0, suseconds_t{250} * 1000};
    libusb_handle_events_timeout_completed(context_->get(), &timeout, nullptr);
  }
}

}  // namespace usb::libusb
