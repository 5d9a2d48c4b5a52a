#pragma once
// The application's controller on a virtual USB bus (or on any registry a factory makes): the bus
// is the notification port's registry, virtual printers answer on it, and alerts go to a scripted
// presenter. Main thread only.

#include <memory>
#include <vector>

#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "app/NotificationPort.h"
#include "app/TBPrinters.h"
#include "sim/VirtualPrinter.h"
#include "tests/common/PrinterTestRig.h"
#include "tests/common/ScriptedDevice.h"
#include "update/UpdateJournal.h"
#include "usb/virtual/VirtualUsbBus.h"
#include "vendor/TBUSBPrinterOLM.h"

class AppHarness {
 public:
  // What an added device lets through. Without permission (as libusb shows such a device: the
  // descriptors cached at enumeration, nothing else) every request fails, so its printer object
  // gets no IEEE 1284 device ID and no command queue. Its bulk pipes answer nothing either way.
  enum class Access { Full, NoPermission };

  // `registry`: where the printers are (by default this harness's own bus).
  explicit AppHarness(pm::NotificationPort::Factory registry = {})
      : bus_(std::make_shared<usb::virt::VirtualUsbBus>()) {
    bus_->setTimeScale(0.01);
    pm::NotificationPort::setFactory(registry ? std::move(registry) : [bus = bus_] { return bus; });
    pm::setAlertPresenter(&alerts_);
    pm::setApplicationControl(&application_);
    TBUSBPrinter::clearDeviceInfoRegistry();
    pm::UpdateJournal::setFilePath(stateDir_.filePath(QStringLiteral("updates.json")));
  }

  ~AppHarness() {
    stop();
    pm::NotificationPort::destroy();
    pm::NotificationPort::reclaim();
    pm::NotificationPort::setFactory(nullptr);
    pm::setAlertPresenter(nullptr);
    pm::setApplicationControl(nullptr);
  }

  // Takes the controller down and waits (bounded) until its printers are destroyed: work still
  // queued holds them (also those the list let go), and must run dry before the bus and the
  // presenter go. Answers whether they all went.
  bool stop() {
    controller_.reset();
    return QTest::qWaitFor([this] {
      for (const auto& printer : listed_)
        if (!printer.isNull()) return false;
      return true;
    }, 10000);
  }

  ScriptedAlertPresenter& alerts() { return alerts_; }
  ScriptedApplication& application() { return application_; }

  std::shared_ptr<sim::VirtualPrinter> attachPrinter(const QString& serial) {
    return sim::VirtualPrinter::attach(*bus_, {.serialNumber = serial});
  }
  std::shared_ptr<usb::virt::VirtualUsbDevice> attachDevice(uint16_t vendor, uint16_t product,
                                                            uint8_t subClass = kUSBPrintingSubClass,
                                                            Access access = Access::Full) {
    auto device = std::make_shared<ScriptedDevice>();
    const auto refused = usb::virt::TransferResult::failure(kIOReturnNotPrivileged);
    if (access == Access::NoPermission) {
      device->control = [refused](const usb::virt::SetupPacket&) { return std::optional(refused); };
      device->out = [refused](const QByteArray&) { return refused; };
      device->in = [refused](uint32_t) { return refused; };
    }
    return bus_->attach({.vendorId = vendor, .productId = product, .deviceId1284 = "MFG:Other;MDL:Device;",
                         .interfaceSubClass = subClass}, device);
  }

  // Makes the controller and runs its start-up; the printers present join the list.
  TBPrinters& start() {
    controller_ = std::make_unique<TBPrinters>();
    QObject::connect(controller_.get(), &TBPrinters::printerInserted, controller_.get(),
                     [this](int row) { listed_.emplace_back(controller_->printerAt(row).get()); });
    controller_->awakeFromNib();
    return *controller_;
  }

  // Lets every listed printer's queued work and the main-queue work it causes finish.
  void settle() {
    for (const auto& printer : controller_->printers()) QVERIFY(PrinterTestRig::settle(printer));
  }

 private:
  QTemporaryDir stateDir_;  // the update state file, out of the user's own
  std::shared_ptr<usb::virt::VirtualUsbBus> bus_;
  ScriptedAlertPresenter alerts_;
  ScriptedApplication application_;
  std::unique_ptr<TBPrinters> controller_;
  // Every printer ever listed, until it is destroyed: the last reference may go on a printer's
  // queue, which hands the deletion to the main queue, so "no reference left" is not yet "gone".
  std::vector<QPointer<TBUSBPrinterOLM>> listed_;
};
