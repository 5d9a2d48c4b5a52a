#pragma once
// The inside of TBUSBPrinter, shared by its implementation files (TBUSBPrinter*.cpp) only.
//
// Threads: the texts below are read from any thread and written on the main thread or the
// command queue, so they sit behind `lock`; the flags are atomic. The parts say their own.

#include <atomic>
#include <memory>
#include <mutex>

#include <QImage>
#include <QString>

#include "usb/BulkInPipe.h"
#include "usb/IdentityReader.h"
#include "usb/InterfaceAccess.h"
#include "usb/TBUSBPrinter.h"

struct TBUSBPrinter::Private {
  explicit Private(TBUSBPrinter& printer) : access(printer), identity(access) {}

  usb::InterfaceAccess access;
  usb::IdentityReader identity;
  usb::BulkInPipe bulkIn;  // [queue]

  mutable std::mutex lock;  // guards the texts and the image
  QString raw1284DeviceID, deviceID, manufacturer, model, vendorUSB, productUSB, serialNumberUSB;
  QString status, statusString;
  QImage image;

  std::atomic<bool> isBusy{false};
  std::atomic<bool> identified{false};

  QString text(const QString Private::*field) const {
    const std::lock_guard guard(lock);
    return this->*field;
  }
  void setText(QString Private::*field, const QString& value) {
    const std::lock_guard guard(lock);
    this->*field = value;
  }
};

namespace tbusb {

// A reference that keeps the printer alive while a block queued for it waits; empty for a
// printer not owned by a shared_ptr.
inline std::shared_ptr<TBUSBPrinter> keepAlive(TBUSBPrinter* printer) {
  return printer->weak_from_this().lock();
}

// Queues `block` on the printer's command queue even when called from it (at once while the
// initialiser has not made the queue yet).
inline void performAsyncOnCommandQueue(TBUSBPrinter* printer, std::function<void()> block) {
  if (pm::SerialQueue* queue = printer->printerCommandQueue()) {
    queue->async([keep = keepAlive(printer), block = std::move(block)] { block(); });
  } else {
    block();
  }
}

// "%@" of a text: "(null)" for none.
inline QByteArray objectText(const QString& text) {
  return text.isNull() ? QByteArrayLiteral("(null)") : text.toUtf8();
}

}  // namespace tbusb
