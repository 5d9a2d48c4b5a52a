// TBUSBPrinter: life cycle and observable properties.

#include "usb/TBUSBPrinter.h"

#include <QCoreApplication>
#include <QPointer>

#include "support/MainQueue.h"
#include "support/SystemLog.h"
#include "usb/TBUSBPrinterPrivate.h"

TBUSBPrinter::TBUSBPrinter()
    : d_(std::make_unique<Private>()), deviceInfo_(std::make_shared<pm::DeviceInfo>()) {
  Q_ASSERT(QCoreApplication::instance() == nullptr || pm::isMainQueue());
  pm::SerialQueue::main();  // made here, on the main thread, before a queue posts to it
}

TBUSBPrinter::~TBUSBPrinter() {
  Q_ASSERT(QCoreApplication::instance() == nullptr || pm::isMainQueue());
  // Registrations belong to the main thread, where the object dies; the queue's thread quits on
  // its own after its last block, without being waited for.
  d_->interestNotification.reset();
  d_->busyNotification.reset();
}

void TBUSBPrinter::setRegistry(usb::UsbRegistry* registry) { d_->notifyPort = registry; }

void TBUSBPrinter::destroyOnMainThread(TBUSBPrinter* printer) {
  if (QCoreApplication::instance() == nullptr || pm::isMainQueue()) {
    delete printer;
  } else {
    pm::SerialQueue::main().async([printer] { delete printer; });
  }
}

// ---- Initialisation ----------------------------------------------------------------------------

bool TBUSBPrinter::initWithInterfaceInterface(std::shared_ptr<usb::UsbInterface> interface,
                                              const usb::ServiceHandle& service) {
  Q_ASSERT(pm::isMainQueue());
  // The IDs the device key is made of were read at enumeration (no transfer), so the vendor
  // class can look up its record at once; everything that talks to the device runs on the queue,
  // which exists before the first transfer: a printer that answers nothing, or slowly, must never
  // hold the main thread.
  noteIdentifiers(interface.get());
  createCommandQueue();
  setInterfaceInterface(std::move(interface));
  update1284DeviceID([this, service](bool ok, const QString& deviceId) {
    if (!ok || deviceId.isNull()) return markIdentified();
    decodeDeviceID(deviceId, [this, &service](const QString& manufacturer, const QString& model,
                                              const QString& serialNumber, const QString&) {
      deviceInfo_->setValue(QStringLiteral("manufacturer"), manufacturer);
      deviceInfo_->setValue(QStringLiteral("model"), model);
      performSyncOnMainQueue([&] {
        // A value restored from saved device information is kept.
        if (this->manufacturer().isEmpty()) setManufacturer(manufacturer);
        if (this->model().isEmpty()) setModel(model);
      });
      const QString serial = serialNumber.isNull() ? serialNumberUSB() : serialNumber;
      nameCommandQueue(manufacturer, model, serial);
      // Listed before its first open, which may wait for another program for a long time.
      markIdentified();
      setDeviceObject(service);
    });
  });
  return true;
}

bool TBUSBPrinter::isIdentified() const { return d_->identified; }

void TBUSBPrinter::markIdentified() {
  Q_ASSERT(isPrinterCommandQueue());
  d_->identified = true;
  pm::SerialQueue::main().async([printer = QPointer<TBUSBPrinter>(this)] {
    if (printer) emit printer->identityRead();
  });
}

QImage TBUSBPrinter::image() const {
  const std::lock_guard guard(d_->lock);
  return d_->image;
}

void TBUSBPrinter::setImage(const QImage& image) {
  {
    const std::lock_guard guard(d_->lock);
    d_->image = image;
  }
  announceChange(QStringLiteral("image"));
}

// ---- Connection state ----------------------------------------------------------------------------

int64_t TBUSBPrinter::state() const { return d_->state; }

void TBUSBPrinter::setState(int64_t state) {
  Q_ASSERT(pm::isMainQueue());
  d_->state = state;
  announceChange(QStringLiteral("state"));
}

int8_t TBUSBPrinter::isOwned() const { return static_cast<int8_t>(d_->isOwned.load()); }

int32_t TBUSBPrinter::interfaceStatus() const { return d_->interfaceStatus; }

bool TBUSBPrinter::isInterfaceOpen() const {
  return state() == TBUSBPrinterStateOpen && interfaceStatus() == TBUSBInterfaceStatusOpen;
}

bool TBUSBPrinter::willOpenInterface() const {
  return state() == TBUSBPrinterStateOpening && interfaceStatus() == int32_t{TBUSBPrinterStateOpening};
}

bool TBUSBPrinter::didOpenInterface() const {
  return state() == TBUSBPrinterStateOpening && interfaceStatus() == TBUSBInterfaceStatusOpen;
}

std::shared_ptr<usb::UsbInterface> TBUSBPrinter::interfaceInterface() const { return d_->interface(); }

usb::ServiceHandle TBUSBPrinter::deviceObject() const { return d_->service(); }

bool TBUSBPrinter::hasGone() const { return d_->gone.terminated(); }

void TBUSBPrinter::noteServiceTerminated() { d_->gone.markTerminated(); }

// ---- Observable texts ------------------------------------------------------------------------------

#define PM_TEXT_PROPERTY(getter, setter, key)                                 \
  QString TBUSBPrinter::getter() const { return d_->text(&Private::getter); } \
  void TBUSBPrinter::setter(const QString& v) {                               \
    d_->setText(&Private::getter, v);                                         \
    announceChange(QStringLiteral(key));                                      \
  }

PM_TEXT_PROPERTY(raw1284DeviceID, setRaw1284DeviceID, "raw1284DeviceID")
PM_TEXT_PROPERTY(deviceID, setDeviceID, "deviceID")
PM_TEXT_PROPERTY(manufacturer, setManufacturer, "manufacturer")
PM_TEXT_PROPERTY(model, setModel, "model")
PM_TEXT_PROPERTY(vendorUSB, setVendorUSB, "vendorUSB")
PM_TEXT_PROPERTY(productUSB, setProductUSB, "productUSB")
PM_TEXT_PROPERTY(serialNumberUSB, setSerialNumberUSB, "serialNumberUSB")
PM_TEXT_PROPERTY(status, setStatus, "status")
PM_TEXT_PROPERTY(statusString, setStatusString, "statusString")

#undef PM_TEXT_PROPERTY

bool TBUSBPrinter::inFirmwareUpdate() const { return d_->isBusy; }

void TBUSBPrinter::setInFirmwareUpdate(bool v) {
  d_->isBusy = v;
  announceChange(QStringLiteral("inFirmwareUpdate"));
}

// ---- Device information --------------------------------------------------------------------------

QString TBUSBPrinter::printerStatus() const { return deviceInfo_->string(QStringLiteral("printerStatus")); }

void TBUSBPrinter::setPrinterStatus(const QString& status) {
  if (status.isNull()) return;
  performSyncOnMainQueue([this, &status] {
    deviceInfo_->setValue(QStringLiteral("printerStatus"), status);
    announceChange(QStringLiteral("printerStatus"));
  });
}

QString TBUSBPrinter::firmwareVersion() const {
  return deviceInfo_->string(QStringLiteral("firmwareVersion"));
}

QString TBUSBPrinter::printerSerialNumber() const {
  return deviceInfo_->string(QStringLiteral("printerSerialNumber"));
}

void TBUSBPrinter::storeDeviceInfo(const QString& key, const QVariant& value) {
  deviceInfo_->setValue(key, value);
  announceChange(key);
}

void TBUSBPrinter::announceChange(const QString& key) {
  if (pm::isMainQueue()) {
    emit propertyChanged(key);
  } else {
    pm::SerialQueue::main().async([printer = QPointer<TBUSBPrinter>(this), key] {
      if (printer) emit printer->propertyChanged(key);
    });
  }
}
