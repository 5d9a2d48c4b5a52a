// TBUSBPrinter: the hold on the USB interface and device: references, the service object and its
// interest registration, open and close, pipes, resets, re-enumeration, letting go.

#include <algorithm>
#include <atomic>
#include <chrono>

#include <QCoreApplication>

#include "support/BlockingCalls.h"
#include "support/MainQueue.h"
#include "support/NameTables.h"
#include "support/SystemLog.h"
#include "usb/TBUSBPrinter.h"
#include "usb/TBUSBPrinterPrivate.h"
#include "usb/UsbPermission.h"

namespace {

const QString kInUseByOtherApplication = QStringLiteral("In use by other application");
// A busy interface is tried again after this pause; an unplugged one is given up at once. Any
// other failure is tried again after a pause that doubles up to the limit: a device that keeps
// failing is not hammered, and one that recovers is found within a few seconds.
constexpr std::chrono::milliseconds kOpenRetryPause{250};
constexpr std::chrono::milliseconds kOpenBackOffLimit{5000};

// The status of a printer whose open failed other than busy or refused: the cause in a word.
QString openFailureText(IOReturn result) {
  return QCoreApplication::translate("TBUSBPrinter", "Cannot open the printer (%1)")
      .arg(QString::fromLatin1(pm::resultText(result)));
}
// A kiosk that leaves the tool running must still print: an interface nobody uses is given back.
std::atomic<int> idleReleaseMs{2000};

}  // namespace

// ---- References ----------------------------------------------------------------------------------

void TBUSBPrinter::noteIdentifiers(usb::UsbInterface* interface) {
  if (interface == nullptr) return;
  uint32_t location = 0;
  uint16_t vendor = 0;
  uint16_t product = 0;
  IOReturn result = interface->locationID(&location);
  if (result == kIOReturnSuccess) d_->locationID = location;
  else pm::systemLogf("GetLocationID() returned %s [%.8x]\n", pm::stringForIOReturn(result), result);
  result = interface->deviceVendor(&vendor);
  if (result == kIOReturnSuccess) d_->idVendor = vendor;
  else pm::systemLogf("GetDeviceVendor() returned %s [%.8x]\n", pm::stringForIOReturn(result), result);
  result = interface->deviceProduct(&product);
  if (result == kIOReturnSuccess) d_->idProduct = product;
  else pm::systemLogf("GetDeviceProduct() returned %s [%.8x]\n", pm::stringForIOReturn(result), result);
}

void TBUSBPrinter::setInterfaceInterface(std::shared_ptr<usb::UsbInterface> interface) {
  performInlineOnCommandQueue([this, interface = std::move(interface)] {
    if (interface == d_->interface()) return;
    noteIdentifiers(interface.get());
    std::shared_ptr<usb::UsbInterface> previous;
    {
      const std::lock_guard guard(d_->lock);
      previous = std::exchange(d_->iInterface, interface);
    }
    previous.reset();
    if (interface) {
      getUSBProductString();
      getUSBSerialNumberString();
      getUSBVendorString();
    }
  });
}

std::shared_ptr<usb::UsbDevice> TBUSBPrinter::deviceInterface() {
  {
    const std::lock_guard guard(d_->lock);
    if (d_->dInterface) return d_->dInterface;
  }
  const std::shared_ptr<usb::UsbInterface> interface = d_->interface();
  if (!interface) return nullptr;
  std::shared_ptr<usb::UsbDevice> device = interface->device();
  if (!device) {
    pm::systemLogf("ERROR: Failed to get device Interface with Error(%s)\n",
                   pm::stringForIOReturn(kIOReturnError));
    return nullptr;
  }
  // Stored through the setter's queue rule: called from outside the queue, the store is queued
  // and this first call answers none.
  setDeviceInterface(std::move(device));
  const std::lock_guard guard(d_->lock);
  return d_->dInterface;
}

void TBUSBPrinter::setDeviceInterface(std::shared_ptr<usb::UsbDevice> device) {
  performInlineOnCommandQueue([this, device = std::move(device)] {
    std::shared_ptr<usb::UsbDevice> previous;
    {
      const std::lock_guard guard(d_->lock);
      if (device == d_->dInterface) return;
      previous = std::exchange(d_->dInterface, device);
    }
  });
}

// ---- The service object --------------------------------------------------------------------------

void TBUSBPrinter::setDeviceObject(const usb::ServiceHandle& service) {
  static const char* const kMethod = "TBUSBPrinter::setDeviceObject";
  pm::systemLogf("%s (%d)", kMethod, static_cast<int>(service.id()));
  performInlineOnCommandQueue([this, service] {
    pm::systemLogf("%s (%d) --- on command queue", kMethod, static_cast<int>(service.id()));
    if (service.isEqualTo(d_->service())) {
      pm::systemLogf("FAILED %s (%d) --- oddly it was somehow already set", kMethod,
                     static_cast<int>(service.id()));
      return;
    }
    // Registrations are made and ended on the main thread, where their messages arrive.
    performSyncOnMainQueue([this] {
      d_->interestNotification.reset();
      d_->busyNotification.reset();
    });
    // The new handle is stored before the first open: a printer unplugged while that open still
    // waits must already be found by its service when the removal arrives.
    {
      const std::lock_guard guard(d_->lock);
      d_->deviceObject = service;
    }
    if (!service) return;

    usb::UsbRegistry* registry = d_->notifyPort;
    performSyncOnMainQueue([this, registry, &service] {
      if (registry == nullptr) return;
      pm::systemLogf("setting new %s class IOService object\n", "IOUSBInterface");
      IOReturn result = kIOReturnSuccess;
      d_->interestNotification = registry->addInterestNotification(
          service,
          [weak = weak_from_this()](const usb::ServiceHandle& s, uint32_t type, void* arg) {
            std::shared_ptr<TBUSBPrinter> printer = weak.lock();
            if (!printer) return;
            usbDeviceInterest(printer.get(), s, type, arg);
            // The last reference must not go inside the registry's own callback.
            pm::SerialQueue::main().async([printer = std::move(printer)] {});
          },
          &result);
      if (!d_->interestNotification) {
        pm::systemLogf("failed to add an interest notification for %s (%s)", descriptionUTF8().constData(),
                       pm::stringForIOReturn(result));
      }
    });

    const IOReturn opened = openInterface();
    closeInterface(nullptr);
    if (opened != kIOReturnExclusiveAccess && opened != kIOReturnNoDevice) {
      d_->state = TBUSBPrinterStateProbed;
    }
  });
}

// ---- Open and close ------------------------------------------------------------------------------

IOReturn TBUSBPrinter::openInterface(BusyOpen busy) {
  Q_ASSERT(isPrinterCommandQueue());
  if (state() == TBUSBPrinterStateOpen) {
    noteInterfaceUse();
    return kIOReturnSuccess;
  }
  if (d_->gone.abandoned()) return kIOReturnError;  // quitting
  usb::UsbRegistry* registry = d_->notifyPort;
  std::chrono::milliseconds pause = kOpenRetryPause;
  for (bool retrying = false;; retrying = true) {
    if (retrying) {
      d_->gone.waitFor(pause);
      // Work queued before the printer was let go still gets its first attempt; only a retry,
      // which would hold the queue (and the release behind it) for ever, ends here.
      if (d_->gone.released() && !d_->gone.terminated()) {
        pm::systemLogf("gave up opening the interface of %s (%s)", descriptionUTF8().constData(),
                       pm::stringForIOReturn(kIOReturnError));
        return kIOReturnError;
      }
    }
    const usb::ServiceHandle service = d_->service();
    const std::shared_ptr<usb::UsbInterface> interface = d_->interface();
    if (!interface) return kIOReturnError;
    IOReturn result = kIOReturnNoDevice;
    const bool present =
        !d_->gone.terminated() && (registry == nullptr || !service || registry->isServiceAlive(service));
    if (present) result = interface->openSeize();
    if (result == kIOReturnSuccess) {
      d_->interfaceStatus = TBUSBInterfaceStatusOpen;
      clearOpenFailure();
      performSyncOnMainQueue([this] { setState(TBUSBPrinterStateOpen); });
      getPipes();
      noteInterfaceUse();
    } else if (result == kIOReturnExclusiveAccess) {
      setOpenFailure(kInUseByOtherApplication);
      if (busy == BusyOpen::Report || d_->userWorkWaiting.load() > 0) {
        pm::systemLogf("%s is in use by another program", descriptionUTF8().constData());
        return result;
      }
      pause = kOpenRetryPause;
    } else if (result == kIOReturnNoDevice) {
      pm::systemLogf("gave up opening the interface of %s (%s)", descriptionUTF8().constData(),
                     pm::stringForIOReturn(result));
      return result;
    } else if (result == kIOReturnNotPrivileged) {
      // Only the system grants the permission; retrying would hold this queue for ever.
      const QString text = pm::noPermissionText();
      setStatus(text);
      setPrinterStatus(text);
      pm::logNoPermission(descriptionUTF8(), vendorID(), productID());
      return result;
    } else {
      pause = retrying ? std::min(pause * 2, kOpenBackOffLimit) : kOpenRetryPause;
      pm::systemLogf("could not open the interface of %s (%s); trying again in %lld ms",
                     descriptionUTF8().constData(), pm::resultText(result).constData(),
                     static_cast<long long>(pause.count()));
      setOpenFailure(openFailureText(result));
    }
    if (state() == TBUSBPrinterStateOpen) return result;
  }
}

void TBUSBPrinter::setOpenFailure(const QString& text) {
  {
    const std::lock_guard guard(d_->lock);
    d_->openFailure = text;
  }
  setStatus(text);
  setPrinterStatus(text);
}

void TBUSBPrinter::clearOpenFailure() {
  QString shown;
  {
    const std::lock_guard guard(d_->lock);
    shown = std::exchange(d_->openFailure, QString());
  }
  if (shown.isNull()) return;
  // Only what the failure put there goes: the USB column falls back to the connection state, and
  // a status the printer reported meanwhile stays.
  if (status() == shown) setStatus(QString());
  if (printerStatus() == shown) setPrinterStatus(QStringLiteral(""));
}

void TBUSBPrinter::queueUserWork(std::function<void()> work) {
  ++d_->userWorkWaiting;
  tbusb::performAsyncOnCommandQueue(this, [this, work = std::move(work)] {
    --d_->userWorkWaiting;
    work();
  });
}

void TBUSBPrinter::openInterface(Completion completion, BusyOpen busy) {
  auto open = [this, busy, completion = std::move(completion)] {
    const IOReturn result = openInterface(busy);
    if (completion) completion(result);
  };
  if (isPrinterCommandQueue()) {
    open();
  } else if (busy == BusyOpen::Report) {
    queueUserWork(std::move(open));
  } else {
    tbusb::performAsyncOnCommandQueue(this, std::move(open));
  }
}

void TBUSBPrinter::closeInterface(Completion completion) {
  tbusb::performAsyncOnCommandQueue(this, [this, completion = std::move(completion)] {
    const IOReturn result = closeOnQueue();
    if (completion) completion(result);
  });
}

IOReturn TBUSBPrinter::closeOnQueue() {
  IOReturn result = kIOReturnSuccess;
  const std::shared_ptr<usb::UsbInterface> interface = d_->interface();
  if (interfaceStatus() == TBUSBInterfaceStatusOpen && interface) {
    result = interface->close();
    if (result != kIOReturnSuccess) {
      pm::systemLogf("close interface returned error %s\n", pm::stringForIOReturn(result));
    } else {
      pm::systemLogf("The %s was closed.\n", descriptionUTF8().constData());
    }
  }
  d_->interfaceStatus = TBUSBInterfaceStatusClosed;
  // The window shows "USB Open" from the state: it must hear that the printer was given back.
  if (d_->state.exchange(TBUSBPrinterStateClosed) != TBUSBPrinterStateClosed) {
    announceChange(QStringLiteral("state"));
  }
  // Nothing in this code base makes isOwned non-zero; the hop (which a close from the idle timer
  // must not make while the main thread waits for this queue at quit) is made only when needed.
  if (d_->isOwned != 0) {
    performSyncOnMainQueue([this] {
      if (d_->isOwned != 0) {
        d_->isOwned = 0;
        announceChange(QStringLiteral("isOwned"));
      }
    });
  }
  return result;
}

// ---- Giving the interface back when idle ------------------------------------------------------------

void TBUSBPrinter::setIdleReleaseDelay(int ms) { idleReleaseMs = std::max(ms, 1); }
int TBUSBPrinter::idleReleaseDelay() { return idleReleaseMs; }

void TBUSBPrinter::noteInterfaceUse() {
  Q_ASSERT(isPrinterCommandQueue());
  d_->lastInterfaceUse = std::chrono::steady_clock::now();
  if (!d_->idleReleaseArmed) armIdleRelease(idleReleaseMs);
}

// One check at a time per printer. The timer holds the printer weakly: a printer that left the
// list is not kept for its idle check.
void TBUSBPrinter::armIdleRelease(int delayMs) {
  d_->idleReleaseArmed = true;
  auto check = [weak = weak_from_this()] {
    const std::shared_ptr<TBUSBPrinter> printer = weak.lock();
    if (!printer) return;
    Private& d = *printer->d_;
    d.idleReleaseArmed = false;
    if (printer->interfaceStatus() != TBUSBInterfaceStatusOpen) return;
    using std::chrono::milliseconds;
    const int delay = idleReleaseMs;
    const auto idle =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - d.lastInterfaceUse);
    if (printer->keepsInterfaceOpen()) {
      printer->armIdleRelease(delay);
    } else if (idle.count() < delay) {
      printer->armIdleRelease(delay - static_cast<int>(idle.count()));
    } else {
      pm::systemLogf("giving back the interface of %s after %lld ms without use",
                     printer->descriptionUTF8().constData(), static_cast<long long>(idle.count()));
      printer->closeOnQueue();
    }
  };
  if (pm::SerialQueue* queue = printerCommandQueue()) {
    queue->asyncAfter(delayMs, std::move(check));
  } else {
    pm::SerialQueue::main().asyncAfter(delayMs, std::move(check));
  }
}

void TBUSBPrinter::setIsOwned(int64_t owned) {
  Q_ASSERT(pm::isMainQueue());
  const int64_t current = d_->isOwned;
  if (owned != 0 && current == 0) {
    openInterface(Completion());
  } else if (owned == 1 && current != 0) {
    closeInterface(nullptr);
    if (current == -1) {
      usbDeviceInterest(this, deviceObject(), kIOMessageServiceIsAttemptingOpen, nullptr);
    }
  } else {
    closeInterface(nullptr);
  }
}

// ---- Pipes ---------------------------------------------------------------------------------------

void TBUSBPrinter::getPipes() {
  performInlineOnCommandQueue([this] {
    const std::shared_ptr<usb::UsbInterface> interface = d_->interface();
    if (!interface) return;
    uint8_t count = 0;
    const IOReturn result = interface->numEndpoints(&count);
    if (result != kIOReturnSuccess) {
      pm::systemLogf("failure for GetNumEndpoints on the open USB device; error=[%d]\n", result);
      return;
    }
    // A later bulk pipe of a direction replaces an earlier one.
    for (unsigned pipe = 1; pipe <= count; ++pipe) {
      usb::PipeProperties properties;
      if (interface->pipeProperties(static_cast<uint8_t>(pipe), &properties) != kIOReturnSuccess ||
          properties.transferType != kUSBBulk) {
        continue;
      }
      if (properties.direction == kUSBIn) d_->bulkIN = static_cast<uint8_t>(pipe);
      else if (properties.direction == kUSBOut) d_->bulkOUT = static_cast<uint8_t>(pipe);
    }
  });
}

uint8_t TBUSBPrinter::bulkIN() const { return d_->bulkIN; }
uint8_t TBUSBPrinter::bulkOUT() const { return d_->bulkOUT; }

// ---- Resets and re-enumeration -------------------------------------------------------------------

IOReturn TBUSBPrinter::resetUSBPrinter(bool otherRecipient) {
  const std::shared_ptr<usb::UsbInterface> interface = d_->interface();
  pm::systemLogf("attempting soft reset of USB device with interface [%p]\n",
                 static_cast<void*>(interface.get()));
  if (!interface) return kIOReturnError;
  uint8_t interfaceNumber = 0;
  const IOReturn result = interface->interfaceNumber(&interfaceNumber);
  if (result != kIOReturnSuccess) return result;
  usb::ControlRequest request;
  request.bmRequestType = otherRecipient ? 0x23 : 0x21;  // class request to other / interface
  request.bRequest = 2;                                  // SOFT_RESET
  request.wValue = 0;
  request.wIndex = interfaceNumber;
  request.wLength = 0;
  request.noDataTimeoutMs = 100;
  request.completionTimeoutMs = 100;
  return interface->controlRequest(0, request);
}

IOReturn TBUSBPrinter::resetUSBDevice() {
  const std::shared_ptr<usb::UsbDevice> device = deviceInterface();
  if (!device) return kIOReturnError;
  const IOReturn opened = device->open();
  if (opened != kIOReturnSuccess) return opened;
  const IOReturn result = device->resetDevice();
  device->close();
  return result;
}

IOReturn TBUSBPrinter::reEnumerateUSBDevice() {
  const std::shared_ptr<usb::UsbDevice> device = deviceInterface();
  if (!device) return kIOReturnError;
  const IOReturn opened = device->open();
  if (opened != kIOReturnSuccess) return opened;
  const IOReturn result = device->reEnumerate(0);
  if (result == kIOReturnSuccess) {
    pm::systemLogf("Successfully reenumerated %s", descriptionUTF8().constData());
  } else {
    pm::systemLogf("Failed to reenumerate %s (%s)", descriptionUTF8().constData(),
                   pm::stringForIOReturn(result));
  }
  device->close();
  return result;
}

void TBUSBPrinter::hotPlug() {
  performInlineOnCommandQueue([this] { reEnumerateUSBDevice(); });
}

// ---- Letting go ----------------------------------------------------------------------------------

void TBUSBPrinter::prepareForQuit() {
  d_->gone.markAbandoned();
  prepareForRelease();
}

void TBUSBPrinter::prepareForRelease() {
  // An open retrying on the queue would hold the block below back for ever; it watches this.
  d_->gone.markReleased();
  tbusb::performAsyncOnCommandQueue(this, [this] {
    setInterfaceInterface(nullptr);
    setDeviceInterface(nullptr);
    if (d_->service()) setDeviceObject(usb::ServiceHandle());
  });
}
