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

  void refusedPrinterIsListedWithTheReason_data() {
    QTest::addColumn<bool>("identityReadable");
    QTest::addColumn<QString>("model");
    // Nothing about the device can be read: no strings, no device ID, so no command queue; the
    // model column falls back to the product ID's model.
    QTest::newRow("nothing readable") << false << "PZA";
    // The identity is readable (libusb may read it through another path), only the open is
    // refused: the printer's own queue must not be held by retries either.
    QTest::newRow("identity readable") << true << "RM-PZA";
  }

  void refusedPrinterIsListedWithTheReason() {
    QFETCH(bool, identityReadable);
    QFETCH(QString, model);
    AppHarness harness;
    std::shared_ptr<usb::virt::VirtualDeviceHandler> handler = std::make_shared<DeviceWithoutPermission>();
    if (identityReadable) handler = std::make_shared<SilentDevice>();
    auto device = harness.bus().attach(pzaDescription(), handler);
    device->setOpenResult(kIOReturnNotPrivileged);
    LogCapture log;
    QElapsedTimer started;
    started.start();
    TBPrinters& controller = harness.start();
    QTRY_COMPARE(controller.count(), 1);
    QVERIFY(started.elapsed() < 3000);  // the open gave up at once instead of retrying
    const TBPrinters::PrinterRef printer = controller.printerAt(0);
    QTRY_COMPARE(printer->printerStatus(), pm::noPermissionText());
    harness.settle();
    QVERIFY(log.contains(QString::fromLatin1(pm::kUdevRuleName)));
    QVERIFY(log.contains(QStringLiteral("2b3c:0017")));
    QVERIFY(!log.contains(QStringLiteral("In use by other application")));

    PrinterTableModel table(&controller);
    const auto cell = [&table](int column) { return table.data(table.index(0, column)).toString(); };
    QCOMPARE((QStringList{cell(PrinterTableModel::Model), cell(PrinterTableModel::PrinterStatus), cell(PrinterTableModel::UsbStatus)}),
             (QStringList{model, pm::noPermissionText(), pm::noPermissionText()}));

    // Refresh reports the same, at once; unplugged, it leaves like any other printer.
    if (identityReadable) {
      log.clear();
      printer->updateInfo();
      harness.settle();
      QCOMPARE(printer->printerStatus(), pm::noPermissionText());
      QVERIFY(log.contains(QString::fromLatin1(pm::kUdevRuleName)));
    }
    device->detach();
    QTRY_COMPARE(controller.count(), 0);
  }

 private:
  QTemporaryDir settingsDir_;
};

QTEST_MAIN(NoPermissionTest)
#include "no_permission_unittest.moc"
