// The main window over the real controller on the virtual bus: the rows and their refresh,
// selection in both directions, the actions on the selected printer, menu localisation at launch,
// what it shows while a firmware update runs, and a whole demo session with the
// Qt alerts from start-up to termination. Also the shell's menu localisation and its
// alerts (sheets, the "I Agree" box, answers, the queue of alerts).

#include <QAction>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTranslator>
#include <QtTest>

#include "app/DemoMode.h"
#include "app/MainWindow.h"
#include "app/MenuLocalization.h"
#include "app/NoPrinterPage.h"
#include "app/PrinterTableModel.h"
#include "app/QtAlertPresenter.h"
#include "app/UpdatePhase.h"
#include "app/UpdateStatusIndicator.h"
#include "olm/update/UpdateEvents.h"
#include "olm/update/UpdateJournal.h"
#include "tests/common/AppHarness.h"
#include "tests/common/LogCapture.h"
#include "tests/common/TestFiles.h"
#include "usb/UsbPermission.h"

namespace {

QString cell(const PrinterTableModel& model, int row, int column, int role = Qt::DisplayRole) {
  return model.data(model.index(row, column), role).toString();
}

const QString kStage = QStringLiteral("deviceFirmwareStatus");

// Translates a few texts of the "PrinterMaintenance" context (menus are looked up there).
class GermanMenus final : public QTranslator {
 public:
  QString translate(const char* context, const char* source, const char*, int) const override {
    static const QHash<QByteArray, QString> table{
        {"Printer", QStringLiteral("Drucker")},
        {"Reset Counter", QStringLiteral("Zähler zurücksetzen")},
        {"Counter A", QStringLiteral("Zähler A")},
        {"Reads the printer again", QStringLiteral("Liest den Drucker neu")},
        {"&Refresh", QStringLiteral("&Aktualisieren")}};
    return QByteArray(context) == "PrinterMaintenance" ? table.value(source) : QString();
  }
  bool isEmpty() const override { return false; }
};

// The application's German catalogue as built, noting every text of ours asked for that it does
// not translate (Qt's own contexts are Qt's catalogue's).
class MissingTranslations final : public QTranslator {
 public:
  bool load() { return catalogue_.load(QStringLiteral(PM_QM_DIR "/printer-maintenance_de.qm")); }
  QString translate(const char* context, const char* source, const char* disambiguation,
                    int n) const override {
    const QString translated = catalogue_.translate(context, source, disambiguation, n);
    // Qt's own contexts are Qt's catalogue's; the menus look up their (translated) texts once more
    // in "PrinterMaintenance", where a text without an entry stays as it is.
    const bool qts = context[0] == 'Q' && context[1] >= 'A' && context[1] <= 'Z';
    const bool menuLookup = std::strcmp(context, "PrinterMaintenance") == 0;
    if (translated.isEmpty() && !qts && !menuLookup && *source != '\0') {
      const std::lock_guard guard(lock_);
      missing_ << QStringLiteral("%1: %2").arg(QLatin1String(context), QString::fromUtf8(source));
    }
    return translated;
  }
  bool isEmpty() const override { return false; }
  QStringList missing() const {
    const std::lock_guard guard(lock_);
    QStringList unique = missing_;
    unique.removeDuplicates();
    return unique;
  }

 private:
  QTranslator catalogue_;
  mutable std::mutex lock_;
  mutable QStringList missing_;
};

// The labels of `top` whose text does not fit: a wrapped one lower than its text needs at its
// width, any other narrower or lower than its text.
QStringList cutLabels(const QWidget* top) {
  QStringList cut;
  for (const QLabel* label : top->findChildren<QLabel*>()) {
    if (!label->isVisibleTo(top) || label->text().isEmpty()) continue;
    const QSize hint = label->sizeHint();
    const bool fits = label->wordWrap() ? label->height() >= label->heightForWidth(label->width())
                                        : label->width() >= hint.width() && label->height() >= hint.height();
    if (!fits)
      cut << QStringLiteral("%1 (%2x%3)")
                 .arg(label->text().left(50))
                 .arg(label->width())
                 .arg(label->height());
  }
  return cut;
}

QAbstractButton* buttonTitled(QMessageBox* box, const QString& title) {
  for (QAbstractButton* button : box->buttons())
    if (button->text() == title) return button;
  return nullptr;
}

// Waits for the USB serial-number question about `printer` and answers it ("Switch", or Escape);
// false when it did not come, did not name the printer or did not have "Cancel" as its default.
bool answerSwitchQuestion(QWidget& window, const QString& printer, bool doSwitch) {
  QMessageBox* box = nullptr;
  const bool shown = QTest::qWaitFor([&] {
    for (QMessageBox* candidate : window.findChildren<QMessageBox*>())
      if (candidate->isVisible() &&
          candidate->accessibleName().contains(QLatin1String("USB serial number of")))
        box = candidate;
    return box != nullptr;
  });
  if (!shown || !box->accessibleName().contains(printer) ||
      static_cast<QAbstractButton*>(box->defaultButton()) != box->button(QMessageBox::Cancel))
    return false;
  if (doSwitch) buttonTitled(box, QStringLiteral("&Switch"))->click();
  else QTest::keyClick(box, Qt::Key_Escape);
  return QTest::qWaitFor([&] { return !box->isVisible(); });
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { useTemporarySettings(settingsDir_); }

  // The row shows the printer and follows its changes. A counter reset shows the counter first;
  // with the printer held by another program the user's action answers at once (opens retrying
  // for a refresh give way) with the busy alert: "Retry" tries again, "Cancel" ends in words on
  // the status line, and the menu still shows the setting.
  void rowsFollowThePrinterAndABusyPrinterAnswersAtOnce() {
    AppHarness harness;
    const auto device = harness.attachPrinter(QStringLiteral("SIM0001"));
    TBPrinters& controller = harness.start();
    controller.setIdleReleaseDelay(50);
    MainWindow window(&controller, QStringLiteral("PZA"));
    PrinterTableModel& model = *window.model();
    QTRY_VERIFY(model.rowCount() == 1 && !window.showsNoPrinterPage());
    harness.settle();
    QTRY_VERIFY(!cell(model, 0, PrinterTableModel::ColorTables).isEmpty());

    const auto printer = controller.printerAt(0);
    QStringList cells;
    for (const int column :
         {PrinterTableModel::Model, PrinterTableModel::SerialNumber, PrinterTableModel::FirmwareVersion,
          PrinterTableModel::LifetimeCounter, PrinterTableModel::UsbSerial, PrinterTableModel::PrinterStatus})
      cells << cell(model, 0, column);
    QCOMPARE(cells,
             (QStringList{printer->model(), QStringLiteral("SIM0001"),
                          device->firmwareVersion() + QStringLiteral(" (PZA 01.10 available)"),
                          QStringLiteral("1234"), QStringLiteral("Enabled"), printer->printerStatus()}));
    QVERIFY(!model.data(model.index(0, PrinterTableModel::Picture), Qt::DecorationRole)
                 .value<QPixmap>()
                 .isNull());
    QCOMPARE(cell(model, 0, PrinterTableModel::Picture, Qt::AccessibleTextRole), printer->model());

    // The firmware shipped against the installed one.
    for (const auto& [installed, says] : {std::pair{"PZA 01.10", "PZA 01.10 (up to date)"},
                                          {"PZA 01.20", "PZA 01.20 (newer than PZA 01.10)"}}) {
      printer->storeDeviceInfo(QStringLiteral("firmwareVersion"), QString::fromLatin1(installed));
      QTRY_COMPARE(cell(model, 0, PrinterTableModel::FirmwareVersion), QString::fromLatin1(says));
    }

    // A counter reset: "Retry" while still held asks again; "Retry" once free resets.
    const QString name = printer->printerName();
    QCOMPARE(name, QStringLiteral("PZA SIM0001"));
    ScriptedAlertPresenter& alerts = harness.alerts();
    const QString busy = QStringLiteral("The Selected Printer is Unavailable. (Busy)");
    window.resetCounterAction('A')->trigger();
    QMessageBox* confirm = nullptr;
    QTRY_VERIFY((confirm = window.findChild<QMessageBox*>()) != nullptr);
    QTRY_VERIFY(confirm->accessibleDescription().startsWith(QStringLiteral("Counter A now reads 12.")));
    QTRY_VERIFY(!device->device()->isOpen());
    device->setHeldByOtherProgram(true);
    alerts.setHoldAnswers(true);
    buttonTitled(confirm, QStringLiteral("&Reset"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(alerts.titles() == QStringList{busy}, 2000 * kSlowdown);
    alerts.setHoldAnswers(false);  // "Retry"
    alerts.setHoldAnswers(true);
    QTRY_COMPARE(alerts.titles().count(busy), 2);
    device->setHeldByOtherProgram(false);
    alerts.setHoldAnswers(false);
    QTRY_COMPARE(window.statusBar()->currentMessage(),
                 QStringLiteral("Counter A of %1 was reset to zero.").arg(name));
    QCOMPARE(device->counters().a, 0u);

    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    device->setCounters({4321, 0, 0, 0});
    window.refreshAction()->trigger();
    QTRY_COMPARE(cell(model, 0, PrinterTableModel::LifetimeCounter), QStringLiteral("4321"));
    QVERIFY(!changes.isEmpty() && changes.last().first().toModelIndex().row() == 0);

    // The USB serial-number switch asks first, naming the printer; Escape keeps the setting.
    harness.settle();
    QTRY_VERIFY(window.usbSerialAction(true)->isChecked() && !device->device()->isOpen());
    window.usbSerialAction(false)->trigger();
    QVERIFY(answerSwitchQuestion(window, name, false));
    QCOMPARE(window.statusBar()->currentMessage(),
             QStringLiteral("The USB serial number of %1 was not changed.").arg(name));
    QVERIFY(window.usbSerialAction(true)->isChecked() && device->iSerialEnabled());
    device->setHeldByOtherProgram(true);
    window.refreshAction()->trigger();
    alerts.queueAnswer(1001);  // "Cancel"
    window.usbSerialAction(false)->trigger();
    QVERIFY(answerSwitchQuestion(window, name, true));
    QTRY_VERIFY_WITH_TIMEOUT(!harness.application().statuses().isEmpty(), 2000 * kSlowdown);
    QCOMPARE(harness.application().statuses(),
             QStringList{
                 QStringLiteral(
                     "The USB serial number of %1 was not changed: the printer is in use by another program.")
                     .arg(name)});
    QCOMPARE(alerts.titles().count(busy), 3);
    QVERIFY(window.usbSerialAction(true)->isChecked() && device->iSerialEnabled());

    device->device()->detach();
    QTRY_VERIFY(window.showsNoPrinterPage() && model.rowCount() == 0);
  }

  // The selection follows its printer when an earlier one leaves: the action reaches the printer
  // the user chose, not the one that moved up into its row. A changed firmware version (not a
  // first reading) selects its printer; the list is the registry's, not a caller's. A whole update
  // started from the window on the selected printer: its row goes through the three phases in
  // order, stays in its place and selected while the printer restarts (saying so, with the phase
  // and the time), counts the bytes of the upload and the colour tables, and the status bar
  // clears at the end.
  void selectionRunsBothWaysAndAWholeUpdateReachesTheSelectedPrinter() {
    AppHarness harness;
    const auto first = harness.attachPrinter(QStringLiteral("SIM0001"));
    const auto second = harness.attachPrinter(QStringLiteral("SIM0002"));
    const auto third = harness.attachPrinter(QStringLiteral("SIM0003"));
    TBPrinters& controller = harness.start();
    MainWindow window(&controller, QString());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    PrinterTableModel& model = *window.model();
    QTRY_COMPARE(model.rowCount(), 3);
    harness.settle();
    controller.setPrinters({});
    QCOMPARE(controller.count(), 3);

    QItemSelectionModel* selection = window.tableView()->selectionModel();
    window.tableView()->selectRow(1);  // as a click does
    selection->clearSelection();       // nothing selected: back to the first row
    QCOMPARE(controller.selectedRow(), 0);
    QCOMPARE(selection->selectedRows(), QModelIndexList{model.index(0, 0)});

    window.tableView()->selectRow(2);
    const TBPrinters::PrinterRef chosen = controller.selectedPrinter();
    first->device()->detach();
    QTRY_COMPARE(model.rowCount(), 2);
    QCOMPARE(controller.selectedPrinter(), chosen);
    QCOMPARE(selection->selectedRows(), QModelIndexList{model.index(1, 0)});
    window.usbSerialAction(false)->trigger();
    QVERIFY(answerSwitchQuestion(window, QStringLiteral("PZA SIM0003"), true));
    QTRY_VERIFY(!third->iSerialEnabled());
    QVERIFY(second->iSerialEnabled());
    // Another printer's new version (as after an update elsewhere) does not take the selection.
    second->setFirmwareVersion(QStringLiteral("PZA 00.90"));  // still older: the update below has work
    controller.printerAt(0)->updateInfo();
    QTRY_VERIFY(cell(model, 0, PrinterTableModel::FirmwareVersion).startsWith(QLatin1String("PZA 00.90")));
    QCOMPARE(selection->selectedRows(), QModelIndexList{model.index(1, 0)});

    // The update of a printer whose installed version was not read ends in words after the
    // second confirmation; read afresh, the printer comes back to its own row (not the
    // end of the list), and the selection with it. The row says "unknown" meanwhile.
    window.tableView()->selectRow(0);
    const TBPrinters::PrinterRef unread = controller.printerAt(0);
    unread->storeDeviceInfo(QStringLiteral("firmwareVersion"), QVariant());
    QTRY_COMPARE(cell(model, 0, PrinterTableModel::FirmwareVersion), QStringLiteral("unknown"));
    harness.alerts().clear();
    harness.alerts().queueAnswer(1001, true);  // "I Agree", Continue
    harness.alerts().queueAnswer(1001);        // update firmware
    window.updateFirmwareAction()->trigger();
    // The update reads the version once more before its first write: it then goes ahead, else it
    // ends with "The installed version could not be read: refresh and try again".
    QTRY_VERIFY_WITH_TIMEOUT(window.statusBar()->toolTip().startsWith(QLatin1String("PZA SIM0002: ")),
                             30000 * kSlowdown);
    QVERIFY(harness.alerts().count() >= 2);
    QTRY_VERIFY_WITH_TIMEOUT(controller.printerAt(0) != unread && model.rowCount() == 2, 10000 * kSlowdown);
    QCOMPARE(controller.printerAt(0)->printerName(), QStringLiteral("PZA SIM0002"));
    QTRY_COMPARE(selection->selectedRows(), QModelIndexList{model.index(0, 0)});
    // That update may have gone through: the printer is older again for the whole update below.
    second->setFirmwareVersion(QStringLiteral("PZA 00.90"));
    controller.printerAt(0)->updateInfo();
    QTRY_VERIFY(cell(model, 0, PrinterTableModel::FirmwareVersion).startsWith(QLatin1String("PZA 00.90")));

    // An update before its first stage is in phase 1; a stage past the last is the last phase.
    const TBPrinters::PrinterRef printer = controller.printerAt(0);
    for (const auto& [running, stage, phase] : {std::tuple{true, 0, 1}, {true, 9, 3}, {false, 0, 0}}) {
      printer->setInFirmwareUpdate(running);
      if (stage) printer->storeDeviceInfo(kStage, stage);
      else printer->deviceInfoDict()->remove(kStage);
      QCOMPARE(pm::updatePhase(*printer), phase);
    }
    auto* indicator = window.findChild<UpdateStatusIndicator*>();
    QVERIFY(indicator && !indicator->updateRunning());

    QList<int> phases;
    QSet<int> restartPhases;
    int tablesDone = 0;
    int thousandthsSent = 0;           // the upload's bar, in thousandths of the frame
    bool actionsWhileRunning = false;  // the printer's actions stay off while its update runs
    bool moved = false;                // the row left its place, the list or the selection
    const auto sample = [&] {
      moved = moved || model.rowCount() != 2 || window.showsNoPrinterPage() ||
              controller.selectedRow() != 0 || !model.printerAt(0)->descriptionUTF8().contains("SIM0002");
      if (model.rowCount() == 0) return;
      const auto bar = model.updateBarAt(0);
      if (bar && (phases.isEmpty() || phases.last() != bar->phase)) phases << bar->phase;
      if (bar && bar->text == QStringLiteral("%1 of %2 tables").arg(bar->done).arg(bar->total) &&
          bar->total > 0)
        tablesDone = std::max(tablesDone, bar->done);
      if (bar && bar->phase == 2 && bar->text.contains(QStringLiteral(" sent")) && bar->total == 1000)
        thousandthsSent = std::max(thousandthsSent, bar->done);
      if (const auto restart = model.restartAt(0)) {
        restartPhases << restart->phase;
        QVERIFY(cell(model, 0, PrinterTableModel::PrinterStatus)
                    .startsWith(QStringLiteral("Restarting: Phase %1 of 3, ").arg(restart->phase)));
      }
      actionsWhileRunning =
          actionsWhileRunning || ((model.printerAt(0)->inFirmwareUpdate() || model.restartAt(0)) &&
                                  window.updateFirmwareAction()->isEnabled());
    };
    connect(&model, &QAbstractItemModel::dataChanged, this, sample);
    connect(&model, &QAbstractItemModel::rowsRemoved, this, sample);

    harness.alerts().clear();
    harness.alerts().queueAnswer(1001, true);  // "I Agree", Continue
    harness.alerts().queueAnswer(1001);        // update firmware
    window.updateFirmwareAction()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(
        harness.alerts().titles().contains(QStringLiteral("Firmware update was successful!")), 30000);

    QCOMPARE(phases, (QList<int>{1, 2, 3}));
    QCOMPARE(restartPhases, (QSet<int>{1, 2}));
    // The tables now go out back to back and are judged at the end: on a loaded machine the bar
    // may pass from the first table to the end between two samples.
    QVERIFY(tablesDone > 0 || phases.contains(3));
    QVERIFY(thousandthsSent > 0 && thousandthsSent <= 1000);
    QVERIFY2(!moved && !actionsWhileRunning, moved ? "the row moved" : "actions stayed on");
    QTRY_VERIFY_WITH_TIMEOUT(!indicator->updateRunning() && indicator->isHidden(), 10000);
    QTRY_VERIFY(window.updateFirmwareAction()->isEnabled());

    // Closing the window while an update is unfinished asks, naming the printer; "Keep Running"
    // keeps it, "Quit Anyway" closes.
    QVERIFY(window.close());  // nothing unfinished: closes at once
    window.show();
    pm::UpdateRecord record;  // an unfinished update, as another run may have left it
    record.serialNumber = QStringLiteral("SIM0002");
    record.deviceKey = QStringLiteral("0000000000000002");
    record.productID = 0x1234;
    record.model = QStringLiteral("PZA");
    record.targetVersion = QStringLiteral("PZA 01.10");
    pm::UpdateJournal::put(record);
    harness.alerts().clear();
    for (const int answer : {1000, 1001}) {
      harness.alerts().queueAnswer(answer);
      QVERIFY(!window.close());
      QTRY_COMPARE(harness.alerts().titles().count(QStringLiteral("A firmware update is not finished")),
                   answer - 999);
      QVERIFY(harness.alerts().requests().back().message.contains(QLatin1String("PZA SIM0002")));
      QTest::qWait(50);
    }
    QVERIFY(window.close());                            // confirmed
    QCOMPARE(harness.application().terminations(), 2);  // and so ends the process, alerts or not
    pm::UpdateJournal::reset();
  }

  // Every alert and status text the window can show fits the space it is given, in English and
  // German, at 1x, with a 15 pt font and at 2x (a child at QT_SCALE_FACTOR=2: the factor is read at
  // start-up only): the window with start-up's notices, the no-printer page and a long status
  // line, then each alert. The window opens within the screen; the status line stays one line,
  // its whole text in the tool tip. In German nothing the window shows is left untranslated.
  void textsFitEveryLanguageAndScale_data() {
    QTest::addColumn<QString>("language");
    QTest::addColumn<double>("pointSize");  // 0: the default font
    QTest::addColumn<bool>("scaledChild");
    const bool child = !qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR");
    for (const char* language : {"en", "de"}) {
      QTest::addRow("%s 1x", language) << QString::fromLatin1(language) << 0.0 << false;
      if (child) continue;
      QTest::addRow("%s 15pt", language) << QString::fromLatin1(language) << 15.0 << false;
      QTest::addRow("%s 2x", language) << QString::fromLatin1(language) << 0.0 << true;
    }
  }

  void textsFitEveryLanguageAndScale() {
    QFETCH(QString, language);
    QFETCH(double, pointSize);
    QFETCH(bool, scaledChild);
    if (scaledChild) {
      // A screen of 2560x1600 pixels, as a 2x screen is.
      QTemporaryDir dir;
      const QString config = dir.filePath(QStringLiteral("screen.json"));
      QVERIFY(writeFile(config, R"({"screens": [{"name": "2x", "x": 0, "y": 0, "width": 2560, "height": 1600,
                                     "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})"));
      const ScopedEnv platform("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
      const ScopedEnv scale("QT_SCALE_FACTOR", "2");
      QProcess child;
      child.setProcessChannelMode(QProcess::MergedChannels);
      child.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("textsFitEveryLanguageAndScale:%1 1x").arg(language)});
      QVERIFY(child.waitForFinished(120000));
      QVERIFY2(child.exitCode() == 0, child.readAll().constData());
      return;
    }
    const QFont original = QApplication::font();
    QFont font = original;
    if (pointSize > 0) font.setPointSizeF(pointSize);
    QApplication::setFont(font);
    const auto restoreFont = qScopeGuard([&] { QApplication::setFont(original); });
    MissingTranslations german;
    if (language == QLatin1String("de")) {
      QVERIFY(german.load());
      QCoreApplication::installTranslator(&german);
    }
    QTranslator* const installed = &german;
    const auto uninstall = qScopeGuard([installed] { QCoreApplication::removeTranslator(installed); });
    const auto t = [](const char* context, const char* source) {
      return QCoreApplication::translate(context, source);
    };
    const char* const printerClass = "TBUSBPrinterOLM";

    AppHarness harness;
    MainWindow window(&harness.start(), QStringLiteral("PZA,KTC"));
    window.reportStartup({QStringLiteral("models.conf line 3: unknown model \"XYZ\"")}, 1,
                         pm::DemoMode::refusalText({QStringLiteral("KTC")}));
    window.applicationDidFinishLaunching();
    window.findChild<NoPrinterPage*>()->setPrinterWasListed(true);
    auto* indicator = window.findChild<UpdateStatusIndicator*>();
    indicator->setFullText(
        t("UpdateStatusIndicator", "Firmware update running: %1, %2 (%3).")
            .arg(QStringLiteral("PZA SIM0001"), pm::updatePhaseText(2), pm::updatePhaseDescription(2)));
    indicator->show();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect screen = window.screen()->availableGeometry();
    QVERIFY2(screen.contains(window.frameGeometry()), qPrintable(QStringLiteral("%1x%2 on %3x%4")
                                                                     .arg(window.frameGeometry().width())
                                                                     .arg(window.frameGeometry().height())
                                                                     .arg(screen.width())
                                                                     .arg(screen.height())));
    QTRY_VERIFY2(cutLabels(&window).isEmpty(), qPrintable(cutLabels(&window).join(QStringLiteral(" | "))));
    const int oneLine = 2 * indicator->fontMetrics().lineSpacing();
    QVERIFY2(indicator->height() < oneLine && !indicator->text().contains(QLatin1Char('\n')),
             qPrintable(indicator->text()));
    QVERIFY(indicator->toolTip().startsWith(indicator->fullText()));
    const QString longLine =
        t("MainWindow", "%1: %2")
            .arg(QStringLiteral("PZA SIM0001"),
                 t(printerClass,
                   "The installed version could not be read: refresh and try again. Nothing was "
                   "changed.")
                     .repeated(3));
    window.showStatusLine(longLine);
    QVERIFY(window.statusBar()->fontMetrics().horizontalAdvance(window.statusBar()->currentMessage()) <=
                window.statusBar()->width() &&
            window.statusBar()->height() < 3 * oneLine && window.statusBar()->toolTip() == longLine);

    // Each alert, as the presenter shows it, with the printer's name and its longest texts.
    const QString name = QStringLiteral("PZA SIM0001");
    const QString version = QStringLiteral("PZA 01.10");
    const QString cancel = t(printerClass, "Cancel");
    const QList<pm::AlertRequest> alerts{
        {.title = t(printerClass, "Attention:"),
         .message = t(printerClass,
                      "This printer has firmware version %1, newer than %2. This update tool "
                      "would install the older version %2. This process cannot be undone")
                        .arg(QStringLiteral("PZA 01.20"), version),
         .buttons = {t(printerClass, "Quit"), t(printerClass, "Continue")},
         .agreeCheckBox = true,
         .printerName = name,
         .dismissable = true},
        {.title = t(printerClass, "Attention:"),
         .message = t(printerClass,
                      "This update tool is for the OLM VLA printer. It will upgrade the printer "
                      "to %1.\n\nOnce updated, the VLA printer will REQUIRE the use of VLAQ media "
                      "packs.%2 This process cannot be undone.")
                        .arg(QStringLiteral("1.0.0"),
                             t(printerClass, " Please use up all VLA media before using this update tool.")),
         .buttons = {t(printerClass, "Quit"), t(printerClass, "Continue")},
         .agreeCheckBox = true,
         .printerName = QStringLiteral("VLA SIM0001"),
         .dismissable = true},
        {.title = t(printerClass, "-- Warning --\n\nAre you certain you want to update the firmware?"),
         .message = t(printerClass,
                      "The printer may be permanently damaged if it is unplugged or loses power "
                      "during the update process."),
         .buttons = {cancel, t(printerClass, "Install Older Firmware %1").arg(version)},
         .printerName = name,
         .escapeButton = 0},
        {.title = t(printerClass, "Firmware update was successful!"),
         .message = t(printerClass, "Firmware version updated from %1 to %2")
                        .arg(QStringLiteral("PZA 01.00"), version),
         .buttons = {t(printerClass, "Finish")},
         .printerName = name},
        {.title = t(printerClass, "There was a problem with the firmware update!"),
         .message = t(printerClass, "Previous firmware version: %1 current version: %2")
                        .arg(QStringLiteral("PZA 01.00"), QStringLiteral("PZA 01.00")) +
                    QStringLiteral("\n\n") +
                    t(printerClass,
                      "%1 restarted without the new firmware %2. Its colour tables were not "
                      "changed.\n\nPlease switch the printer off and on again and run the update "
                      "once more.")
                        .arg(name, version),
         .buttons = {t(printerClass, "OK")},
         .printerName = name},
        {.title = t(printerClass, "Please switch %1 off and on now to complete the change.").arg(name),
         .buttons = {t(printerClass, "OK")},
         .printerName = name},
        {.title = t(printerClass, "The Selected Printer is Unavailable. (Busy)"),
         .message = t(printerClass,
                      "Another application is using the printer. Please proceed when the printer "
                      "becomes available."),
         .buttons = {t(printerClass, "Retry"), cancel},
         .printerName = name,
         .escapeButton = 1},
        {.title = t(printerClass, "A firmware update is not finished"),
         .message = QStringLiteral("• %1: ").arg(name) +
                    t(printerClass, "it has been sent firmware %1; its colour tables are not all written")
                        .arg(version) +
                    QStringLiteral("\n\n") +
                    t(printerClass,
                      "If you quit now, the update goes on the next time this application runs "
                      "with the printer connected. Until then the printer may not print correctly."),
         .buttons = {t(printerClass, "Keep Running"), t(printerClass, "Quit Anyway")},
         .escapeButton = 0},
        {.title = t(printerClass, "Attention:"),
         .message = t(printerClass,
                      "A printer was unexpectedly found in firmware update mode. Would you like "
                      "to update the firmware? "),
         .buttons = {t(printerClass, "Ignore"), t(printerClass, "Update Firmware")},
         .printerName = name,
         .acceptButton = 1},
        {.title = t(printerClass, "The printer has not come back"),
         .message = t(printerClass,
                      "The new firmware was sent to the printer %1 seconds ago and the printer "
                      "has not restarted.")
                        .arg(120),
         .buttons = {t(printerClass, "OK")},
         .printerName = name},
        {.title = t(printerClass, "Remove the print queues of this printer?"),
         .message = t(printerClass,
                      "These print queues reach the printer through its USB serial number, which "
                      "has changed; they will not find the printer any more:\n\n%1\n\nRemove them "
                      "now? Add the printer again afterwards to print to it.")
                        .arg(QStringLiteral("Varnholt_RM_PZA_Photo_Printer_SIM0001")),
         .buttons = {t(printerClass, "&Remove"), t(printerClass, "&Keep")},
         .printerName = name,
         .escapeButton = 1},
        {.title = t(printerClass, "The printer is not responding"),
         .message = t(printerClass,
                      "The firmware update could not go on because the printer could not be "
                      "opened (%1).\n\nPlease switch the printer off and on again and keep it "
                      "connected. The update continues when the printer returns.")
                        .arg(QStringLiteral("kIOReturnNotResponding")),
         .buttons = {t(printerClass, "OK")},
         .printerName = name},
        {.title = t("MainWindow", "Switch the USB serial number of %1 off?").arg(name),
         .message = t("MainWindow",
                      "The printer must be switched off and on afterwards. Print queues that "
                      "reach it by its USB serial number will not find it any more."),
         .buttons = {t("MainWindow", "&Switch"), cancel},
         .escapeButton = 1},
        {.title = t("MainWindow", "Reset counter %1 of %2?").arg(QStringLiteral("A"), name),
         .message =
             t("MainWindow", "Counter %1 now reads %2.").arg(QStringLiteral("A"), QStringLiteral("123456")) +
             u' ' + t("MainWindow", "The counter starts again from zero. This cannot be undone."),
         .buttons = {t("MainWindow", "&Reset"), cancel},
         .escapeButton = 1},
        {.title = pm::noPermissionText(), .message = pm::noPermissionAdvice()}};
    QtAlertPresenter presenter(&window);
    for (const pm::AlertRequest& request : alerts) {
      bool answered = false;
      presenter.present(request, [&](const pm::AlertAnswer&) { answered = true; });
      QTRY_VERIFY(presenter.currentAlert() != nullptr && presenter.currentAlert()->isVisible());
      QMessageBox* box = presenter.currentAlert();
      QTRY_VERIFY2(cutLabels(box).isEmpty(), qPrintable(cutLabels(box).join(QStringLiteral(" | "))));
      QVERIFY2(screen.contains(box->frameGeometry()), qPrintable(request.title));
      QTest::keyClick(box, Qt::Key_Escape);
      if (!answered) box->buttons().constFirst()->click();
      QTRY_VERIFY(answered);
    }
    QVERIFY2(german.missing().isEmpty(), qPrintable(german.missing().join(QStringLiteral(" | "))));
  }

  // Demo mode as main() runs it, with the Qt alerts: a model that is not admitted is refused in
  // the log and the status bar, and the no-printer page says what was attached; the printers are
  // listed once their identity is read (an unplug is the selection case's), the alerts answer as
  // asked, the update warning's "Quit" ends the application, and termination empties the list.
  void demoSessionFromStartToQuit() {
    const QString spec = QStringLiteral("PZA,KTC:fw=04.20,PZA");
    pm::DemoMode::Outcome outcome;
    LogCapture log;
    AppHarness harness([&] { return pm::DemoMode::makeRegistry(spec, &outcome); });
    TBPrinters& controller = harness.start();
    QCoreApplication::sendPostedEvents();
    MainWindow window(&controller, spec);
    QVERIFY(outcome.attached == 2 && outcome.refused == QStringList{QStringLiteral("KTC")});
    QVERIFY(
        log.contains(QStringLiteral("demo mode: KTC is not admitted; its virtual printer is not attached")));
    window.reportStartup({QStringLiteral("models.conf line 3: unknown model")}, outcome.attached,
                         pm::DemoMode::refusalText(outcome.refused));
    const QLabel* notice = window.findChild<QLabel*>(QStringLiteral("startupNotice"));
    QVERIFY(notice && notice->text().contains(QStringLiteral("no virtual KTC attached")) &&
            notice->text().contains(QStringLiteral("line 3")));
    QVERIFY(std::ranges::any_of(window.findChildren<QLabel*>(), [](QLabel* label) {
      return label->text().contains(QStringLiteral("attached 2 virtual"));
    }));
    QtAlertPresenter alerts(&window);
    pm::setAlertPresenter(&alerts);
    pm::setApplicationControl(&alerts);
    PrinterTableModel& model = *window.model();
    QTRY_COMPARE(model.rowCount(), 2);
    // Launching localises the menus (titles, texts and tool tips at every depth) and the window's
    // own; a text without translation stays.
    QMenuBar bar;
    QMenu* printer = bar.addMenu(QStringLiteral("Printer"));
    QAction* refresh = printer->addAction(QStringLiteral("Print Test Page"));
    refresh->setToolTip(QStringLiteral("Reads the printer again"));
    printer->addSeparator();
    QMenu* reset = printer->addMenu(QStringLiteral("Reset Counter"));
    QAction* counterA = reset->addAction(QStringLiteral("Counter A"));
    GermanMenus translator;
    QCoreApplication::installTranslator(&translator);
    pm::localizeItemsInMenu(&bar);
    window.applicationDidFinishLaunching();
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE((QStringList{printer->title(), refresh->text(), refresh->toolTip(), reset->title(),
                          counterA->text(), window.refreshAction()->text(),
                          window.updateFirmwareAction()->text(), window.windowTitle()}),
             (QStringList{"Drucker", "Print Test Page", "Liest den Drucker neu", "Zähler zurücksetzen",
                          "Zähler A", "&Aktualisieren", "&Update Firmware…", "Printer Maintenance"}));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(cell(model, 1, PrinterTableModel::UsbSerial), QStringLiteral("Enabled"));

    // The alerts as sheets: the "I Agree" box guards the second button; a second alert waits its
    // turn and starts unticked.
    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(Qt::red);
    const pm::AlertRequest attention{
        .title = QStringLiteral("Attention:"),
        .message = QStringLiteral("This update tool will upgrade the printer firmware."),
        .buttons = {QStringLiteral("Quit"), QStringLiteral("Continue")},
        .icon = icon,
        .agreeCheckBox = true,
        .style = pm::AlertStyle::Critical};
    QList<pm::AlertAnswer> answers;
    for (int i = 0; i < 2; ++i) alerts.present(attention, [&](const pm::AlertAnswer& a) { answers << a; });
    QVERIFY(alerts.currentAlert() == nullptr);  // never inside the caller's step
    QTRY_VERIFY(alerts.currentAlert() != nullptr);
    QMessageBox* first = alerts.currentAlert();
    QCOMPARE(alerts.pendingCount(), 1);
    QVERIFY(first->parentWidget() == &window && first->windowModality() == Qt::WindowModal);
    QAbstractButton* proceed = buttonTitled(first, QStringLiteral("Continue"));
    for (const bool agreed : {false, true, false, true}) {
      first->checkBox()->setChecked(agreed);
      QCOMPARE(proceed->isEnabled(), agreed);
    }
    proceed->click();

    QTRY_VERIFY(alerts.currentAlert() != nullptr && alerts.currentAlert() != first);
    QVERIFY(answers.size() == 1 && answers[0].returnCode == 1001 && answers[0].agreed);
    QMessageBox* second = alerts.currentAlert();
    QVERIFY(!second->checkBox()->isChecked() &&
            !buttonTitled(second, QStringLiteral("Continue"))->isEnabled());
    buttonTitled(second, QStringLiteral("Quit"))->click();
    QTRY_COMPARE(answers.size(), 2);
    QVERIFY(answers[1].returnCode == 1000 && alerts.currentAlert() == nullptr);

    // Without titles one "OK"; the suppression box is answered; application-modal when asked.
    // Escape answers only a "Cancel" button.
    std::optional<pm::AlertAnswer> answer;
    // Shows `request` and waits for it: the alert, or null if none came.
    const auto show = [&](const pm::AlertRequest& request) -> QMessageBox* {
      answer.reset();
      alerts.present(request, [&](const pm::AlertAnswer& a) { answer = a; });
      return QTest::qWaitFor([&] { return alerts.currentAlert() != nullptr; }) ? alerts.currentAlert()
                                                                               : nullptr;
    };
    QMessageBox* box = show({.applicationModal = true, .suppressionCheckBox = true});
    QVERIFY(box && box->windowModality() == Qt::ApplicationModal && box->parentWidget() == nullptr &&
            box->buttons().size() == 1);
    box->checkBox()->setChecked(true);
    buttonTitled(box, QStringLiteral("OK"))->click();
    QTRY_VERIFY(answer.has_value());
    QVERIFY(answer->returnCode == 1000 && answer->suppressed);

    // Escape answers the button that cancels, by its role whatever its title; a dismissable alert
    // without one ends on Escape or its close button as dismissed, never as its first button.
    box = show({.buttons = {QStringLiteral("Fortfahren"), QStringLiteral("Abbrechen")}, .escapeButton = 1});
    QVERIFY(box);
    QTest::keyClick(box, Qt::Key_Escape);
    QTRY_VERIFY(answer.has_value());
    QVERIFY(answer->returnCode == 1001 && !answer->dismissed);
    for (const bool viaClose : {false, true}) {
      box = show({.title = QStringLiteral("Attention:"),
                  .message = QStringLiteral("a <b> c"),
                  .buttons = {QStringLiteral("Quit"), QStringLiteral("Continue")},
                  .agreeCheckBox = true,
                  .dismissable = true});
      QVERIFY(box);
      QCOMPARE((QStringList{box->accessibleName(), box->accessibleDescription()}),
               (QStringList{"Attention:", "a <b> c"}));
      if (viaClose) box->close();
      else QTest::keyClick(box, Qt::Key_Escape);
      QTRY_VERIFY(answer.has_value());
      QVERIFY2(answer->dismissed, viaClose ? "close" : "escape");
    }

    // The update's first warning: Return goes back (the safe choice is the default) until "I Agree"
    // is ticked, then it continues; "Quit" quits.
    window.updateFirmwareAction()->trigger();
    QTRY_VERIFY(alerts.currentAlert() != nullptr);
    QMessageBox* warning = alerts.currentAlert();
    const auto defaultTitle = [](QMessageBox* box) {
      return box->defaultButton() ? box->defaultButton()->text() : QString();
    };
    QCOMPARE(defaultTitle(warning), QStringLiteral("Back"));
    for (const bool agreed : {true, false}) {
      warning->checkBox()->setChecked(agreed);
      QCOMPARE(defaultTitle(warning), agreed ? QStringLiteral("Continue") : QStringLiteral("Back"));
    }
    QTest::keyClick(warning, Qt::Key_Return);
    QTRY_VERIFY(alerts.currentAlert() == nullptr);
    QVERIFY(window.isVisible());
    window.updateFirmwareAction()->trigger();
    QTRY_VERIFY(alerts.currentAlert() != nullptr);
    warning = alerts.currentAlert();
    QEventLoop running;  // the application's exit (0) ends it too
    QTimer::singleShot(0, warning, [warning] { buttonTitled(warning, QStringLiteral("Quit"))->click(); });
    QTimer::singleShot(5000, &running, [&running] { running.exit(1); });
    QCOMPARE(running.exec(), 0);

    // Closing during an update asks; Return and Escape keep running. The question follows the
    // update and goes by itself once it has ended; "Quit Anyway" ends the process even with an
    // alert of its own still open.
    const QString serial = QStringLiteral("QUIT01");
    pm::UpdateRecord record;
    record.serialNumber = serial;
    record.deviceKey = QStringLiteral("0000000000000009");
    record.productID = 0x1234;
    record.model = QStringLiteral("PZA");
    record.targetVersion = QStringLiteral("PZA 01.10");
    pm::UpdateJournal::put(record);
    QVERIFY(!pm::UpdateEvents::begin(serial, record.deviceKey));
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
      QVERIFY(!window.close());
      QTRY_VERIFY(alerts.currentAlert() != nullptr);
      QCOMPARE(defaultTitle(alerts.currentAlert()), QStringLiteral("Keep Running"));
      QTest::keyClick(alerts.currentAlert(), key);
      QTRY_VERIFY(alerts.currentAlert() == nullptr);
      QVERIFY(window.isVisible());
    }
    QVERIFY(!window.close());
    QTRY_VERIFY(alerts.currentAlert() != nullptr);
    QVERIFY(alerts.currentAlert()->accessibleDescription().contains(QLatin1String("PZA QUIT01")));
    pm::UpdateJournal::remove(serial, record.deviceKey, record.productID);
    pm::UpdateEvents::finish(record, QStringLiteral("success"), QStringLiteral("done"));
    QTRY_VERIFY(alerts.currentAlert() == nullptr);
    QVERIFY(window.isVisible() && window.statusBar()->toolTip() == QStringLiteral("PZA QUIT01: done"));
    pm::UpdateJournal::put(record);
    alerts.present({.title = QStringLiteral("Firmware update was successful!"), .applicationModal = true},
                   nullptr);
    QTRY_VERIFY(alerts.currentAlert() != nullptr);
    QVERIFY(!window.close());
    QTRY_COMPARE(alerts.pendingCount(), 1);
    buttonTitled(alerts.currentAlert(), QStringLiteral("OK"))->click();  // the question's turn
    QTRY_VERIFY(alerts.currentAlert() != nullptr && alerts.pendingCount() == 0);
    QMessageBox* question = alerts.currentAlert();
    alerts.present({.title = QStringLiteral("Firmware update was successful!"), .applicationModal = true},
                   nullptr);
    pm::setApplicationControl(&harness.application());  // counts instead (the loop above has exited)
    buttonTitled(question, QStringLiteral("Quit Anyway"))->click();
    QTRY_COMPARE(harness.application().terminations(), 1);
    QVERIFY(!window.isVisible());
    pm::setApplicationControl(&alerts);
    pm::UpdateJournal::reset();

    // Termination empties the list and lets the window show it.
    QSignalSpy resets(&controller, &TBPrinters::printersReset);
    controller.applicationShouldTerminate();
    QCoreApplication::sendPostedEvents();
    QCOMPARE((std::array{model.rowCount(), int(resets.count()), controller.selectedRow()}),
             (std::array{0, 1, -1}));
    QVERIFY(window.showsNoPrinterPage() && !window.updateFirmwareAction()->isEnabled() &&
            !window.refreshAction()->isEnabled());
    pm::setAlertPresenter(&harness.alerts());  // the Qt one goes with the window
    pm::setApplicationControl(&harness.application());
  }

 private:
  QTemporaryDir settingsDir_;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_unittest.moc"
