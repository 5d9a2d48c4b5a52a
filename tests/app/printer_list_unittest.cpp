// TBPrinters on the virtual bus: start-up with every model of the table, which interfaces get a
// printer, removal (one that left while it arrived is never listed), and a supported printer the
// user may not open (no udev rule yet): it is listed, its row says why, the log names the rule,
// and nothing waits for a permission that waiting cannot bring. (Printers that answer badly and the
// main thread: printers_on_libusb; a held printer listed at once: cli's list.)

#include <QLabel>
#include <QtTest>

#include "app/ColorTableSummary.h"
#include "app/DemoMode.h"
#include "app/MainWindow.h"
#include "app/PrinterTableModel.h"
#include "olm/model/ModelTraits.h"
#include "tests/common/AppHarness.h"
#include "tests/common/LogCapture.h"
#include "usb/UsbPermission.h"

namespace {
const pm::ModelTraits& kPza = pm::modelTraits(pm::PrinterModel::PZA);
const uint16_t kFamilyVendor = pm::modelTraits(pm::PrinterModel::KTA).vendorId;
const uint16_t kKtaProduct = pm::modelTraits(pm::PrinterModel::KTA).productId;
}  // namespace

class PrinterListTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { useTemporarySettings(settingsDir_); }

  // Unlisted vendor, unlisted product, other subclass: no printer, and their removal is harmless.
  // A listed product under the other listed vendor is admitted: the two sets are independent.
  // A printer listed while one found after it still arrives keeps its own service: unplugging the
  // later one takes out that one, never its neighbour. One unplugged while it arrives is never listed.
  void onlyListedVendorsAndProductsGetAPrinter() {
    AppHarness harness;
    using Access = AppHarness::Access;
    const auto stranger = harness.attachDevice(Access::Full, 0x1234);
    harness.attachDevice(Access::Full, kPza.vendorId, kKtaProduct);
    harness.attachDevice(Access::Full, kPza.vendorId, kPza.productId, 2);
    harness.attachDevice(Access::Full, kFamilyVendor);
    harness.attachDevice(Access::LeavesDuringArrival);  // never listed
    const auto slow = harness.attachDevice(Access::SlowIdentity);
    LogCapture log;
    TBPrinters& controller = harness.start();
    QTRY_COMPARE(controller.count(), 2);
    const auto first = controller.printerAt(0);
    QCOMPARE(first->vendorID(), kFamilyVendor);
    QVERIFY(log.contains(QStringLiteral("but not by subclass; subClass=2")));
    stranger->detach();
    QTRY_VERIFY(log.contains(QStringLiteral("failed to match a printer object for device")));
    QCOMPARE(controller.count(), 2);
    slow->detach();
    QTRY_COMPARE(controller.count(), 1);
    QCOMPARE(controller.printerAt(0), first);
  }

  // Every model admitted and KTC's IDs moved, as a deployer's configuration would: the demo
  // printers carry the IDs in force and are listed in registry order, whichever answers first;
  // every layer takes each for its model: picture, the colour tables its firmware has, its archive.
  void everyLayerAgreesWithTheModelTable() {
    pm::ModelIdTable ids = pm::builtInIds();
    for (pm::ModelIds& model : ids) model.admitted = true;
    ids[size_t(pm::PrinterModel::KTC)] = {0x04f9, 0x0042, true};
    pm::installEffectiveIds(ids);
    const auto restore = qScopeGuard([] { pm::installEffectiveIds(pm::builtInIds()); });
    AppHarness harness(
        [] { return pm::DemoMode::makeRegistry(QStringLiteral("KTA,KTB,VLA,KTBT,KTC,KTD,PZA")); });
    TBPrinters& controller = harness.start();
    QTRY_COMPARE(controller.count(), 7);
    harness.settle();
    for (const pm::ModelTraits& traits : pm::allModelTraits()) {
      const auto printer = controller.printerAt(int(traits.model));
      QVERIFY(printer->printerModel() == traits.model &&
              printer->productID() == ids[size_t(traits.model)].productId);
      QVERIFY(!printer->image().isNull() && printer->update().verifyFirmwareArchive());
      const auto tables = pm::colorTablesAt(traits, printer->installedFirmwareVersion());
      QCOMPARE(pm::ColorTableSummary::fromDeviceInfo(printer->deviceInfoDict()->snapshot()).tables().size(),
               qsizetype(tables.size()));
    }
  }

  void refusedPrinterIsListedWithTheReason_data() {
    QTest::addColumn<bool>("identityReadable");
    QTest::addColumn<QString>("model");
    // Nothing about the device can be read: no strings, no device ID; the model column falls
    // back to the product ID's model.
    QTest::newRow("nothing readable") << false << "PZA";
    // The identity is readable (libusb may read it through another path), only the open is
    // refused: the printer's own queue must not be held by retries either.
    QTest::newRow("identity readable") << true << "Device";
  }

  void refusedPrinterIsListedWithTheReason() {
    QFETCH(bool, identityReadable);
    QFETCH(QString, model);
    AppHarness harness;
    auto device =
        harness.attachDevice(identityReadable ? AppHarness::Access::Full : AppHarness::Access::NoPermission);
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
    QVERIFY(log.contains(QString::fromLatin1(pm::kUdevRuleName)) &&
            log.contains(QStringLiteral("2b3c:0017")) &&
            !log.contains(QStringLiteral("In use by other application")));

    MainWindow window(&controller, QString());
    const PrinterTableModel& table = *window.model();
    const auto cell = [&table](int column) { return table.data(table.index(0, column)).toString(); };
    QCOMPARE((QStringList{cell(PrinterTableModel::Model), cell(PrinterTableModel::PrinterStatus),
                          cell(PrinterTableModel::UsbStatus)}),
             (QStringList{model, pm::noPermissionText(), pm::noPermissionText()}));
    // The window says how to fix it, not only the log.
    QCOMPARE(table.data(table.index(0, PrinterTableModel::PrinterStatus), Qt::ToolTipRole).toString(),
             pm::noPermissionAdvice());
    const auto* advice = window.findChild<QLabel*>(QStringLiteral("permissionAdvice"));
    QVERIFY(advice && advice->isVisibleTo(&window) &&
            advice->text().contains(QString::fromLatin1(pm::kUdevRuleName)));

    // Refresh reports the same, at once; unplugged, it leaves like any other printer (also one
    // without a command queue).
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

QTEST_MAIN(PrinterListTest)
#include "printer_list_unittest.moc"
