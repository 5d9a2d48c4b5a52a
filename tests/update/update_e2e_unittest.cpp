// The firmware update from the user's request to the final report, against virtual printers that
// restart into update mode and back: the frames each model receives, the stages across the
// restarts, the rules and alerts before the update, and the faults on the way.

#include <QtTest>

#include <QSettings>
#include <QTemporaryDir>

#include "support/Resources.h"
#include "tests/common/LogCapture.h"
#include "tests/common/PrinterTestRig.h"
#include "update/FirmwareArchive.h"
#include "update/UpdateReturnWatch.h"

using sim::Model;

namespace {

const QString kStageKey = QStringLiteral("deviceFirmwareStatus");
const QString kWarningTitle = QStringLiteral("Attention:");
const QString kConfirmTitle = QStringLiteral("-- Warning --\n\nAre you certain you want to update the firmware?");
const QString kSuccessTitle = QStringLiteral("Firmware update was successful!");
const QString kProblemTitle = QStringLiteral("There was a problem with the firmware update!");
const QString kNotBackTitle = QStringLiteral("The printer has not come back");

bool isUpdateCommand(const sim::ReceivedFrame& frame) {
  return frame.category == QLatin1String("FW_UPD") || frame.category == QLatin1String("TBL_CL") ||
         frame.category == QLatin1String("TBL_WT");
}

std::vector<sim::ReceivedFrame> updateFrames(const sim::VirtualPrinter& device) {
  std::vector<sim::ReceivedFrame> frames;
  for (const sim::ReceivedFrame& frame : device.frames())
    if (isUpdateCommand(frame)) frames.push_back(frame);
  return frames;
}

QStringList commands(const std::vector<sim::ReceivedFrame>& frames) {
  QStringList names;
  for (const sim::ReceivedFrame& frame : frames) names << frame.command;
  return names;
}

QByteArray archiveFile(const QString& name) {
  return pm::FirmwareArchive::readArchiveFile(name).value_or(QByteArray());
}

QByteArray lengthField(qsizetype size) { return QByteArray::number(size).rightJustified(8, '0'); }

QVariant stageOf(const std::shared_ptr<TBUSBPrinterOLM>& printer) {
  return printer ? printer->deviceInfoDict()->value(kStageKey) : QVariant();
}

}  // namespace

class UpdateEndToEndTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<PrinterTestRig> rig_;

  // A printer on the bus whose first reads are done, so that its firmware version is known.
  std::shared_ptr<TBUSBPrinterOLM> attachReady(sim::VirtualPrinterConfig config,
                                               std::shared_ptr<sim::VirtualPrinter>* device) {
    std::shared_ptr<TBUSBPrinterOLM> printer = rig_->attachAndWait(std::move(config), device);
    if (!printer || !PrinterTestRig::waitFor([&] { return !printer->firmwareVersion().isEmpty(); })) return nullptr;
    PrinterTestRig::settle(printer);
    (*device)->clearFrames();
    return printer;
  }

  // The printer object that stands for the device now (a new one after each restart).
  std::shared_ptr<TBUSBPrinterOLM> current(const std::shared_ptr<sim::VirtualPrinter>& device) {
    return rig_->printerFor(*device);
  }

  bool waitForAlert(const QString& title, int timeoutMs = 15000) {
    return PrinterTestRig::waitFor([&] { return rig_->alerts().titles().contains(title); }, timeoutMs);
  }

  pm::AlertRequest lastAlert() const { return rig_->alerts().requests().back(); }

  // Agrees to the warning and confirms: the happy path through every question.
  void agreeAndConfirm() {
    rig_->alerts().queueAnswer(1001, true);
    rig_->alerts().queueAnswer(1001);
  }

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("PrinterMaintenanceTests"));
    QCoreApplication::setApplicationName(QStringLiteral("update_e2e_unittest"));
  }

  void init() {
    QSettings().clear();
    pm::setResourceDirectory({});
    pm::UpdateReturnWatch::setTimeoutMs(90000);
    rig_ = std::make_unique<PrinterTestRig>();
  }

  void cleanup() {
    rig_.reset();
    QSettings().clear();
    pm::setResourceDirectory({});
  }

  void fullUpdateOfEachModel_data() {
    QTest::addColumn<Model>("model");
    QTest::addColumn<uint16_t>("productId");
    QTest::newRow("KTA") << Model::KTA << pm::kProductIdKTA;
    QTest::newRow("KTB") << Model::KTB << pm::kProductIdKTB;
    QTest::newRow("VLA") << Model::VLA << pm::kProductIdVLA;
    QTest::newRow("KTBT") << Model::KTBT << pm::kProductIdKTBT;
    QTest::newRow("KTC") << Model::KTC << pm::kProductIdKTC;
    QTest::newRow("KTD") << Model::KTD << pm::kProductIdKTD;
    QTest::newRow("PZA") << Model::PZA << pm::kProductIdPZA;
  }

  void fullUpdateOfEachModel() {
    QFETCH(Model, model);
    QFETCH(uint16_t, productId);
    LogCapture log;
    std::shared_ptr<sim::VirtualPrinter> device;
    sim::VirtualPrinterConfig config;
    config.model = model;
    auto printer = attachReady(config, &device);
    QVERIFY(printer);
    QCOMPARE(printer->productID(), productId);
    const QString before = device->firmwareVersion();
    const QStringList files = pm::FirmwareArchive::archiveForProductID(productId)->fileNames;
    const QString stem = files.first().chopped(3);

    agreeAndConfirm();
    printer->updateFirmware();
    QVERIFY(waitForAlert(kSuccessTitle, 30000));
    QCOMPARE(rig_->alerts().titles(), (QStringList{kWarningTitle, kConfirmTitle, kSuccessTitle}));
    QCOMPARE(lastAlert().message, QStringLiteral("Firmware version updated from %1 to %2").arg(before, stem));
    QCOMPARE(lastAlert().buttons, QStringList{QStringLiteral("Finish")});
    QCOMPARE(device->firmwareVersion(), stem);

    // The printer saw exactly the update's commands, in order, with the archive's bytes.
    const std::vector<sim::ReceivedFrame> frames = updateFrames(*device);
    QStringList expected{QStringLiteral("FW_UPDFLASH_REWRITE"), QStringLiteral("FW_UPDFLASH_PROGRAM"),
                         QStringLiteral("TBL_CL")};
    for (int i = 1; i < files.size(); ++i)
      expected << QStringLiteral("TBL_WTVersion") << QStringLiteral("TBL_WTCTRLD_UPDATE_CW");
    QCOMPARE(commands(frames), expected);
    QCOMPARE(frames[0].lengthField, QByteArray(8, ' '));
    const QByteArray image = pm::FirmwareArchive::paddedData(archiveFile(files.first()));
    QCOMPARE(image.size() % 4, 0);
    QVERIFY(frames[1].payload == image);
    QCOMPARE(frames[1].lengthField, lengthField(image.size()));
    QCOMPARE(frames[2].lengthField, QByteArray(8, ' '));
    for (int i = 1; i < files.size(); ++i) {
      const sim::ReceivedFrame& version = frames[size_t(2 * i + 1)];
      const sim::ReceivedFrame& data = frames[size_t(2 * i + 2)];
      QCOMPARE(version.payload, pm::FirmwareArchive::paddedData(files[i].toUpper().toLatin1()));
      QCOMPARE(version.lengthField, lengthField(version.payload.size()));
      QVERIFY(data.payload == archiveFile(files[i]));  // as shipped, not padded
      QCOMPARE(data.lengthField, lengthField(data.payload.size()));
    }
    QVERIFY2(device->lastTableProblem().isEmpty(), qPrintable(device->lastTableProblem()));

    // The status was read before the rewrite request, the version before the upload.
    const QStringList all = device->frameSummaries();
    const auto indexOf = [&all](const QString& prefix, qsizetype from = 0) {
      for (qsizetype i = from; i < all.size(); ++i)
        if (all[i].startsWith(prefix)) return i;
      return qsizetype(-1);
    };
    const qsizetype rewrite = indexOf(QStringLiteral("FW_UPDFLASH_REWRITE"));
    QVERIFY(all.mid(0, rewrite).last().startsWith(QLatin1String("STATUS")));
    const qsizetype upload = indexOf(QStringLiteral("FW_UPDFLASH_PROGRAM"));
    QVERIFY(indexOf(QStringLiteral("INFO  FVER"), rewrite) < upload);

    auto finished = current(device);
    QVERIFY(finished);
    QCOMPARE(stageOf(finished).toInt(), 3);
    QTRY_VERIFY(!finished->inFirmwareUpdate());
    QVERIFY(log.contains(QStringLiteral("firmware version changed from %1 to %2").arg(before, stem)));

    // The next attach closes the update.
    device->powerCycle();
    QVERIFY(PrinterTestRig::waitFor([&] { auto p = current(device); return p && p != finished; }));
    auto after = current(device);
    QVERIFY(PrinterTestRig::waitFor([&] { return !stageOf(after).isValid(); }));
    QVERIFY(log.contains(QStringLiteral("found a device finished with firmware update")));
    QTRY_COMPARE(after->firmwareVersion(), stem);
    QVERIFY(!after->inFirmwareUpdate());
    QCOMPARE(rig_->alerts().count(), 3);
  }

  void vlaRules_data() {
    QTest::addColumn<QString>("installed");
    QTest::addColumn<QString>("expectedMessageStart");
    QTest::addColumn<int>("buttons");
    QTest::newRow("1.90: prerequisite only")
        << "01.90" << "Before updating the VLA firmware to version 2.21 you must first update to firmware version 2.0x (or 2.1x).\n\n(the current firmware version is 1.90)" << 1;
    QTest::newRow("2.00: VLA warning with media sentence")
        << "02.00" << "This update tool is for the OLM VLA printer. It will upgrade the printer to " << 2;
    QTest::newRow("2.03: VLA warning with media sentence")
        << "02.03" << "This update tool is for the OLM VLA printer." << 2;
    QTest::newRow("2.04: generic warning")
        << "02.04" << "This update tool will upgrade the printer firmware to version KT-VLA 02.21. This process cannot be undone" << 2;
  }

  void vlaRules() {
    QFETCH(QString, installed);
    QFETCH(QString, expectedMessageStart);
    QFETCH(int, buttons);
    std::shared_ptr<sim::VirtualPrinter> device;
    sim::VirtualPrinterConfig config;
    config.model = Model::VLA;
    config.firmwareVersion = installed;
    auto printer = attachReady(config, &device);
    QVERIFY(printer);
    printer->updateFirmware();
    QVERIFY(waitForAlert(kWarningTitle));
    const pm::AlertRequest alert = lastAlert();
    QVERIFY2(alert.message.startsWith(expectedMessageStart), qPrintable(alert.message));
    QCOMPARE(alert.buttons.size(), buttons);
    QCOMPARE(alert.style, pm::AlertStyle::Critical);
    QCOMPARE(alert.agreeCheckBox, buttons == 2);
    const bool mediaSentence = alert.message.contains(QLatin1String(" Please use up all VLA media before using this update tool."));
    QCOMPARE(mediaSentence, installed == QLatin1String("02.00") || installed == QLatin1String("02.03"));
    // The answer (1000: "Quit") ends the application.
    QTRY_COMPARE(rig_->application().terminations(), 1);
    QVERIFY(updateFrames(*device).empty());
  }

  void versionRuleAndPreference() {
    std::shared_ptr<sim::VirtualPrinter> device;
    sim::VirtualPrinterConfig config;
    config.model = Model::PZA;
    config.firmwareVersion = QStringLiteral("01.20");
    auto printer = attachReady(config, &device);
    QVERIFY(printer);

    // Newer installed: nothing to do.
    rig_->alerts().queueAnswer(1001, true);
    printer->updateFirmware();
    QVERIFY(waitForAlert(QStringLiteral("Firmware update not needed")));
    QCOMPARE(lastAlert().message, QStringLiteral("This printer has firmware version 1.20 installed."));

    // The preference allows the downgrade: the confirmation comes; "Cancel" leaves no stage.
    QSettings().setValue(QStringLiteral("installOlderFirmwareVersion"), true);
    rig_->alerts().clear();
    rig_->alerts().queueAnswer(1001, true);
    printer->updateFirmware();
    QVERIFY(waitForAlert(kConfirmTitle));
    QCOMPARE(lastAlert().buttons, (QStringList{QStringLiteral("Cancel"), QStringLiteral("Update Firmware to PZA 01.10")}));

    // Equal versions pass without the preference.
    QSettings().clear();
    device->setFirmwareVersion(QStringLiteral("PZA 01.10"));
    printer->getPrinterFirmwareVersion();
    QTRY_COMPARE(printer->firmwareVersion(), QStringLiteral("PZA 01.10"));
    rig_->alerts().clear();
    rig_->alerts().queueAnswer(1001, true);
    printer->updateFirmware();
    QVERIFY(waitForAlert(kConfirmTitle));
    PrinterTestRig::settle(printer);
    QVERIFY(!stageOf(printer).isValid());
    QVERIFY(!printer->inFirmwareUpdate());
    QVERIFY(updateFrames(*device).empty());
    QCOMPARE(rig_->application().terminations(), 0);
  }

  void readinessAlerts() {
    std::shared_ptr<sim::VirtualPrinter> device;
    sim::VirtualPrinterConfig config;
    config.model = Model::KTD;
    auto printer = attachReady(config, &device);
    QVERIFY(printer);

    // Not ready: the alert names the status.
    device->setStatusSequence({QStringLiteral("01000")});
    rig_->alerts().queueAnswer(1001, true);
    rig_->alerts().queueAnswer(1001);  // "Cancel"
    printer->updateFirmware();
    QVERIFY(waitForAlert(QStringLiteral("Printer Not Ready")));
    QCOMPARE(lastAlert().message, QStringLiteral("Please correct the following issue: Cover Open"));
    QCOMPARE(lastAlert().buttons, (QStringList{QStringLiteral("Proceed"), QStringLiteral("Cancel")}));

    // Codes that only look like ready ones are not.
    for (const char* code : {"0", "00500"}) {
      rig_->alerts().clear();
      device->setStatusSequence({QString::fromLatin1(code)});
      rig_->alerts().queueAnswer(1001);  // "Cancel"
      printer->proceedWithUpdateWhenReady();
      QVERIFY2(waitForAlert(QStringLiteral("Printer Not Ready")), code);
    }
    // Wrong Paper and System Fail Error count as ready.
    for (const char* code : {"01500", "03000"}) {
      rig_->alerts().clear();
      device->setStatusSequence({QString::fromLatin1(code)});
      rig_->alerts().queueAnswer(1000);  // "Cancel" at the confirmation
      printer->proceedWithUpdateWhenReady();
      QVERIFY2(waitForAlert(kConfirmTitle), code);
    }

    // "Proceed" retries the checks.
    rig_->alerts().clear();
    device->setStatusSequence({QStringLiteral("01100"), QStringLiteral("00000")});
    rig_->alerts().queueAnswer(1000);  // "Proceed"
    rig_->alerts().queueAnswer(1000);  // "Cancel" at the confirmation
    printer->proceedWithUpdateWhenReady();
    QVERIFY(waitForAlert(kConfirmTitle));
    QCOMPARE(rig_->alerts().titles(), (QStringList{QStringLiteral("Printer Not Ready"), kConfirmTitle}));

    // An open that fails: "Printer Error".
    rig_->alerts().clear();
    device->device()->setOpenResult(kIOReturnNoDevice);
    printer->closeInterface(nullptr);
    PrinterTestRig::settle(printer);
    rig_->alerts().queueAnswer(1001);  // "Cancel"
    printer->proceedWithUpdateWhenReady();
    QVERIFY(waitForAlert(QStringLiteral("Printer Error")));
    device->device()->setOpenResult(kIOReturnSuccess);
    PrinterTestRig::settle(printer);
    QVERIFY(!stageOf(printer).isValid());
    QVERIFY(!printer->inFirmwareUpdate());
    QVERIFY(updateFrames(*device).empty());
  }

  void busyPrinterWaitsWithoutFreezing() {
    std::shared_ptr<sim::VirtualPrinter> device;
    sim::VirtualPrinterConfig config;
    config.model = Model::PZA;
    auto printer = attachReady(config, &device);
    QVERIFY(printer);
    printer->closeInterface(nullptr);
    PrinterTestRig::settle(printer);
    device->setHeldByOtherProgram(true);
    rig_->alerts().queueAnswer(1000);  // "Cancel" at the confirmation
    printer->proceedWithUpdateWhenReady();
    // The open keeps trying on the printer's queue and says so; the main queue stays free.
    QTRY_COMPARE(printer->printerStatus(), QStringLiteral("In use by other application"));
    QTest::qWait(300);
    QCOMPARE(rig_->alerts().count(), 0);
    device->setHeldByOtherProgram(false);
    QVERIFY(waitForAlert(kConfirmTitle));
  }

  void unexpectedUpdateModePrompt_data() {
    QTest::addColumn<bool>("update");
    QTest::newRow("Update Firmware") << true;
    QTest::newRow("Ignore") << false;
  }

  // A printer waiting in update mode that this process did not put there (it was restarted
  // since): the prompt, then the upload or the power-cycle request.
  void unexpectedUpdateModePrompt() {
    QFETCH(bool, update);
    std::shared_ptr<sim::VirtualPrinter> device;
    sim::VirtualPrinterConfig config;
    config.model = Model::KTA;
    auto printer = attachReady(config, &device);
    QVERIFY(printer);
    device->setUpdateFault(sim::UpdateFault::NeverReturnAfterRestart);
    agreeAndConfirm();
    printer->updateFirmware();
    QVERIFY(PrinterTestRig::waitFor([&] { return !device->device()->isAttached(); }));
    device->setUpdateFault(sim::UpdateFault::None);
    // Once the old object is gone, the process forgets the stage as a restarted one would.
    const std::weak_ptr<TBUSBPrinterOLM> gone = printer;
    printer.reset();
    QVERIFY(PrinterTestRig::waitFor([&] { return gone.expired(); }));
    QCOMPARE(rig_->alerts().count(), 2);
    TBUSBPrinter::clearDeviceInfoRegistry();
    rig_->alerts().clear();
    device->clearFrames();

    rig_->alerts().queueAnswer(update ? 1001 : 1000);
    device->powerCycle();
    QVERIFY(waitForAlert(kWarningTitle));
    QCOMPARE(lastAlert().message, QStringLiteral("A printer was unexpectedly found in firmware update mode. Would you like to update the firmware? "));
    QCOMPARE(lastAlert().buttons, (QStringList{QStringLiteral("Ignore"), QStringLiteral("Update Firmware")}));
    if (update) {
      QVERIFY(waitForAlert(kSuccessTitle, 30000));
      // No previous version was recorded by this process.
      QCOMPARE(lastAlert().message, QStringLiteral("Firmware version updated from (null) to KTA 01.61"));
      QCOMPARE(commands(updateFrames(*device)).first(), QStringLiteral("FW_UPDFLASH_PROGRAM"));
    } else {
      QVERIFY(waitForAlert(QStringLiteral("Please power-cycle this printer")));
      QCOMPARE(lastAlert().message, QStringLiteral("Contact customer support if power-cycling does not resolve the issue."));
      PrinterTestRig::settle(current(device));
      QVERIFY(device->inUpdateMode());
      QVERIFY(updateFrames(*device).empty());
    }
  }

  void backAtStageOneWithoutUpdateMode() {
    LogCapture log;
    std::shared_ptr<sim::VirtualPrinter> device;
    sim::VirtualPrinterConfig config;
    config.model = Model::KTC;
    auto printer = attachReady(config, &device);
    QVERIFY(printer);
    device->setUpdateFault(sim::UpdateFault::ReturnWithoutUpdateMode);
    agreeAndConfirm();
    printer->updateFirmware();
    QVERIFY(PrinterTestRig::waitFor([&] { return log.contains(QStringLiteral("Bad Status (00000) while waiting for firmware update")); }));
    auto back = current(device);
    QVERIFY(back && back != printer);
    PrinterTestRig::settle(back);
    QCOMPARE(stageOf(back).toInt(), 1);
    QVERIFY(back->inFirmwareUpdate());
    QCOMPARE(commands(updateFrames(*device)), QStringList{QStringLiteral("FW_UPDFLASH_REWRITE")});
    QCOMPARE(back->deviceInfoDict()->string(QStringLiteral("firmwareVersionPrevious")), QStringLiteral("KTC 04.21"));
  }

  // Stages found at attach: the VLA loader's intermediate version keeps stage 2 for the next
  // attach; a stage of 0 closes the update like 3.
  void stagesAtAttach() {
    LogCapture log;
    std::shared_ptr<sim::VirtualPrinter> device;
    sim::VirtualPrinterConfig config;
    config.model = Model::VLA;
    auto printer = attachReady(config, &device);
    QVERIFY(printer);
    printer->deviceInfoDict()->setValue(kStageKey, 2);
    device->setFirmwareVersion(QStringLiteral("VLA_ALLFWU_2.05"));
    for (int attach = 1; attach <= 2; ++attach) {
      log.clear();
      device->powerCycle();
      QVERIFY(PrinterTestRig::waitFor([&] { auto p = current(device); return p && p != printer; }));
      printer = current(device);
      QVERIFY(PrinterTestRig::waitFor([&] { return log.contains(QStringLiteral("found a device rebooting after firmware update")); }));
      PrinterTestRig::settle(printer);
      QCOMPARE(stageOf(printer).toInt(), 2);
      QVERIFY(printer->inFirmwareUpdate());
    }
    QVERIFY(updateFrames(*device).empty());

    printer->deviceInfoDict()->setValue(kStageKey, 0);
    device->powerCycle();
    QVERIFY(PrinterTestRig::waitFor([&] { auto p = current(device); return p && p != printer; }));
    printer = current(device);
    QVERIFY(PrinterTestRig::waitFor([&] { return log.contains(QStringLiteral("found a device finished with firmware update")); }));
    PrinterTestRig::settle(printer);
    QVERIFY(!stageOf(printer).isValid());
    QTRY_VERIFY(!printer->inFirmwareUpdate());
    QCOMPARE(rig_->alerts().count(), 0);
  }

  // The printer leaves during the upload and stays away: the user is told after the bound; when
  // it is switched on again it is still in its loader, gets the image again and finishes.
  void powerLossDuringUpload() {
    pm::UpdateReturnWatch::setTimeoutMs(400);
    std::shared_ptr<sim::VirtualPrinter> device;
    sim::VirtualPrinterConfig config;
    config.model = Model::PZA;
    auto printer = attachReady(config, &device);
    QVERIFY(printer);
    device->setUpdateFault(sim::UpdateFault::PowerLossDuringUpload);
    agreeAndConfirm();
    printer->updateFirmware();
    QVERIFY(waitForAlert(kNotBackTitle));
    QVERIFY(lastAlert().message.contains(QLatin1String("The new firmware was sent to the printer")));
    QVERIFY(!device->device()->isAttached());
    QCOMPARE(rig_->alerts().titles(), (QStringList{kWarningTitle, kConfirmTitle, kNotBackTitle}));

    device->setUpdateFault(sim::UpdateFault::None);
    device->powerCycle();
    QVERIFY(waitForAlert(kSuccessTitle, 30000));
    QCOMPARE(lastAlert().message, QStringLiteral("Firmware version updated from PZA 01.00 to PZA 01.10"));
    const QStringList sent = commands(updateFrames(*device));
    QCOMPARE(sent.count(QStringLiteral("FW_UPDFLASH_PROGRAM")), 2);
    QCOMPARE(device->firmwareVersion(), QStringLiteral("PZA 01.10"));
  }

  void printerThatNeverComesBackAfterTheRewrite() {
    pm::UpdateReturnWatch::setTimeoutMs(400);
    std::shared_ptr<sim::VirtualPrinter> device;
    sim::VirtualPrinterConfig config;
    config.model = Model::KTB;
    auto printer = attachReady(config, &device);
    QVERIFY(printer);
    device->setUpdateFault(sim::UpdateFault::NeverReturnAfterRestart);
    agreeAndConfirm();
    printer->updateFirmware();
    QVERIFY(waitForAlert(kNotBackTitle));
    QVERIFY(lastAlert().message.contains(QLatin1String("asked to restart into its firmware update mode")));
    // Switched on again, it carries on from its stage.
    device->setUpdateFault(sim::UpdateFault::None);
    device->powerCycle();
    QVERIFY(waitForAlert(kSuccessTitle, 30000));
    QCOMPARE(rig_->alerts().count(), 4);
  }

  void tamperedArchiveRefusesTheUpdate() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("firmware")));
    const QString name = QStringLiteral("KTD 01.21.fw");
    QByteArray bytes = archiveFile(name);
    bytes[100] = bytes[100] == 'A' ? 'B' : 'A';
    QFile file(dir.filePath(QStringLiteral("firmware/") + name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();

    std::shared_ptr<sim::VirtualPrinter> device;
    sim::VirtualPrinterConfig config;
    config.model = Model::KTD;
    auto printer = attachReady(config, &device);
    QVERIFY(printer);
    pm::setResourceDirectory(dir.path());
    printer->updateFirmware();
    QVERIFY(waitForAlert(QStringLiteral("-- File corruption --\n\nThere is a problem with the firmware files.")));
    QCOMPARE(lastAlert().buttons, QStringList{QStringLiteral("Quit")});
    QTRY_COMPARE(rig_->application().terminations(), 1);
    QVERIFY(printer->firmwareFilenames().isEmpty());
    QVERIFY(updateFrames(*device).empty());
  }

  // A colour table that cannot be read is left out and does not count; with none left the
  // update reports a problem.
  void unreadableColorTablesAreSkipped() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("firmware")));
    const QString firmware = QStringLiteral("KTA 01.61.fw");
    QVERIFY(QFile::copy(pm::FirmwareArchive::resourcePathForArchiveFile(firmware),
                        dir.filePath(QStringLiteral("firmware/") + firmware)));
    pm::setResourceDirectory(dir.path());

    LogCapture log;
    std::shared_ptr<sim::VirtualPrinter> device;
    sim::VirtualPrinterConfig config;
    config.model = Model::KTA;
    auto printer = attachReady(config, &device);
    QVERIFY(printer);
    agreeAndConfirm();
    printer->updateFirmware();
    QVERIFY(waitForAlert(kProblemTitle, 30000));
    QCOMPARE(lastAlert().message, QStringLiteral("Previous firmware version: KTA 01.50 current version: KTA 01.61"));
    QCOMPARE(commands(updateFrames(*device)),
             (QStringList{QStringLiteral("FW_UPDFLASH_REWRITE"), QStringLiteral("FW_UPDFLASH_PROGRAM"), QStringLiteral("TBL_CL")}));
    QVERIFY(log.contains(QStringLiteral("skipping color table KTA_300_0161.cwd")));
    QCOMPARE(stageOf(current(device)).toInt(), 3);
  }

  // The poll keeps the main queue free between rounds and ends once its printer has gone.
  void statusPoll() {
    std::shared_ptr<sim::VirtualPrinter> device;
    sim::VirtualPrinterConfig config;
    config.model = Model::PZA;
    auto printer = attachReady(config, &device);
    QVERIFY(printer);
    device->setStatusSequence({QStringLiteral("01000"), QStringLiteral("01000"), QStringLiteral("01000"),
                               QStringLiteral("00000")});
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(20);
    printer->waitForPrinterStatusCode(QStringLiteral("00000"));
    QTRY_COMPARE_WITH_TIMEOUT(device->frameSummaries().size(), 4, 10000);
    QVERIFY2(ticks >= 30, qPrintable(QString::number(ticks)));  // 1.5 s of rounds, ticking throughout
    QTRY_COMPARE(printer->printerStatus(), QStringLiteral("Idle"));
    QTest::qWait(700);
    QCOMPARE(device->frameSummaries().size(), 4);

    // A poll that never sees its code ends when the printer goes, and lets the object go.
    device->setStatusSequence({QStringLiteral("01000")});
    std::weak_ptr<TBUSBPrinterOLM> weak = printer;
    printer->waitForPrinterStatusCode(QStringLiteral("00000"));
    printer.reset();
    QTest::qWait(600);
    device->device()->detach();
    QVERIFY(PrinterTestRig::waitFor([&] { return weak.expired(); }, 5000));
  }

  void alertRoutine() {
    std::shared_ptr<sim::VirtualPrinter> device;
    sim::VirtualPrinterConfig config;
    config.model = Model::PZA;
    auto printer = attachReady(config, &device);
    QVERIFY(printer);
    bool answered = false;
    printer->showCustomAlert({}, {}, {}, false, pm::AlertStyle::Warning, nullptr,
                             [&answered](const pm::AlertAnswer&) { answered = true; });
    printer->showAlert({}, {}, {}, [&answered](int) { answered = true; });
    QTRY_VERIFY(answered);
    QCOMPARE(rig_->alerts().count(), 1);
    const pm::AlertRequest alert = lastAlert();
    QCOMPARE(alert.title, QStringLiteral("Alert"));
    QCOMPARE(alert.message, QString());
    QCOMPARE(alert.buttons, QStringList{QStringLiteral("OK")});
    QCOMPARE(alert.icon, printer->image());

    // A new warning starts unticked, whatever the last one was.
    printer->setToggleAgreed(true);
    QSignalSpy changes(printer.get(), &TBUSBPrinter::propertyChanged);
    rig_->alerts().setHoldAnswers(true);
    printer->showFirmwareUpdateWarning();
    QVERIFY(!printer->customerDidAgree());
    QVERIFY(changes.contains(QVariantList{QStringLiteral("customerDidAgree")}));
    rig_->alerts().setHoldAnswers(false);
  }
};

QTEST_GUILESS_MAIN(UpdateEndToEndTest)
#include "update_e2e_unittest.moc"
