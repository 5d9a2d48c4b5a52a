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
#include <QScrollArea>
#include <QSessionManager>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/MenuLocalization.h"
#include "app/NoPrinterPage.h"
#include "app/PrinterTableModel.h"
#include "app/UpdateProgressDelegate.h"
#include "app/UpdateStatusIndicator.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/PrinterLock.h"
#include "olm/update/QuitGuard.h"
#include "support/MainQueue.h"
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
  resize(1240, 520);
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
    if (TBPrinters::PrinterRef printer = controller_->selectedPrinter())
      printer->properties().setUsbISerial(chosen == usbSerialOn_);
    // The choice shows the printer's setting, which changes only once read back.
    updateActions();
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
  setCentralWidget(pages_);
}

void MainWindow::buildStatusBar(const QString& demoSpec) {
  statusBar()->addWidget(new UpdateStatusIndicator(model_, this), 1);
  if (!demoSpec.isEmpty()) {
    statusBar()->addWidget(
        new QLabel(tr("Demo mode: virtual printers (PRINTER_MAINTENANCE_SIMULATE=%1)").arg(demoSpec), this));
  }
  versionLabel_ = new QLabel(tr("Version %1").arg(controller_->displayVersionString()), this);
  statusBar()->addPermanentWidget(versionLabel_);
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
  // A label beside the update line rather than a message over it; the tool tip keeps every line.
  auto* notice = new QLabel(words.join(QStringLiteral(" ")), this);
  notice->setObjectName(QStringLiteral("startupNotice"));
  notice->setToolTip((QStringList{demoRefusal} + configProblems).join(QLatin1Char('\n')).trimmed());
  statusBar()->addWidget(notice);
}

// ---- Selection and state -------------------------------------------------------------------------

void MainWindow::viewSelectionChanged() {
  if (!syncingSelection_) {
    const QModelIndexList rows = table_->selectionModel()->selectedRows();
    const int row = rows.isEmpty() ? -1 : rows.first().row();
    if (row != controller_->selectedRow()) controller_->selectRow(row);
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
  const QString name = QString::fromUtf8(printer->descriptionUTF8());
  auto* box = new QMessageBox(QMessageBox::Question, tr("Printer Maintenance"),
                              tr("Reset counter %1 of %2?").arg(QChar::fromLatin1(letter)).arg(name),
                              QMessageBox::NoButton, this);
  const QString consequence = tr("The counter starts again from zero. This cannot be undone.");
  box->setInformativeText(consequence);
  QPushButton* reset = box->addButton(tr("&Reset"), QMessageBox::DestructiveRole);
  box->addButton(QMessageBox::Cancel);
  box->setDefaultButton(QMessageBox::Cancel);
  box->setAttribute(Qt::WA_DeleteOnClose);
  QPointer<QMessageBox> shown = box;
  printer->properties().readCounter(
      letter, [shown, consequence, letter](const std::optional<QString>& value) {
        if (shown && value)
          shown->setInformativeText(
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

void MainWindow::closeEvent(QCloseEvent* event) {
  if (quitConfirmed_ || !controller_->updateInProgress()) {
    QMainWindow::closeEvent(event);
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
    statusBar()->showMessage(tr("Counter %1 of %2 was reset to zero.").arg(counter, printer), 15000);
    return;
  }
  auto* box =
      new QMessageBox(QMessageBox::Warning, tr("Printer Maintenance"),
                      tr("Counter %1 of %2 was not reset.").arg(counter, printer), QMessageBox::Ok, this);
  box->setInformativeText(why);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}
