// The firmware update from the user's request to the final report, against virtual printers that
// restart into update mode and back: the frames each model receives, the stages across the
// restarts, the rules and alerts before the update, and the faults on the way.

#include <optional>

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "olm/update/FirmwareArchive.h"
#include "olm/update/UpdateJournal.h"
#include "olm/update/UpdateReturnWatch.h"
#include "support/Resources.h"
#include "tests/common/LogCapture.h"
#include "tests/common/PrinterTestRig.h"
#include "tests/common/TestFiles.h"

using sim::Model;
using Printer = std::shared_ptr<TBUSBPrinterOLM>;

namespace {

const QString kStageKey = QStringLiteral("deviceFirmwareStatus");
const QString kWarning = QStringLiteral("Attention:");
const QString kConfirm = QStringLiteral("-- Warning --\n\nAre you certain you want to update the firmware?");
const QString kSuccess = QStringLiteral("Firmware update was successful!");
const QString kNotBack = QStringLiteral("The printer has not come back");
const QString kNotReady = QStringLiteral("Printer Not Ready");
const QString kProblem = QStringLiteral("There was a problem with the firmware update!");

QByteArray archiveFile(const QString& name) {
  return pm::FirmwareArchive::readArchiveFile(name).value_or(QByteArray());
}

QVariant stageOf(const Printer& printer) {
  return printer ? printer->deviceInfoDict()->value(kStageKey) : QVariant();
}

}  // namespace

class UpdateEndToEndTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<PrinterTestRig> rig_;
  std::shared_ptr<sim::VirtualPrinter> device_;
  Printer printer_;
  QTemporaryDir resources_;
  std::optional<ScopedEnv> resourceDir_;  // points the look-up at resources_ while set
  QTemporaryDir settingsDir_;

  // Attaches a printer and waits until its first reads are done (its firmware version is known).
  bool attach(Model model, const QString& firmware = {}) {
    printer_ = rig_->attachAndWait({.model = model, .firmwareVersion = firmware}, &device_);
    if (!printer_ || !PrinterTestRig::waitFor([this] { return !printer_->firmwareVersion().isEmpty(); }))
      return false;
    PrinterTestRig::settle(printer_);
    device_->clearFrames();
    return true;
  }

  // The printer object that stands for the device now (a new one after each restart).
  Printer current() { return rig_->printerFor(*device_); }
  Printer restartedFrom(const Printer& before) {
    PrinterTestRig::waitFor([&] {
      auto p = current();
      return p && p != before;
    });
    return current();
  }

  bool waitForAlert(const QString& title, int timeoutMs = 30000) {
    return PrinterTestRig::waitFor([&] { return rig_->alerts().titles().contains(title); }, timeoutMs);
  }
  pm::AlertRequest lastAlert() const { return rig_->alerts().requests().back(); }
  // The last alert's message followed by its buttons.
  QStringList lastAlertText() const { return QStringList{lastAlert().message} + lastAlert().buttons; }

  // Starts the update with these answers queued (the first one ticks "I Agree").
  void start(const QList<int>& answers = {1001, 1001}) {
    for (qsizetype i = 0; i < answers.size(); ++i) rig_->alerts().queueAnswer(answers[i], i == 0);
    printer_->update().updateFirmware();
  }
  // Starts it afresh (earlier alerts forgotten) and waits for the alert titled `title`.
  bool update(const QList<int>& answers, const QString& title) {
    rig_->alerts().clear();
    start(answers);
    return waitForAlert(title);
  }

  // Runs the readiness checks before the update with these answers queued (earlier alerts forgotten).
  void proceed(const QList<int>& answers) {
    rig_->alerts().clear();
    for (int answer : answers) rig_->alerts().queueAnswer(answer);
    printer_->update().proceedWithUpdateWhenReady();
  }

  // Nothing of the update reached the printer and nothing of it is recorded.
  void verifyUntouched() {
    PrinterTestRig::settle(printer_);
    QVERIFY(!stageOf(printer_).isValid());
    QVERIFY(!printer_->inFirmwareUpdate());
    QVERIFY(updateFrames(*device_).empty());
  }

  // Makes the resources hold only `files` of the archive; `tamper` flips one byte of the first.
  void useOnly(const QStringList& files, bool tamper) {
    QVERIFY(QDir(resources_.path()).mkpath(QStringLiteral("firmware")));
    for (const QString& name : files) {
      QByteArray bytes = archiveFile(name);
      if (tamper && name == files.first()) bytes[100] = bytes[100] == 'A' ? 'B' : 'A';
      QVERIFY(writeFile(resources_.filePath(QStringLiteral("firmware/") + name), bytes));
    }
    resourceDir_.emplace("PM_RESOURCE_DIR", resources_.path().toLocal8Bit());
  }

 private slots:
  void initTestCase() { useTemporarySettings(settingsDir_); }
  void init() {
    QSettings().clear();
    pm::UpdateReturnWatch::setTimeoutMs(90000);
    rig_ = std::make_unique<PrinterTestRig>();
  }
  void cleanup() {
    printer_.reset();
    device_.reset();
    rig_.reset();
    QSettings().clear();
    resourceDir_.reset();
  }

  void fullUpdateOfEachModel_data() {
    QTest::addColumn<Model>("model");
    for (const Model model : sim::kAllModels) QTest::newRow(qPrintable(sim::modelName(model))) << model;
  }

  // The archive's files are changed once the update is under way: the printer gets the bytes
  // checked at the start all the same.
  void fullUpdateOfEachModel() {
    QFETCH(Model, model);
    LogCapture log;
    const QStringList files =
        pm::FirmwareArchive::archiveForProductID(sim::traitsOf(model).productId)->fileNames;
    useOnly(files, false);
    QVERIFY(attach(model));
    const QString stem = files.first().chopped(3);

    start();
    QVERIFY(PrinterTestRig::waitFor([&] { return !updateFrames(*device_).empty(); }));
    for (const QString& name : files)
      QVERIFY(writeFile(resources_.filePath(QStringLiteral("firmware/") + name), "S00600004844521B\n"));
    QVERIFY(waitForAlert(kSuccess));
    resourceDir_.reset();  // the shipped files again, to compare with
    QCOMPARE(rig_->alerts().titles(), (QStringList{kWarning, kConfirm, kSuccess}));
    QCOMPARE(lastAlert().buttons, QStringList{QStringLiteral("Finish")});

    // The printer saw exactly the update's commands, in order, with the archive's bytes.
    const std::vector<sim::ReceivedFrame> frames = updateFrames(*device_);
    QStringList expected{QStringLiteral("FW_UPDFLASH_REWRITE"), QStringLiteral("FW_UPDFLASH_PROGRAM"),
                         QStringLiteral("TBL_CL")};
    for (int i = 1; i < files.size(); ++i)
      expected << QStringLiteral("TBL_WTVersion") << QStringLiteral("TBL_WTCTRLD_UPDATE_CW");
    QCOMPARE(commandsOf(frames), expected);
    QVERIFY(frames[0].payload.isEmpty() && frames[2].payload.isEmpty());
    QVERIFY(frames[1].payload == pm::FirmwareArchive::paddedData(archiveFile(files.first())));
    for (int i = 1; i < files.size(); ++i) {
      QCOMPARE(frames[size_t(2 * i + 1)].payload,
               pm::FirmwareArchive::paddedData(files[i].toUpper().toLatin1()));
      QVERIFY(frames[size_t(2 * i + 2)].payload == archiveFile(files[i]));  // as shipped, not padded
    }
    // The requests without a payload leave the length field blank.
    for (const sim::ReceivedFrame& frame : frames)
      if (frame.payload.isEmpty()) QCOMPARE(frame.lengthField, QByteArray(8, ' '));
    QVERIFY2(device_->lastTableProblem().isEmpty(), qPrintable(device_->lastTableProblem()));
    // Every dialog named the printer; the verified end cleared the update's record.
    for (const pm::AlertRequest& alert : rig_->alerts().requests())
      QCOMPARE(alert.printerName, QStringLiteral("%1 SIM0001").arg(sim::modelName(model)));
    QVERIFY(pm::UpdateJournal::records().isEmpty());

    // The status was read before the rewrite request, the version before the upload.
    const QStringList all = commandsOf(device_->frames());
    const qsizetype rewrite = all.indexOf(QStringLiteral("FW_UPDFLASH_REWRITE"));
    QCOMPARE(all.value(rewrite - 1), QStringLiteral("STATUS"));
    const qsizetype versionRead = all.indexOf(QStringLiteral("INFO  FVER"), rewrite);
    QVERIFY(versionRead > rewrite && versionRead < all.indexOf(QStringLiteral("FW_UPDFLASH_PROGRAM")));

    auto finished = current();
    QCOMPARE(stageOf(finished).toInt(), 3);  // no printer object: no stage
    // The next attach closes the update.
    device_->powerCycle();
    auto after = restartedFrom(finished);
    QVERIFY(PrinterTestRig::waitFor([&] { return !stageOf(after).isValid(); }));
    QVERIFY(log.contains(QStringLiteral("found a device finished with firmware update")));
    QTRY_COMPARE(after->firmwareVersion(), stem);
    QVERIFY(!after->inFirmwareUpdate());
    QCOMPARE(rig_->alerts().count(), 3);
  }

  void vlaRules_data() {
    QTest::addColumn<QString>("installed");
    QTest::addColumn<QString>("messageStart");
    QTest::addColumn<bool>("mediaSentence");
    QTest::newRow("1.90: prerequisite only")
        << "01.90"
        << "Before updating the VLA firmware to version 2.21 you must first update to firmware version 2.0x "
           "(or 2.1x).\n\n(the current firmware version is 1.90)"
        << false;
    QTest::newRow("2.00: VLA warning")
        << "02.00"
        << "This update tool is for the OLM VLA printer. It will upgrade the printer to " << true;
    QTest::newRow("2.03: VLA warning") << "02.03"
                                       << "This update tool is for the OLM VLA printer." << true;
    QTest::newRow("2.04: generic warning") << "02.04"
                                           << "This update tool will upgrade the printer firmware to version "
                                              "KT-VLA 02.21. This process cannot be undone"
                                           << false;
  }

  // Only "Quit" before the prerequisite; the answer (1000: "Quit") ends the application.
  void vlaRules() {
    QFETCH(QString, installed);
    QFETCH(QString, messageStart);
    QFETCH(bool, mediaSentence);
    QVERIFY(attach(Model::VLA, installed));
    QVERIFY(update({}, kWarning));
    const pm::AlertRequest alert = lastAlert();
    QVERIFY2(alert.message.startsWith(messageStart), qPrintable(alert.message));
    const bool prerequisite = installed == QLatin1String("01.90");
    QCOMPARE(alert.buttons.size(), prerequisite ? 1 : 2);
    QCOMPARE(alert.agreeCheckBox, !prerequisite);
    QCOMPARE(alert.style, pm::AlertStyle::Critical);
    QCOMPARE(
        alert.message.contains(QLatin1String(" Please use up all VLA media before using this update tool.")),
        mediaSentence);
    QTRY_COMPARE(rig_->application().terminations(), 1);
    verifyUntouched();
  }

  // Newer installed: nothing to do, unless the preference allows the downgrade; equal versions
  // pass without it. The warnings never call an older or the same version an upgrade. "Cancel"
  // at the confirmation leaves no trace.
  void versionRuleAndPreference() {
    QVERIFY(attach(Model::PZA, QStringLiteral("01.20")));
    QVERIFY(update({1001}, QStringLiteral("Firmware update not needed")));
    QCOMPARE(lastAlert().message, QStringLiteral("This printer has firmware version 1.20 installed."));
    QVERIFY(rig_->alerts().requests().front().message.startsWith(QStringLiteral(
        "This printer has firmware version PZA 01.20, newer than PZA 01.10. This update tool would install "
        "the older version PZA 01.10.")));
    // Written by hand as text, "no" is no.
    QSettings().setValue(QStringLiteral("installOlderFirmwareVersion"), QStringLiteral("no"));
    QVERIFY(update({1001}, QStringLiteral("Firmware update not needed")));
    QSettings().setValue(QStringLiteral("installOlderFirmwareVersion"), true);
    QVERIFY(update({1001}, kConfirm));
    QCOMPARE(lastAlert().buttons,
             (QStringList{QStringLiteral("Cancel"), QStringLiteral("Install Older Firmware PZA 01.10")}));

    QSettings().clear();
    device_->setFirmwareVersion(QStringLiteral("PZA 01.10"));
    printer_->properties().getPrinterFirmwareVersion();
    QTRY_COMPARE(printer_->firmwareVersion(), QStringLiteral("PZA 01.10"));
    QVERIFY(update({1001}, kConfirm));
    QVERIFY(rig_->alerts().requests().front().message.startsWith(
        QStringLiteral("This printer already has firmware version PZA 01.10. This update tool would "
                       "reinstall the same version.")));
    QCOMPARE(lastAlert().buttons.last(), QStringLiteral("Reinstall Firmware PZA 01.10"));
    verifyUntouched();
    QCOMPARE(rig_->application().terminations(), 0);
  }

  // Not ready: the alert names the status. Codes that only look ready are not; Wrong Paper and
  // System Fail Error count as ready; "Proceed" (1000) retries the checks. Each ends in "Cancel".
  // (That a busy printer shows "In use by other application" is the fault matrix's.)
  void readinessAlerts() {
    QVERIFY(attach(Model::KTD));
    const struct {
      QStringList codes;
      QList<int> answers;
      QStringList titles;
    } rows[] = {
        {{"01000"}, {1001}, {kNotReady}}, {{"0"}, {1001}, {kNotReady}},
        {{"00500"}, {1001}, {kNotReady}}, {{"01500"}, {1000}, {kConfirm}},
        {{"03000"}, {1000}, {kConfirm}},  {{"01100", "00000"}, {1000, 1000}, {kNotReady, kConfirm}},
    };
    for (const auto& row : rows) {
      device_->setStatusSequence(row.codes);
      proceed(row.answers);
      QVERIFY2(waitForAlert(row.titles.last()), qPrintable(row.codes.first()));
      PrinterTestRig::settle(printer_);  // its one outcome lands before the next begins
      QCOMPARE(rig_->alerts().titles(), row.titles);
      if (row.codes.first() == QLatin1String("01000"))
        QCOMPARE(lastAlertText(),
                 (QStringList{QStringLiteral("Please correct the following issue: Cover Open"),
                              QStringLiteral("Proceed"), QStringLiteral("Cancel")}));
    }
    // Printing once confirmed: the test again right before the rewrite request stops it.
    device_->setStatusSequence({QStringLiteral("00000"), QStringLiteral("00001")});
    QVERIFY(update({1001, 1001}, QStringLiteral("Printer Busy")));
    QVERIFY2(lastAlert().message.contains(QLatin1String("not idle (Printing)")),
             qPrintable(lastAlert().message));
    verifyUntouched();
    device_->setStatusSequence({QStringLiteral("00000")});

    // While the confirmation stands open the printer is kept; its answer gives it back.
    printer_->setIdleReleaseDelay(50);
    rig_->alerts().setHoldAnswers(true);
    proceed({});
    QVERIFY(waitForAlert(kConfirm));
    QTest::qWait(300);
    QVERIFY(device_->device()->isOpen());
    rig_->alerts().setHoldAnswers(false);  // "Cancel"
    QTRY_VERIFY(!device_->device()->isOpen());
    printer_->setIdleReleaseDelay(usb::InterfaceAccess::kDefaultIdleReleaseMs);

    // A status read without a reply, then an open that fails: "Printer Error" each time.
    device_->injectReplyFault(sim::ReplyFault::NoReply, 1);
    proceed({1001});  // "Cancel"
    QVERIFY(waitForAlert(QStringLiteral("Printer Error")));
    device_->device()->setOpenResult(kIOReturnNoDevice);
    printer_->closeInterface(nullptr);
    PrinterTestRig::settle(printer_);
    proceed({1001});
    QVERIFY(waitForAlert(QStringLiteral("Printer Error")));
    device_->device()->setOpenResult(kIOReturnSuccess);
    verifyUntouched();

    // One another program holds answers at once, naming the printer: "Proceed" tries again,
    // "Cancel" ends in words on the status line.
    device_->setHeldByOtherProgram(true);
    proceed({1000, 1001});  // "Proceed" while held, "Cancel"
    QTRY_COMPARE(
        rig_->application().statuses(),
        QStringList{
            QStringLiteral("The firmware of %1 was not updated: the printer is in use by another program.")
                .arg(printer_->printerName())});
    QCOMPARE(rig_->alerts().titles(),
             (QStringList{QStringLiteral("Printer Busy"), QStringLiteral("Printer Busy")}));
    QCOMPARE(lastAlert().printerName, printer_->printerName());
    device_->setHeldByOtherProgram(false);
    proceed({1000});  // "Cancel" at the confirmation
    QVERIFY(waitForAlert(kConfirm));
  }

  // A printer waiting in update mode that this process did not put there (it powers on in its
  // loader, which reports the serial number "0"): the prompt, then the upload or the power-cycle
  // request. The upload's update goes on with the printer that returns, tables and all.
  void unexpectedUpdateModePrompt() {
    // A printer that keeps returning in its loader while the prompt is open gets one prompt.
    rig_->alerts().setHoldAnswers(true);
    device_ = rig_->attach({.model = Model::KTA, .inLoader = true, .loaderSerial = QStringLiteral("0")});
    QVERIFY(waitForAlert(kWarning));
    device_->powerCycle();
    QVERIFY(PrinterTestRig::waitFor([&] {
      auto p = current();
      return p && PrinterTestRig::settle(p) && rig_->alerts().count() > 0;
    }));
    QTest::qWait(100);
    QCOMPARE(rig_->alerts().count(), 1);
    rig_->alerts().setHoldAnswers(false);  // answered "Ignore"
    QVERIFY(waitForAlert(QStringLiteral("Please power-cycle this printer")));
    PrinterTestRig::settle(current());
    QVERIFY(device_->inUpdateMode());
    QVERIFY(updateFrames(*device_).empty());
    rig_->alerts().clear();

    rig_->alerts().queueAnswer(1001);
    device_->powerCycle();
    QVERIFY(waitForAlert(kWarning));
    QCOMPARE(lastAlertText(),
             (QStringList{QStringLiteral("A printer was unexpectedly found in firmware update mode. Would "
                                         "you like to update the firmware? "),
                          QStringLiteral("Ignore"), QStringLiteral("Update Firmware")}));
    QVERIFY(waitForAlert(kSuccess));
    // No previous version was recorded by this process.
    QCOMPARE(lastAlert().message, QStringLiteral("Firmware version updated from (null) to KTA 01.61"));
    QCOMPARE(commandsOf(updateFrames(*device_)).first(), QStringLiteral("FW_UPDFLASH_PROGRAM"));
    QCOMPARE(commandsOf(updateFrames(*device_)).count(QStringLiteral("TBL_WTCTRLD_UPDATE_CW")),
             device_->colorTables().size());
    QVERIFY(pm::UpdateJournal::records().isEmpty());
  }

  // The printer comes back from a restart, but not as the update needs it, or does not take a
  // colour table (its pipe stalls, or it takes the bytes and reports the table erased): each ends
  // in words, naming the printer, with the window showing no phase. Before the tables the printer's
  // own firmware and tables are left alone and the update is closed; a table not taken is no
  // success and keeps the stage at 2 with every table still to write (the matrix sees them written
  // on return).
  void updateFails_data() {
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("told");
    QTest::addColumn<int>("uploads");
    QTest::addColumn<int>("stage");  // where the update stays; 0: closed
    QTest::newRow("not in update mode") << int(sim::UpdateFault::ReturnWithoutUpdateMode) << kProblem
                                        << "restarted without entering its firmware update mode" << 0 << 0;
    QTest::newRow("old firmware") << int(sim::UpdateFault::KeepOldFirmware) << kProblem
                                  << "restarted without the new firmware KTC 04.31" << 1 << 0;
    QTest::newRow("loader loop") << int(sim::UpdateFault::StayInLoader) << kProblem << "3 times" << 3 << 0;
    QTest::newRow("no restart") << int(sim::UpdateFault::IgnoreRewrite) << kNotBack
                                << "asked to restart into its firmware update mode" << 0 << 0;
    QTest::newRow("table pipe stalls")
        << int(sim::UpdateFault::StallTableData) << kProblem << "stopped taking the colour tables" << 1 << 2;
    QTest::newRow("table data refused")
        << int(sim::UpdateFault::RefuseTableData) << kProblem
        << "did not take the colour tables KTC_SD_300_0111.cwd (it reports version 0000), " << 1 << 2;
  }

  void updateFails() {
    QFETCH(int, fault);
    QFETCH(QString, title);
    QFETCH(QString, told);
    QFETCH(int, uploads);
    QFETCH(int, stage);
    pm::UpdateReturnWatch::setTimeoutMs(400);
    QVERIFY(attach(Model::KTC));
    device_->setUpdateFault(sim::UpdateFault(fault));
    QVERIFY(update({1001, 1001}, title));
    QVERIFY2(lastAlert().message.contains(told), qPrintable(lastAlert().message));
    QCOMPARE(lastAlert().printerName, QStringLiteral("KTC SIM0001"));
    const QStringList sent = commandsOf(updateFrames(*device_));
    QCOMPARE(sent.count(QStringLiteral("FW_UPDFLASH_PROGRAM")), uploads);
    QCOMPARE(sent.contains(QStringLiteral("TBL_CL")), stage == 2);
    auto back = current();
    QVERIFY(back);
    QTRY_VERIFY(!back->inFirmwareUpdate());
    if (title == kNotBack) return;  // the printer may still restart: its record stays
    PrinterTestRig::settle(back);
    QCOMPARE(stageOf(back).isValid(), stage != 0);
    QCOMPARE(stageOf(back).toInt(), stage);
    QCOMPARE(pm::UpdateJournal::records().size(), stage == 0 ? 0 : 1);
    if (stage == 2)
      QCOMPARE(pm::UpdateJournal::records().value(0).tablesToWrite.size(), device_->colorTables().size());
    if (fault != int(sim::UpdateFault::RefuseTableData)) return;
    // Written again at each return, as uploads are: the third round is the last.
    for (int round = 2; round <= 3; ++round) {
      rig_->alerts().clear();
      device_->powerCycle();
      QVERIFY(waitForAlert(title));
    }
    rig_->alerts().clear();
    device_->powerCycle();
    QVERIFY(waitForAlert(title));
    QVERIFY2(lastAlert().message.contains(QLatin1String("sent to KTC SIM0001 3 times")),
             qPrintable(lastAlert().message));
    QTRY_VERIFY(pm::UpdateJournal::records().isEmpty());
  }

  // Printers that say what they did in their own way end in success with every table written: a
  // table's version read as the name it was sent, or late after each table; the firmware version
  // written short, or late after every restart; a loader whose serial number is "0", also when the
  // next process finds it after a power loss during the upload. (A version positively reported
  // otherwise ends the update: updateFails.)
  void printersThatSayItTheirWay_data() {
    using Form = sim::VirtualPrinterConfig::TableVersionForm;
    QTest::addColumn<int>("form");
    QTest::addColumn<bool>("shortVersion");
    QTest::addColumn<QString>("late");
    QTest::addColumn<QString>("loaderSerial");
    QTest::addColumn<bool>("killedInUpload");
    QTest::newRow("table version as its name") << int(Form::Name) << false << QString() << QString() << false;
    QTest::newRow("table version late")
        << int(Form::LateAfterWrite) << false << QString() << QString() << false;
    QTest::newRow("firmware version short") << int(Form::Digits) << true << QString() << QString() << false;
    QTest::newRow("firmware version late") << int(Form::Digits) << false << "FVER" << QString() << false;
    QTest::newRow("loader serial 0") << int(Form::Digits) << false << QString() << "0" << false;
    QTest::newRow("loader serial 0, next process") << int(Form::Digits) << false << QString() << "0" << true;
  }

  void printersThatSayItTheirWay() {
    QFETCH(int, form);
    QFETCH(bool, shortVersion);
    QFETCH(QString, late);
    QFETCH(QString, loaderSerial);
    QFETCH(bool, killedInUpload);
    printer_ = rig_->attachAndWait({.model = Model::PZA,
                                    .lateReplies = late,
                                    .tableVersionForm = sim::VirtualPrinterConfig::TableVersionForm(form),
                                    .shortFirmwareVersion = shortVersion,
                                    .loaderSerial = loaderSerial},
                                   &device_);
    QVERIFY(printer_ && PrinterTestRig::settle(printer_));
    if (killedInUpload) device_->setUpdateFault(sim::UpdateFault::PowerLossDuringUpload);
    start();
    if (killedInUpload) {
      QVERIFY(PrinterTestRig::waitFor(
          [&] { return !device_->device()->isAttached() && updateFrames(*device_).size() == 2; }, 10000));
      PrinterTestRig::restartApplication();
      device_->setUpdateFault(sim::UpdateFault::None);
      device_->powerCycle();
    }
    QVERIFY(waitForAlert(kSuccess, 60000));
    const QStringList sent = commandsOf(updateFrames(*device_));
    QCOMPARE(
        sent.mid(sent.lastIndexOf(QStringLiteral("TBL_CL"))).count(QStringLiteral("TBL_WTCTRLD_UPDATE_CW")),
        device_->colorTables().size());
    for (const sim::ColorTable& table : device_->colorTables())
      QCOMPARE_NE(table.version, QStringLiteral("0000"));
    QCOMPARE(sent.count(QStringLiteral("FW_UPDFLASH_PROGRAM")), killedInUpload ? 2 : 1);
    QTRY_VERIFY(pm::UpdateJournal::records().isEmpty());
  }

  // A different printer of the model at the port of an unfinished update: the user is told, naming
  // both; it gets no update command, and "Quit" in its dialogs asks first. The printer, back,
  // finishes its update.
  void anotherPrinterAtThePort() {
    QVERIFY(attach(Model::PZA));
    const uint32_t port = printer_->locationID();
    device_->setUpdateFault(sim::UpdateFault::PowerLossDuringUpload);
    start();
    QVERIFY(PrinterTestRig::waitFor(
        [&] { return !device_->device()->isAttached() && updateFrames(*device_).size() == 2; }, 10000));

    std::shared_ptr<sim::VirtualPrinter> strangerDevice;
    auto stranger = rig_->attachAndWait(
        {.model = Model::PZA, .serialNumber = QStringLiteral("OTHER42"), .locationId = port},
        &strangerDevice);
    QVERIFY(stranger);
    QVERIFY(waitForAlert(QStringLiteral("The firmware update is not finished")));
    QVERIFY(lastAlert().message.contains(QLatin1String("PZA SIM0001")));
    QVERIFY(lastAlert().message.contains(QLatin1String("PZA OTHER42")));
    QTRY_VERIFY(!stranger->firmwareVersion().isEmpty());
    QVERIFY(PrinterTestRig::settle(stranger) && !stranger->inFirmwareUpdate());

    // "Quit" in the stranger's warning asks first (the question's text and answers are the main
    // window's).
    rig_->alerts().clear();
    rig_->alerts().queueAnswer(1000);  // "Quit"
    rig_->alerts().queueAnswer(1000);  // "Keep Running"
    stranger->update().updateFirmware();
    QVERIFY(waitForAlert(QStringLiteral("A firmware update is not finished")));
    PrinterTestRig::settle(stranger);
    QVERIFY(updateFrames(*strangerDevice).empty());
    strangerDevice->device()->detach();
    device_->setUpdateFault(sim::UpdateFault::None);
    device_->powerCycle();
    QVERIFY(waitForAlert(kSuccess));
  }

  // What the next process and the next attach make of an update: a corrupt or foreign state file
  // of an earlier version is ignored; the VLA loader's intermediate version keeps stage 2. (Carrying an update across an
  // application restart while the printer is away is the fault matrix's: it restarts the
  // application at every other unplug of the update and sees the update finish once back.)
  void stagesAtAttach() {
    LogCapture log;
    for (const QByteArray& garbage :
         {QByteArray("{\"format\": 1"), QByteArray("{\"format\":\"other\",\"version\":1}"),
          QByteArray("{\"format\":\"printer-maintenance firmware updates\",\"version\":1,"
                     "\"updates\":[{\"stage\":7}, 3]}")}) {
      QVERIFY(writeFile(
          QFileInfo(pm::UpdateJournal::filePath()).dir().filePath(QStringLiteral("updates.json")), garbage));
      PrinterTestRig::restartApplication();
      QVERIFY(pm::UpdateJournal::records().isEmpty());
    }
    QCOMPARE(log.count(QStringLiteral("ignoring the firmware update state file")), 4);

    QVERIFY(attach(Model::VLA));
    Printer printer = printer_;
    printer->deviceInfoDict()->setValue(kStageKey, 2);
    pm::UpdateRecord record;
    record.serialNumber = QStringLiteral("SIM0001");
    record.deviceKey = printer->keyUSBdevice();
    record.productID = printer->productID();
    record.targetVersion = QStringLiteral("KT-VLA 02.21");
    record.stage = pm::UpdateStage::ImageSent;
    pm::UpdateJournal::put(record);
    device_->setFirmwareVersion(QStringLiteral("VLA_ALLFWU_2.05"));
    for (int attach = 1; attach <= 2; ++attach) {
      log.clear();
      device_->powerCycle();
      printer = restartedFrom(printer);
      QVERIFY(PrinterTestRig::waitFor(
          [&] { return log.contains(QStringLiteral("found a device rebooting after firmware update")); }));
      PrinterTestRig::settle(printer);
      QCOMPARE(stageOf(printer).toInt(), 2);
      QVERIFY(printer->inFirmwareUpdate());
    }
    QVERIFY(updateFrames(*device_).empty());
    QCOMPARE(rig_->alerts().count(), 0);
  }

  // A tampered or missing file of the archive, or a store where the update's record cannot be kept
  // (here its folder cannot be made; the store test has the links and FIFOs), refuses the update
  // before the printer is touched, saying which.
  void refusedBeforeTheFirstWrite_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("tampered firmware") << "KTA 01.61.fw";
    QTest::newRow("missing colour table") << "KTA_600_0161.cwd";
    QTest::newRow("store unwritable") << "state.db";
  }

  void refusedBeforeTheFirstWrite() {
    QFETCH(QString, file);
    if (file == QLatin1String("state.db")) {
      const QString blocker = resources_.filePath(QStringLiteral("not-a-folder"));
      QVERIFY(writeFile(blocker, {}));
      pm::UpdateJournal::setFilePath(blocker + QStringLiteral("/state.db"));
      QVERIFY(attach(Model::KTA));
      QVERIFY(update({}, QStringLiteral("The firmware update cannot start")));
      QVERIFY2(lastAlert().message.contains(blocker), qPrintable(lastAlert().message));
      verifyUntouched();
      return;
    }
    const bool tampered = file.endsWith(QLatin1String(".fw"));
    const QStringList files =
        pm::FirmwareArchive::archiveForProductID(pm::modelTraits(pm::PrinterModel::KTA).productId)->fileNames;
    useOnly(files, tampered);
    if (!tampered) QVERIFY(QFile::remove(resources_.filePath(QStringLiteral("firmware/") + file)));
    LogCapture log;
    QVERIFY(attach(Model::KTA));
    QVERIFY(
        update({}, QStringLiteral("-- File corruption --\n\nThere is a problem with the firmware files.")));
    QCOMPARE(lastAlert().buttons, QStringList{QStringLiteral("Quit")});
    QVERIFY2(lastAlert().message.contains(file), qPrintable(lastAlert().message));
    QVERIFY(log.contains(QStringLiteral("firmware archive file %1 refused").arg(file)));
    QVERIFY(log.contains(QStringLiteral("failed to verify firmware archive")));
    QCOMPARE(log.contains(QStringLiteral("Bad firmware file! Verification failed!")), tampered);
    QTRY_COMPARE(rig_->application().terminations(), 1);
    QVERIFY(printer_->update().firmwareFilenames().isEmpty());
    verifyUntouched();
  }

  // The poll keeps the main queue free between rounds, ends after its rounds and once its printer
  // has gone.
  void statusPoll() {
    QVERIFY(attach(Model::PZA));
    device_->setStatusSequence({QStringLiteral("01000"), QStringLiteral("01000"), QStringLiteral("00000")});
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(20);
    printer_->update().waitForPrinterStatusCode(QStringLiteral("00000"));
    QTRY_COMPARE_WITH_TIMEOUT(device_->frameSummaries().size(), 3, 10000);
    QVERIFY2(ticks >= 30, qPrintable(QString::number(ticks)));  // 1 s of rounds, ticking throughout
    QTRY_COMPARE(printer_->printerStatus(), QStringLiteral("Idle"));
    QTest::qWait(700);
    QCOMPARE(device_->frameSummaries().size(), 3);

    // One whose printer keeps reporting an error ends after its rounds, and the printer is given
    // back once unused.
    printer_->update().setTimings({.statusPollRounds = 2});
    printer_->setIdleReleaseDelay(100);
    device_->setStatusSequence({QStringLiteral("02000")});
    device_->clearFrames();
    printer_->update().waitForPrinterStatusCode(QStringLiteral("00000"));
    QTRY_COMPARE_WITH_TIMEOUT(device_->frameSummaries().size(), 2, 5000);
    QTRY_VERIFY(!device_->device()->isOpen());
    QTest::qWait(700);
    QCOMPARE(device_->frameSummaries().size(), 2);
    printer_->update().setTimings({});
    printer_->setIdleReleaseDelay(usb::InterfaceAccess::kDefaultIdleReleaseMs);

    // A poll that never sees its code ends when the printer goes, and lets the object go.
    device_->setStatusSequence({QStringLiteral("01000")});
    std::weak_ptr<TBUSBPrinterOLM> weak = printer_;
    printer_->update().waitForPrinterStatusCode(QStringLiteral("00000"));
    printer_.reset();
    QTest::qWait(300);  // within the pause after the first round
    device_->device()->detach();
    QVERIFY(PrinterTestRig::waitFor([&] { return weak.expired(); }, 5000));
  }
};

QTEST_GUILESS_MAIN(UpdateEndToEndTest)
#include "update_e2e_unittest.moc"
