#pragma once
// The application's controller on a virtual USB bus (or on any registry a factory makes): the bus
// is the notification port's registry, virtual printers answer on it, and alerts go to a scripted
// presenter. Main thread only.

#include <memory>
#include <vector>

#include <QPointer>
#include <QtTest>

#include "app/NotificationPort.h"
#include "app/TBPrinters.h"
#include "olm/model/ModelTraits.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "sim/VirtualPrinter.h"
#include "tests/common/PrinterTestRig.h"
#include "tests/common/ScriptedDevice.h"
#include "usb/virtual/VirtualUsbBus.h"

class AppHarness : public ScriptedSession {
 public:
  // What an added device lets through. Without permission (as libusb shows such a device: the
  // descriptors cached at enumeration, nothing else) every request fails, so its printer object
  // gets no IEEE 1284 device ID. A deaf device answers no request at all (each waits for its
  // time-out); one without endpoints has no bulk pipes; one that leaves during its arrival is
  // unplugged by its own GET_DEVICE_ID request. Its bulk pipes answer nothing in every case.
  // SlowIdentity: answers like Full, its device ID a fifth of a second late.
  enum class Access { Full, NoPermission, Deaf, NoEndpoints, LeavesDuringArrival, SlowIdentity };

  // `registry`: where the printers are (by default this harness's own bus).
  explicit AppHarness(pm::NotificationPort::Factory registry = {})
      : bus_(std::make_shared<usb::virt::VirtualUsbBus>()),
        registry_(registry ? std::move(registry) : [bus = bus_] { return bus; }) {
    bus_->setTimeScale(0.01);
  }

  ~AppHarness() {
    stop();  // the controller ended the port
    pm::NotificationPort::reclaim();
  }

  // Takes the controller down and waits (bounded) until its printers are destroyed: work still
  // queued holds them (also those the list let go), and must run dry before the bus and the
  // presenter go. Answers whether they all went.
  bool stop() {
    controller_.reset();
    return waitUntilDestroyed(listed_);
  }

  std::shared_ptr<sim::VirtualPrinter> attachPrinter(const QString& serial) {
    return sim::VirtualPrinter::attach(*bus_, {.serialNumber = serial});
  }
  // A PZA printer interface unless told otherwise.
  std::shared_ptr<usb::virt::VirtualUsbDevice> attachDevice(
      Access access, uint16_t vendor = pm::modelTraits(pm::PrinterModel::PZA).vendorId,
      uint16_t product = pm::modelTraits(pm::PrinterModel::PZA).productId,
      uint8_t subClass = kUSBPrintingSubClass) {
    auto device = script(access);
    auto self = std::make_shared<std::weak_ptr<usb::virt::VirtualUsbDevice>>();
    if (access == Access::LeavesDuringArrival) {
      device->control = [self, silent = usb::virt::TransferResult::silent()](
                            const usb::virt::SetupPacket& setup) -> std::optional<usb::virt::TransferResult> {
        if (setup.bmRequestType != 0xA1) return std::nullopt;
        if (const auto attached = self->lock()) attached->detach();
        return silent;
      };
    }
    auto attached = bus_->attach(description(vendor, product, subClass, access), device);
    *self = attached;
    return attached;
  }

  // What attachDevice attaches (for another bus too): the answers of every kind but
  // LeavesDuringArrival, and the description.
  static std::shared_ptr<ScriptedDevice> script(Access access) {
    auto device = std::make_shared<ScriptedDevice>();
    const auto refused = usb::virt::TransferResult::failure(kIOReturnNotPrivileged);
    const auto silent = usb::virt::TransferResult::silent();
    if (access == Access::NoPermission) {
      device->control = [refused](const usb::virt::SetupPacket&) { return std::optional(refused); };
      device->out = [refused](const QByteArray&) { return refused; };
      device->in = [refused](uint32_t) { return refused; };
    } else if (access == Access::SlowIdentity) {
      device->control = [](const usb::virt::SetupPacket& setup) -> std::optional<usb::virt::TransferResult> {
        if (setup.bmRequestType == 0xA1) QThread::msleep(200);
        return std::nullopt;
      };
    } else if (access == Access::Deaf) {
      device->control = [silent](const usb::virt::SetupPacket&) { return std::optional(silent); };
      device->out = [silent](const QByteArray&) { return silent; };
    }
    return device;
  }
  static usb::virt::VirtualDeviceDescription description(uint16_t vendor, uint16_t product, uint8_t subClass,
                                                         Access access) {
    usb::virt::VirtualDeviceDescription description;
    description.vendorId = vendor;
    description.productId = product;
    description.deviceId1284 = "MFG:Other;MDL:Device;";
    description.interfaceSubClass = subClass;
    if (access == Access::NoEndpoints) description.endpoints.clear();
    return description;
  }

  // Makes the controller and runs its start-up; the printers present join the list.
  TBPrinters& start() {
    controller_ = std::make_unique<TBPrinters>(registry_);
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
  std::shared_ptr<usb::virt::VirtualUsbBus> bus_;
  pm::NotificationPort::Factory registry_;
  std::unique_ptr<TBPrinters> controller_;
  std::vector<QPointer<TBUSBPrinterOLM>> listed_;  // every printer ever listed, until destroyed
};
