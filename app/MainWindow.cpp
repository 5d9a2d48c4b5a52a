#include "app/MainWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollArea>
#include <QSessionManager>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/ElidedLabel.h"
#include "app/MenuLocalization.h"
#include "app/NoPrinterPage.h"
#include "app/PrinterTableModel.h"
#include "app/QtAlertPresenter.h"
#include "app/UpdateProgressDelegate.h"
#include "app/UpdateStatusIndicator.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/PrinterLock.h"
#include "olm/update/QuitGuard.h"
#include "olm/update/UpdateEvents.h"
#include "support/AlertPresenter.h"
#include "support/MainQueue.h"
#include "support/PrinterNaming.h"
#include "support/SystemLog.h"
#include "usb/UsbPermission.h"

MainWindow::MainWindow(TBPrinters* controller, const QString& demoSpec, QWidget* parent)
    : QMainWindow(parent), controller_(controller) {
  Q_ASSERT(pm::isMainQueue());
  setWindowTitle(tr("Printer Maintenance"));
  buildActions();
  buildMenus();
  buildToolBar();
  buildCentralWidget(demoSpec);
  buildStatusBar(demoSpec);

  connect(controller_, &TBPrinters::selectionChanged, this, &MainWindow::showSelection);
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &MainWindow::viewSelectionChanged);
  connect(model_, &QAbstractItemModel::rowsInserted, this, &MainWindow::showRowsOrAdvice);
  connect(model_, &QAbstractItemModel::rowsRemoved, this, &MainWindow::showRowsOrAdvice);
  connect(model_, &QAbstractItemModel::modelReset, this, &MainWindow::showRowsOrAdvice);
  // The USB serial-number option of the selected printer is read after it was listed. A hundred
  // printers change often while they are read: only the changed rows are looked at then.
  connect(
      model_, &QAbstractItemModel::dataChanged, this,
      [this](const QModelIndex& first, const QModelIndex& last) { updateActions(first.row(), last.row()); });
  showRowsOrAdvice();
  showSelection(controller_->selectedRow());
  // Every update the user confirmed ends in words here, also one that ends without an alert.
  connect(&pm::UpdateEvents::instance(), &pm::UpdateEvents::finished, this,
          [this](const pm::UpdateOutcome& outcome) {
            showStatusLine(
                tr("%1: %2").arg(pm::PrinterNaming::name(outcome.model, outcome.printer), outcome.message));
          });
  // Within the screen's room, whatever the font and scale, leaving room for the frame the window
  // manager adds.
  resize(QSize(1240, 520).boundedTo(screen()->availableGeometry().size() - kFrameAllowance));
  // The session ending is one more way of quitting: while an update is unfinished, the logout
  // waits for the user's answer where the session manager allows it.
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
    if (quitConfirmed_ || !controller_->updateInProgress() || !manager.allowsInteraction()) return;
    manager.cancel();
    pm::quitWhenConfirmed([this] {
      quitConfirmed_ = true;
      close();
    });
  });
}

MainWindow::~MainWindow() = default;

void MainWindow::applicationDidFinishLaunching() {
  Q_ASSERT(pm::isMainQueue());
  pm::localizeItemsInMenu(menuBar());
  controller_->applicationDidFinishLaunching();
  // The application's name, in the language now installed, matches its launcher's.
  setWindowTitle(tr("Printer Maintenance"));
  showVersion();
  // The model's headers come through tr(); repaint them in the language now installed.
  model_->headerDataChanged(Qt::Horizontal, 0, PrinterTableModel::ColumnCount - 1);
  table_->viewport()->update();
}

// ---- Building ----------------------------------------------------------------------------------

void MainWindow::buildActions() {
  updateFirmware_ = new QAction(tr("&Update Firmware…"), this);
  updateFirmware_->setToolTip(tr("Update the firmware and colour tables of the selected printer"));
  connect(updateFirmware_, &QAction::triggered, this, [this] {
    if (TBPrinters::PrinterRef printer = controller_->selectedPrinter()) printer->update().updateFirmware();
  });

  refresh_ = new QAction(tr("&Refresh"), this);
  refresh_->setShortcut(QKeySequence::Refresh);
  refresh_->setToolTip(tr("Read the status and properties of the selected printer again"));
  connect(refresh_, &QAction::triggered, this, [this] {
    if (TBPrinters::PrinterRef printer = controller_->selectedPrinter()) printer->updateInfo();
  });

  resetA_ = new QAction(tr("Counter &A…"), this);
  resetB_ = new QAction(tr("Counter &B…"), this);
  resetM_ = new QAction(tr("Counter &M…"), this);
  connect(resetA_, &QAction::triggered, this, [this] { confirmCounterReset('A'); });
  connect(resetB_, &QAction::triggered, this, [this] { confirmCounterReset('B'); });
  connect(resetM_, &QAction::triggered, this, [this] { confirmCounterReset('M'); });

  usbSerialGroup_ = new QActionGroup(this);
  usbSerialOn_ = new QAction(tr("&Enabled"), usbSerialGroup_);
  usbSerialOff_ = new QAction(tr("&Disabled"), usbSerialGroup_);
  for (QAction* action : {usbSerialOn_, usbSerialOff_}) action->setCheckable(true);
  connect(usbSerialGroup_, &QActionGroup::triggered, this, [this](QAction* chosen) {
    // The choice shows the printer's setting, which changes only once confirmed and read back.
    updateActions();
    confirmUsbSerialSwitch(chosen == usbSerialOn_);
  });

  quit_ = new QAction(tr("&Quit"), this);
  quit_->setShortcut(QKeySequence::Quit);
  connect(quit_, &QAction::triggered, this, &QWidget::close);
}

void MainWindow::buildMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(quit_);

  QMenu* printer = menuBar()->addMenu(tr("&Printer"));
  printer->addAction(updateFirmware_);
  printer->addAction(refresh_);
  printer->addSeparator();
  resetMenu_ = printer->addMenu(tr("Reset &Counter"));
  resetMenu_->addActions({resetA_, resetB_, resetM_});
  usbSerialMenu_ = printer->addMenu(tr("USB &Serial Number"));
  usbSerialMenu_->addActions(usbSerialGroup_->actions());
}

void MainWindow::buildToolBar() {
  QToolBar* bar = addToolBar(tr("Printer"));
  bar->setMovable(false);
  bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  bar->addAction(updateFirmware_);
  bar->addAction(refresh_);
  bar->addSeparator();
  for (QMenu* menu : {resetMenu_, usbSerialMenu_}) {
    auto* button = new QToolButton(bar);
    button->setDefaultAction(menu->menuAction());
    button->setPopupMode(QToolButton::InstantPopup);
    bar->addWidget(button);
  }
  // Tool bar buttons take no focus by default; Tab reaches them here.
  for (QToolButton* button : bar->findChildren<QToolButton*>()) button->setFocusPolicy(Qt::TabFocus);
}

void MainWindow::buildCentralWidget(const QString& demoSpec) {
  model_ = new PrinterTableModel(controller_, this);
  table_ = new QTableView(this);
  table_->setModel(model_);
  table_->setItemDelegateForColumn(PrinterTableModel::PrinterStatus,
                                   new UpdateProgressDelegate(model_, table_));
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setAlternatingRowColors(true);
  table_->setShowGrid(false);
  table_->setWordWrap(false);
  table_->setIconSize(QSize(PrinterTableModel::kPictureSize, PrinterTableModel::kPictureSize));
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(PrinterTableModel::kPictureSize + 10);
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // Room between the columns: sized to their contents, they would otherwise touch.
  table_->setStyleSheet(
      QStringLiteral("QTableView::item { padding: 0px 6px; }"
                     "QHeaderView::section { padding: 4px 6px; }"));

  tablePage_ = new QWidget(this);
  permissionAdvice_ = new QLabel(pm::noPermissionAdvice(), tablePage_);
  permissionAdvice_->setObjectName(QStringLiteral("permissionAdvice"));
  permissionAdvice_->setWordWrap(true);
  permissionAdvice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  permissionAdvice_->setContentsMargins(8, 6, 8, 6);
  permissionAdvice_->hide();
  auto* tableLayout = new QVBoxLayout(tablePage_);
  tableLayout->setContentsMargins(0, 0, 0, 0);
  tableLayout->addWidget(permissionAdvice_);
  tableLayout->addWidget(table_, 1);

  noPrinterPage_ = new NoPrinterPage(demoSpec, this);
  // A small window or a large font scrolls the advice instead of squeezing its lines away.
  noPrinterScroll_ = new QScrollArea(this);
  noPrinterScroll_->setWidget(noPrinterPage_);
  noPrinterScroll_->setWidgetResizable(true);
  noPrinterScroll_->setFrameShape(QFrame::NoFrame);
  pages_ = new QStackedWidget(this);
  pages_->addWidget(noPrinterScroll_);
  pages_->addWidget(tablePage_);
  // Start-up's notices (demo mode, the model configuration) above either page.
  notices_ = new QWidget(this);
  auto* noticeLayout = new QVBoxLayout(notices_);
  noticeLayout->setContentsMargins(0, 4, 0, 4);
  notices_->hide();
  auto* central = new QWidget(this);
  auto* centralLayout = new QVBoxLayout(central);
  centralLayout->setContentsMargins(0, 0, 0, 0);
  centralLayout->setSpacing(0);
  centralLayout->addWidget(notices_);
  centralLayout->addWidget(pages_, 1);
  setCentralWidget(central);
}

void MainWindow::buildStatusBar(const QString& demoSpec) {
  statusBar()->addWidget(new UpdateStatusIndicator(model_, this), 1);
  // The notices have their point at the end: they wrap above the table rather than being cut in
  // the status bar.
  if (!demoSpec.isEmpty()) {
    addNotice(QStringLiteral("demoNotice"),
              tr("Demo mode: virtual printers (PRINTER_MAINTENANCE_SIMULATE=%1)").arg(demoSpec), QString());
  }
  versionLabel_ = new QLabel(this);
  statusBar()->addPermanentWidget(versionLabel_);
  showVersion();
}

void MainWindow::showVersion() {
  versionLabel_->setText(tr("Version %1").arg(controller_->displayVersionString()));
}

void MainWindow::addNotice(const QString& name, const QString& text, const QString& toolTip) {
  auto* notice = new QLabel(text, notices_);
  notice->setObjectName(name);
  notice->setWordWrap(true);
  notice->setTextFormat(Qt::PlainText);
  notice->setTextInteractionFlags(Qt::TextSelectableByMouse);
  notice->setContentsMargins(8, 2, 8, 2);
  if (!toolTip.isEmpty()) notice->setToolTip(toolTip);
  notices_->layout()->addWidget(notice);
  notices_->show();
}

void MainWindow::reportStartup(const QStringList& configProblems, int demoAttached,
                               const QString& demoRefusal) {
  noPrinterPage_->setDemoOutcome(demoAttached, demoRefusal);
  QStringList words;
  if (!demoRefusal.isEmpty()) words << demoRefusal;
  if (!configProblems.isEmpty())
    words << tr("Model configuration: %1 line(s) skipped, the first: %2")
                 .arg(configProblems.size())
                 .arg(configProblems.first());
  if (words.isEmpty()) return;
  // A notice above the table rather than a message over the update line; the tool tip keeps
  // every line.
  addNotice(QStringLiteral("startupNotice"), words.join(QStringLiteral(" ")),
            (QStringList{demoRefusal} + configProblems).join(QLatin1Char('\n')).trimmed());
}

// ---- Selection and state -------------------------------------------------------------------------

void MainWindow::viewSelectionChanged() {
  if (!syncingSelection_) {
    const QModelIndexList rows = table_->selectionModel()->selectedRows();
    const int row = rows.isEmpty() ? -1 : rows.first().row();
    controller_->selectRow(row);  // also the row already selected by the rule: now it is chosen
  }
  updateActions();
}

void MainWindow::showSelection(int row) {
  {
    QScopedValueRollback<bool> guard(syncingSelection_, true);
    if (row < 0 || row >= model_->rowCount()) table_->clearSelection();
    else table_->selectRow(row);
  }
  updateActions();
}

void MainWindow::showRowsOrAdvice() {
  const bool rows = model_->rowCount() > 0;
  if (!rows && pages_->currentWidget() == tablePage_) noPrinterPage_->setPrinterWasListed(true);
  pages_->setCurrentWidget(rows ? tablePage_ : static_cast<QWidget*>(noPrinterScroll_));
  updateActions();
}

bool MainWindow::showsNoPrinterPage() const { return pages_->currentWidget() == noPrinterScroll_; }

bool MainWindow::anyRefused(int first, int last) const {
  for (int row = std::max(first, 0); row <= std::min(last, model_->rowCount() - 1); ++row) {
    const TBPrinters::PrinterRef printer = model_->printerAt(row);
    if (printer &&
        (printer->printerStatus() == pm::noPermissionText() || printer->status() == pm::noPermissionText()))
      return true;
  }
  return false;
}

void MainWindow::updateActions(int firstChanged, int lastChanged) {
  // While the advice is hidden only a changed row can show it; once it shows, any row may be
  // the one that still needs it.
  const bool everyRow = firstChanged < 0 || !permissionAdvice_->isHidden();
  if (everyRow) permissionAdvice_->setVisible(anyRefused(0, model_->rowCount() - 1));
  else if (anyRefused(firstChanged, lastChanged)) permissionAdvice_->show();

  const TBPrinters::PrinterRef printer = controller_->selectedPrinter();
  // A printer in an update takes no other command until the update has ended, nor one that
  // another program is changing.
  const bool selected =
      printer != nullptr && !printer->inFirmwareUpdate() && !printer->update().heldElsewhere();
  for (QAction* action : {updateFirmware_, refresh_, resetA_, resetB_, resetM_}) action->setEnabled(selected);
  resetMenu_->menuAction()->setEnabled(selected);

  // Neither choice is current until the setting has been read.
  const bool iSerial = selected && printer->properties().hasISerialSupport() &&
                       !printer->properties().usbISerialString().isEmpty();
  usbSerialMenu_->menuAction()->setEnabled(iSerial);
  usbSerialOn_->setEnabled(iSerial);
  usbSerialOff_->setEnabled(iSerial);
  if (iSerial) {
    (printer->properties().usbISerial() ? usbSerialOn_ : usbSerialOff_)->setChecked(true);
  } else {
    // Neither choice is shown as current for a printer without the option.
    usbSerialGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
    usbSerialOn_->setChecked(false);
    usbSerialOff_->setChecked(false);
    usbSerialGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
  }
}

QAction* MainWindow::resetCounterAction(char letter) const {
  switch (letter) {
    case 'A':
      return resetA_;
    case 'B':
      return resetB_;
    case 'M':
      return resetM_;
  }
  return nullptr;
}

// A reset cannot be undone, so it is confirmed first, showing the counter's value now; the
// sheet does not block the window. Its result is told either way.
void MainWindow::confirmCounterReset(char letter) {
  const TBPrinters::PrinterRef printer = controller_->selectedPrinter();
  if (!printer) return;
  const QString name = printer->printerName();
  auto* box = new QMessageBox(QMessageBox::Question, tr("Printer Maintenance"), QString(),
                              QMessageBox::NoButton, this);
  const QString question = tr("Reset counter %1 of %2?").arg(QChar::fromLatin1(letter)).arg(name);
  const QString consequence = tr("The counter starts again from zero. This cannot be undone.");
  QtAlertPresenter::setTexts(box, question, consequence);
  QPushButton* reset = box->addButton(tr("&Reset"), QMessageBox::DestructiveRole);
  box->addButton(QMessageBox::Cancel);
  box->setDefaultButton(QMessageBox::Cancel);
  box->setAttribute(Qt::WA_DeleteOnClose);
  QPointer<QMessageBox> shown = box;
  printer->properties().readCounter(
      letter, [shown, question, consequence, letter](const std::optional<QString>& value) {
        if (shown && value)
          QtAlertPresenter::setTexts(
              shown, question,
              tr("Counter %1 now reads %2.").arg(QChar::fromLatin1(letter)).arg(*value) + u' ' + consequence);
      });
  std::weak_ptr<TBUSBPrinterOLM> target = printer;
  QPointer<MainWindow> window = this;
  connect(box, &QMessageBox::buttonClicked, this,
          [reset, target, letter, name, window](QAbstractButton* button) {
            if (button != reset) return;
            TBPrinters::PrinterRef chosen = target.lock();
            if (!chosen) return;
            chosen->properties().resetCounter(letter, [window, letter, name](bool done, const QString& why) {
              // Empty: the user cancelled, and the status bar has said so.
              if (window && (done || !why.isEmpty())) window->showCounterResetResult(letter, name, done, why);
            });
          });
  box->open();
}

// The printer's print queues and anything that reaches it by its USB serial number depend on the
// switch, and the printer must be switched off and on after it: asked first, as the command line
// does, with "Cancel" the default.
void MainWindow::confirmUsbSerialSwitch(bool on) {
  const TBPrinters::PrinterRef printer = controller_->selectedPrinter();
  if (!printer || printer->properties().usbISerial() == on) return;
  const QString name = printer->printerName();
  auto* box = new QMessageBox(QMessageBox::Question, tr("Printer Maintenance"), QString(),
                              QMessageBox::NoButton, this);
  QtAlertPresenter::setTexts(
      box,
      (on ? tr("Switch the USB serial number of %1 on?") : tr("Switch the USB serial number of %1 off?"))
          .arg(name),
      tr("The printer must be switched off and on afterwards. Print queues that reach it by its USB serial "
         "number will not find it any more."));
  QPushButton* doSwitch = box->addButton(tr("&Switch"), QMessageBox::AcceptRole);
  box->addButton(QMessageBox::Cancel);
  box->setDefaultButton(QMessageBox::Cancel);
  box->setEscapeButton(QMessageBox::Cancel);
  box->setAttribute(Qt::WA_DeleteOnClose);
  std::weak_ptr<TBUSBPrinterOLM> target = printer;
  QPointer<MainWindow> window = this;
  connect(
      box, &QMessageBox::buttonClicked, this, [doSwitch, target, on, name, window](QAbstractButton* button) {
        const TBPrinters::PrinterRef chosen = target.lock();
        if (button != doSwitch || !chosen) {
          if (window) window->showStatusLine(tr("The USB serial number of %1 was not changed.").arg(name));
          return;
        }
        chosen->properties().setEnabledUSBSerial(on, [window, name, on](bool written, const QString& why) {
          if (!window) return;
          window->updateActions();
          // The busy case has told the user already.
          if (written)
            window->showStatusLine((on ? tr("The USB serial number of %1 is now on.")
                                       : tr("The USB serial number of %1 is now off."))
                                       .arg(name));
          else if (!why.isEmpty() &&
                   why != TBUSBPrinterOLM::tr("The Selected Printer is Unavailable. (Busy)"))
            window->showStatusLine(tr("The USB serial number of %1 was not changed: %2").arg(name, why));
        });
      });
  box->open();
}

void MainWindow::showStatusLine(const QString& text) {
  pm::systemLog(text);
  ElidedLabel::showStatusLine(statusBar(), text, kStatusMs);
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Placed partly off the screen (a remembered place, a smaller screen now): back onto it.
  const QRect available = screen()->availableGeometry();
  if (!available.contains(frameGeometry())) {
    QRect frame = frameGeometry();
    frame.moveLeft(std::clamp(frame.left(), available.left(),
                              std::max(available.left(), available.right() - frame.width())));
    frame.moveTop(std::clamp(frame.top(), available.top(),
                             std::max(available.top(), available.bottom() - frame.height())));
    move(frame.topLeft());
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (quitConfirmed_ || !controller_->updateInProgress()) {
    QMainWindow::closeEvent(event);
    // A free-standing alert (an update's result) would keep the process alive without its window.
    if (event->isAccepted() && controller_->applicationShouldTerminateAfterLastWindowClosed())
      if (pm::ApplicationControl* application = pm::applicationControl()) application->terminate();
    return;
  }
  event->ignore();
  pm::quitWhenConfirmed([this] {
    quitConfirmed_ = true;
    close();
  });
}

void MainWindow::showCounterResetResult(char letter, const QString& printer, bool done, const QString& why) {
  const QString counter = QString(QChar::fromLatin1(letter));
  if (done) {
    showStatusLine(tr("Counter %1 of %2 was reset to zero.").arg(counter, printer));
    return;
  }
  auto* box =
      new QMessageBox(QMessageBox::Warning, tr("Printer Maintenance"), QString(), QMessageBox::Ok, this);
  QtAlertPresenter::setTexts(box, tr("Counter %1 of %2 was not reset.").arg(counter, printer), why);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}
