// A supported printer that the user may not open (no udev rule yet): it is listed, its row says
// why, the log names the rule, and nothing waits for a permission that waiting cannot bring.

#include <QtTest>

#include "app/PrinterTableModel.h"
#include "tests/app/app_test_harness.h"
#include "tests/common/LogCapture.h"
#include "usb/UsbPermission.h"
#include "vendor/PrinterModels.h"

namespace {

// The device as libusb shows it without permission: the descriptors it cached at enumeration
// (IDs, class), but every request that needs the device opened fails.
class DeviceWithoutPermission final : public usb::virt::VirtualDeviceHandler {
 public:
  std::optional<usb::virt::TransferResult> controlRequest(usb::virt::VirtualUsbDevice&,
                                                          const usb::virt::SetupPacket&,
                                                          const QByteArray&) override {
    return usb::virt::TransferResult::failure(kIOReturnNotPrivileged);
  }
  usb::virt::TransferResult bulkOut(usb::virt::VirtualUsbDevice&, uint8_t,
                                    const QByteArray&) override {
    return usb::virt::TransferResult::failure(kIOReturnNotPrivileged);
  }
  usb::virt::TransferResult bulkIn(usb::virt::VirtualUsbDevice&, uint8_t, uint32_t) override {
    return usb::virt::TransferResult::failure(kIOReturnNotPrivileged);
  }
};

usb::virt::VirtualDeviceDescription pzaDescription() {
  usb::virt::VirtualDeviceDescription description;
  description.vendorId = pm::kVendorIdSecondary;
  description.productId = pm::kProductIdPZA;
  description.manufacturer = QStringLiteral("Varnholt Printing");
  description.product = QStringLiteral("RM-PZA");
  description.serialNumber = QStringLiteral("NOPERM1");
  description.deviceId1284 = "MFG:Varnholt Printing;MDL:RM-PZA;SERN:NOPERM1;";
  return description;
}

}  // namespace

class NoPermissionTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { useTemporarySettings(settingsDir_); }

  // Nothing about the device can be read: no strings, no device ID, so no command queue.
  void unreadablePrinterIsListedWithTheReason() {
    AppHarness harness;
    auto device = harness.bus().attach(pzaDescription(), std::make_shared<DeviceWithoutPermission>());
    device->setOpenResult(kIOReturnNotPrivileged);
    LogCapture log;

    QElapsedTimer started;
    started.start();
    TBPrinters& controller = harness.start();
    QTRY_COMPARE(controller.count(), 1);
    // The open gave up at once instead of retrying on the main thread.
    QVERIFY(started.elapsed() < 3000);

    const TBPrinters::PrinterRef printer = controller.printerAt(0);
    QCOMPARE(printer->status(), pm::noPermissionText());
    QCOMPARE(printer->printerStatus(), pm::noPermissionText());
    QVERIFY(log.contains(QString::fromLatin1(pm::kUdevRuleName)));
    QVERIFY(log.contains(QStringLiteral("2b3c:0017")));

    PrinterTableModel model(&controller);
    const auto cell = [&model](int column) {
      return model.data(model.index(0, column)).toString();
    };
    QCOMPARE(cell(PrinterTableModel::Model), QStringLiteral("PZA"));
    QCOMPARE(cell(PrinterTableModel::PrinterStatus), pm::noPermissionText());
    QCOMPARE(cell(PrinterTableModel::UsbStatus), pm::noPermissionText());

    // Unplugged, it leaves like any other printer.
    device->detach();
    QTRY_COMPARE(controller.count(), 0);
  }

  // The identity is readable (libusb may read it through another path), only the open is refused:
  // the printer's own queue must not be held by retries either.
  void refusedOpenEndsWithoutRetrying() {
    AppHarness harness;
    auto device = harness.bus().attach(pzaDescription(), std::make_shared<SilentDevice>());
    device->setOpenResult(kIOReturnNotPrivileged);
    LogCapture log;
    TBPrinters& controller = harness.start();
    QTRY_COMPARE(controller.count(), 1);
    const TBPrinters::PrinterRef printer = controller.printerAt(0);
    QTRY_COMPARE(printer->printerStatus(), pm::noPermissionText());
    QCOMPARE(printer->model(), QStringLiteral("RM-PZA"));
    harness.settle();
    QVERIFY(log.contains(QString::fromLatin1(pm::kUdevRuleName)));
    QVERIFY(!log.contains(QStringLiteral("In use by other application")));

    // Refresh reports the same, at once.
    log.clear();
    printer->updateInfo();
    harness.settle();
    QCOMPARE(printer->printerStatus(), pm::noPermissionText());
    QVERIFY(log.contains(QString::fromLatin1(pm::kUdevRuleName)));
  }

 private:
  QTemporaryDir settingsDir_;
};

QTEST_MAIN(NoPermissionTest)
#include "no_permission_unittest.moc"
