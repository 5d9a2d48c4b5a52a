// usb::InterfaceAccess: references, the service object and its interest registration, open and
// close, the idle release, pipes, resets, re-enumeration, letting go.

#include "usb/InterfaceAccess.h"

#include <algorithm>

#include <QCoreApplication>

#include "support/BlockingCalls.h"
#include "support/MainQueue.h"
#include "support/NameTables.h"
#include "support/SystemLog.h"
#include "usb/TBUSBPrinter.h"
#include "usb/TBUSBPrinterPrivate.h"
#include "usb/UsbPermission.h"

namespace usb {

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

}  // namespace

// ---- The gone flag ---------------------------------------------------------------------------------

void GoneFlag::markAbandoned() {
  {
    const std::lock_guard guard(lock_);
    abandoned_ = true;
  }
  markReleased();
}

bool GoneFlag::abandoned() const {
  const std::lock_guard guard(lock_);
  return abandoned_;
}

bool GoneFlag::terminated() const {
  const std::lock_guard guard(lock_);
  return terminated_;
}

bool GoneFlag::released() const {
  const std::lock_guard guard(lock_);
  return released_;
}

void GoneFlag::waitFor(std::chrono::milliseconds pause) const {
  std::unique_lock guard(lock_);
  changed_.wait_for(guard, pause, [this] { return terminated_ || released_; });
}

void GoneFlag::mark(bool& flag) {
  {
    const std::lock_guard guard(lock_);
    flag = true;
  }
  changed_.notify_all();
}

// ---- Connection state ------------------------------------------------------------------------------

InterfaceAccess::InterfaceAccess(TBUSBPrinter& printer) : printer_(printer) {}

InterfaceAccess::~InterfaceAccess() {
  // Registrations belong to the main thread, where the printer dies.
  interestNotification_.reset();
  busyNotification_.reset();
}

bool InterfaceAccess::isOnCommandQueue() const { return printer_.isPrinterCommandQueue(); }

int8_t InterfaceAccess::isOwned() const { return static_cast<int8_t>(isOwned_.load()); }

bool InterfaceAccess::isInterfaceOpen() const {
  return state() == TBUSBPrinterStateOpen && interfaceStatus() == TBUSBInterfaceStatusOpen;
}

void InterfaceAccess::setIsOwned(int64_t owned) {
  Q_ASSERT(pm::isMainQueue());
  const int64_t current = isOwned_;
  if (owned != 0 && current == 0) {
    openInterface(Completion(), BusyOpen::Retry);
  } else if (owned == 1 && current != 0) {
    closeInterface(nullptr);
    if (current == -1) {
      usbDeviceInterest(&printer_, deviceObject(), kIOMessageServiceIsAttemptingOpen, nullptr);
    }
  } else {
    closeInterface(nullptr);
  }
}

// ---- References ----------------------------------------------------------------------------------

std::shared_ptr<UsbInterface> InterfaceAccess::interface() const {
  const std::lock_guard guard(lock_);
  return interface_;
}

bool InterfaceAccess::replaceInterface(std::shared_ptr<UsbInterface> interface) {
  Q_ASSERT(printer_.isPrinterCommandQueue());
  std::shared_ptr<UsbInterface> previous;
  {
    const std::lock_guard guard(lock_);
    if (interface == interface_) return false;
    previous = std::exchange(interface_, std::move(interface));
  }
  return true;  // the previous reference goes outside the lock
}

std::shared_ptr<UsbDevice> InterfaceAccess::deviceInterface() {
  {
    const std::lock_guard guard(lock_);
    if (device_) return device_;
  }
  const std::shared_ptr<UsbInterface> iface = interface();
  if (!iface) return nullptr;
  std::shared_ptr<UsbDevice> device = iface->device();
  if (!device) {
    pm::systemLogf("ERROR: Failed to get device Interface with Error(%s)\n",
                   pm::stringForIOReturn(kIOReturnError));
    return nullptr;
  }
  // Stored through the setter's queue rule: called from outside the queue, the store is queued
  // and this first call answers none.
  setDeviceInterface(std::move(device));
  const std::lock_guard guard(lock_);
  return device_;
}

void InterfaceAccess::setDeviceInterface(std::shared_ptr<UsbDevice> device) {
  printer_.performInlineOnCommandQueue([this, device = std::move(device)] {
    std::shared_ptr<UsbDevice> previous;
    const std::lock_guard guard(lock_);
    if (device != device_) previous = std::exchange(device_, device);
  });
}

ServiceHandle InterfaceAccess::deviceObject() const {
  const std::lock_guard guard(lock_);
  return service_;
}

void InterfaceAccess::setDeviceObject(const ServiceHandle& service) {
  static const char* const kMethod = "TBUSBPrinter::setDeviceObject";
  pm::systemLogf("%s (%d)", kMethod, static_cast<int>(service.id()));
  printer_.performInlineOnCommandQueue([this, service] {
    pm::systemLogf("%s (%d) --- on command queue", kMethod, static_cast<int>(service.id()));
    if (service.isEqualTo(deviceObject())) {
      pm::systemLogf("FAILED %s (%d) --- oddly it was somehow already set", kMethod,
                     static_cast<int>(service.id()));
      return;
    }
    // Registrations are made and ended on the main thread, where their messages arrive.
    pm::performSyncOnMainQueue([this] {
      interestNotification_.reset();
      busyNotification_.reset();
    });
    // The new handle is stored before the first open: a printer unplugged while that open still
    // waits must already be found by its service when the removal arrives.
    {
      const std::lock_guard guard(lock_);
      service_ = service;
    }
    if (!service) return;

    pm::performSyncOnMainQueue([this, &service] {
      if (registry_ == nullptr) return;
      pm::systemLogf("setting new %s class IOService object\n", "IOUSBInterface");
      IOReturn result = kIOReturnSuccess;
      interestNotification_ = registry_->addInterestNotification(
          service,
          [weak = printer_.weak_from_this()](const ServiceHandle& s, uint32_t type, void* arg) {
            std::shared_ptr<TBUSBPrinter> printer = weak.lock();
            if (!printer) return;
            usbDeviceInterest(printer.get(), s, type, arg);
            // The last reference must not go inside the registry's own callback.
            pm::SerialQueue::main().async([printer = std::move(printer)] {});
          },
          &result);
      if (!interestNotification_) {
        pm::systemLogf("failed to add an interest notification for %s (%s)",
                       printer_.descriptionUTF8().constData(), pm::stringForIOReturn(result));
      }
    });

    const IOReturn opened = openInterface(BusyOpen::Retry);
    closeInterface(nullptr);
    if (opened != kIOReturnExclusiveAccess && opened != kIOReturnNoDevice) {
      state_ = TBUSBPrinterStateProbed;
    }
  });
}

// ---- Open and close ------------------------------------------------------------------------------

IOReturn InterfaceAccess::openInterface(BusyOpen busy) {
  Q_ASSERT(printer_.isPrinterCommandQueue());
  if (state() == TBUSBPrinterStateOpen) {
    noteInterfaceUse();
    return kIOReturnSuccess;
  }
  if (gone_.abandoned()) return kIOReturnError;  // quitting
  std::chrono::milliseconds pause = kOpenRetryPause;
  for (bool retrying = false;; retrying = true) {
    if (retrying) {
      gone_.waitFor(pause);
      // Work queued before the printer was let go still gets its first attempt; only a retry,
      // which would hold the queue (and the release behind it) for ever, ends here.
      if (gone_.released() && !gone_.terminated()) {
        pm::systemLogf("gave up opening the interface of %s (%s)", printer_.descriptionUTF8().constData(),
                       pm::stringForIOReturn(kIOReturnError));
        return kIOReturnError;
      }
    }
    const ServiceHandle service = deviceObject();
    const std::shared_ptr<UsbInterface> iface = interface();
    if (!iface) return kIOReturnError;
    IOReturn result = kIOReturnNoDevice;
    const bool present =
        !gone_.terminated() && (registry_ == nullptr || !service || registry_->isServiceAlive(service));
    if (present) result = iface->openSeize();
    if (result == kIOReturnSuccess) {
      interfaceStatus_ = TBUSBInterfaceStatusOpen;
      clearOpenFailure();
      pm::performSyncOnMainQueue([this] { printer_.setState(TBUSBPrinterStateOpen); });
      getPipes();
      noteInterfaceUse();
    } else if (result == kIOReturnExclusiveAccess) {
      setOpenFailure(kInUseByOtherApplication);
      if (busy == BusyOpen::Report || userWorkWaiting_.load() > 0) {
        pm::systemLogf("%s is in use by another program", printer_.descriptionUTF8().constData());
        return result;
      }
      pause = kOpenRetryPause;
    } else if (result == kIOReturnNoDevice) {
      pm::systemLogf("gave up opening the interface of %s (%s)", printer_.descriptionUTF8().constData(),
                     pm::stringForIOReturn(result));
      return result;
    } else if (result == kIOReturnNotPrivileged) {
      // Only the system grants the permission; retrying would hold this queue for ever.
      const QString text = pm::noPermissionText();
      printer_.setStatus(text);
      printer_.setPrinterStatus(text);
      pm::logNoPermission(printer_.descriptionUTF8(), printer_.vendorID(), printer_.productID());
      return result;
    } else {
      pause = retrying ? std::min(pause * 2, kOpenBackOffLimit) : kOpenRetryPause;
      pm::systemLogf("could not open the interface of %s (%s); trying again in %lld ms",
                     printer_.descriptionUTF8().constData(), pm::resultText(result).constData(),
                     static_cast<long long>(pause.count()));
      setOpenFailure(openFailureText(result));
    }
    if (state() == TBUSBPrinterStateOpen) return result;
  }
}

void InterfaceAccess::setOpenFailure(const QString& text) {
  {
    const std::lock_guard guard(lock_);
    openFailure_ = text;
  }
  printer_.setStatus(text);
  printer_.setPrinterStatus(text);
}

void InterfaceAccess::clearOpenFailure() {
  QString shown;
  {
    const std::lock_guard guard(lock_);
    shown = std::exchange(openFailure_, QString());
  }
  if (shown.isNull()) return;
  // Only what the failure put there goes: the USB column falls back to the connection state, and
  // a status the printer reported meanwhile stays.
  if (printer_.status() == shown) printer_.setStatus(QString());
  if (printer_.printerStatus() == shown) printer_.setPrinterStatus(QStringLiteral(""));
}

void InterfaceAccess::queueUserWork(std::function<void()> work) {
  ++userWorkWaiting_;
  tbusb::performAsyncOnCommandQueue(&printer_, [this, work = std::move(work)] {
    --userWorkWaiting_;
    work();
  });
}

void InterfaceAccess::openInterface(Completion completion, BusyOpen busy) {
  auto open = [this, busy, completion = std::move(completion)] {
    const IOReturn result = openInterface(busy);
    if (completion) completion(result);
  };
  if (printer_.isPrinterCommandQueue()) {
    open();
  } else if (busy == BusyOpen::Report) {
    queueUserWork(std::move(open));
  } else {
    tbusb::performAsyncOnCommandQueue(&printer_, std::move(open));
  }
}

void InterfaceAccess::closeInterface(Completion completion) {
  tbusb::performAsyncOnCommandQueue(&printer_, [this, completion = std::move(completion)] {
    const IOReturn result = closeOnQueue();
    if (completion) completion(result);
  });
}

IOReturn InterfaceAccess::closeOnQueue() {
  IOReturn result = kIOReturnSuccess;
  const std::shared_ptr<UsbInterface> iface = interface();
  if (interfaceStatus() == TBUSBInterfaceStatusOpen && iface) {
    result = iface->close();
    if (result != kIOReturnSuccess) {
      pm::systemLogf("close interface returned error %s\n", pm::stringForIOReturn(result));
    } else {
      pm::systemLogf("The %s was closed.\n", printer_.descriptionUTF8().constData());
    }
  }
  interfaceStatus_ = TBUSBInterfaceStatusClosed;
  // The window shows "USB Open" from the state: it must hear that the printer was given back.
  if (state_.exchange(TBUSBPrinterStateClosed) != TBUSBPrinterStateClosed) {
    printer_.announceChange(QStringLiteral("state"));
  }
  // Nothing in this code base makes isOwned non-zero; the hop (which a close from the idle timer
  // must not make while the main thread waits for this queue at quit) is made only when needed.
  if (isOwned_ != 0) {
    pm::performSyncOnMainQueue([this] {
      if (isOwned_ != 0) {
        isOwned_ = 0;
        printer_.announceChange(QStringLiteral("isOwned"));
      }
    });
  }
  return result;
}

// ---- Giving the interface back when idle ------------------------------------------------------------

void InterfaceAccess::setIdleReleaseDelay(int ms) {
  idleReleaseMs_ = std::max(ms, 1);
  // A check already counting with the old delay is replaced, so the new one holds at once.
  tbusb::performAsyncOnCommandQueue(&printer_, [this] {
    if (idleReleaseArmed_) armIdleRelease(idleReleaseMs_);
  });
}

void InterfaceAccess::noteInterfaceUse() {
  Q_ASSERT(printer_.isPrinterCommandQueue());
  lastInterfaceUse_ = std::chrono::steady_clock::now();
  if (!idleReleaseArmed_) armIdleRelease(idleReleaseMs_);
}

// One check at a time per printer. The timer holds the printer weakly: a printer that left the
// list is not kept for its idle check.
void InterfaceAccess::armIdleRelease(int delayMs) {
  idleReleaseArmed_ = true;
  const uint64_t generation = ++idleReleaseGeneration_;
  auto check = [this, generation, weak = printer_.weak_from_this()] {
    const std::shared_ptr<TBUSBPrinter> printer = weak.lock();
    if (!printer || generation != idleReleaseGeneration_) return;
    idleReleaseArmed_ = false;
    if (interfaceStatus() != TBUSBInterfaceStatusOpen) return;
    using std::chrono::milliseconds;
    const int delay = idleReleaseMs_;
    const auto idle =
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - lastInterfaceUse_);
    if (printer->keepsInterfaceOpen()) {
      armIdleRelease(delay);
    } else if (idle.count() < delay) {
      armIdleRelease(delay - static_cast<int>(idle.count()));
    } else {
      pm::systemLogf("giving back the interface of %s after %lld ms without use",
                     printer->descriptionUTF8().constData(), static_cast<long long>(idle.count()));
      closeOnQueue();
    }
  };
  if (pm::SerialQueue* queue = printer_.printerCommandQueue()) {
    queue->asyncAfter(delayMs, std::move(check));
  } else {
    pm::SerialQueue::main().asyncAfter(delayMs, std::move(check));
  }
}

// ---- Pipes ---------------------------------------------------------------------------------------

void InterfaceAccess::getPipes() {
  printer_.performInlineOnCommandQueue([this] {
    const std::shared_ptr<UsbInterface> iface = interface();
    if (!iface) return;
    uint8_t count = 0;
    const IOReturn result = iface->numEndpoints(&count);
    if (result != kIOReturnSuccess) {
      pm::systemLogf("failure for GetNumEndpoints on the open USB device; error=[%d]\n", result);
      return;
    }
    // A later bulk pipe of a direction replaces an earlier one.
    for (unsigned pipe = 1; pipe <= count; ++pipe) {
      PipeProperties properties;
      if (iface->pipeProperties(static_cast<uint8_t>(pipe), &properties) != kIOReturnSuccess ||
          properties.transferType != kUSBBulk) {
        continue;
      }
      if (properties.direction == kUSBIn) bulkIN_ = static_cast<uint8_t>(pipe);
      else if (properties.direction == kUSBOut) bulkOUT_ = static_cast<uint8_t>(pipe);
    }
  });
}

// ---- Resets and re-enumeration -------------------------------------------------------------------

IOReturn InterfaceAccess::resetUSBPrinter(bool otherRecipient) {
  const std::shared_ptr<UsbInterface> iface = interface();
  pm::systemLogf("attempting soft reset of USB device with interface [%p]\n",
                 static_cast<void*>(iface.get()));
  if (!iface) return kIOReturnError;
  uint8_t interfaceNumber = 0;
  const IOReturn result = iface->interfaceNumber(&interfaceNumber);
  if (result != kIOReturnSuccess) return result;
  ControlRequest request;
  request.bmRequestType = otherRecipient ? 0x23 : 0x21;  // class request to other / interface
  request.bRequest = 2;                                  // SOFT_RESET
  request.wValue = 0;
  request.wIndex = interfaceNumber;
  request.wLength = 0;
  request.noDataTimeoutMs = 100;
  request.completionTimeoutMs = 100;
  return iface->controlRequest(0, request);
}

IOReturn InterfaceAccess::resetUSBDevice() {
  const std::shared_ptr<UsbDevice> device = deviceInterface();
  if (!device) return kIOReturnError;
  const IOReturn opened = device->open();
  if (opened != kIOReturnSuccess) return opened;
  const IOReturn result = device->resetDevice();
  device->close();
  return result;
}

IOReturn InterfaceAccess::reEnumerateUSBDevice() {
  const std::shared_ptr<UsbDevice> device = deviceInterface();
  if (!device) return kIOReturnError;
  const IOReturn opened = device->open();
  if (opened != kIOReturnSuccess) return opened;
  const IOReturn result = device->reEnumerate(0);
  if (result == kIOReturnSuccess) {
    pm::systemLogf("Successfully reenumerated %s", printer_.descriptionUTF8().constData());
  } else {
    pm::systemLogf("Failed to reenumerate %s (%s)", printer_.descriptionUTF8().constData(),
                   pm::stringForIOReturn(result));
  }
  device->close();
  return result;
}

void InterfaceAccess::hotPlug() {
  printer_.performInlineOnCommandQueue([this] { reEnumerateUSBDevice(); });
}

// ---- Letting go ----------------------------------------------------------------------------------

void InterfaceAccess::prepareForQuit() {
  gone_.markAbandoned();
  prepareForRelease();
}

void InterfaceAccess::prepareForRelease() {
  // An open retrying on the queue would hold the block below back for ever; it watches this.
  gone_.markReleased();
  tbusb::performAsyncOnCommandQueue(&printer_, [this] {
    printer_.setInterfaceInterface(nullptr);
    setDeviceInterface(nullptr);
    if (deviceObject()) setDeviceObject(ServiceHandle());
  });
}

}  // namespace usb
