#include "app/MainWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSessionManager>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>

#include "app/MenuLocalization.h"
#include "app/NoPrinterPage.h"
#include "app/PrinterTableModel.h"
#include "app/UpdateProgressDelegate.h"
#include "app/UpdateStatusIndicator.h"
#include "support/MainQueue.h"
#include "update/QuitGuard.h"
#include "vendor/TBUSBPrinterOLM.h"

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
  // The USB serial-number option of the selected printer is read after it was listed.
  connect(model_, &QAbstractItemModel::dataChanged, this, &MainWindow::updateActions);
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
  setWindowTitle(pm::localizedString(windowTitle()));
  // The process name is the title that stays.
  setWindowTitle(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
  // The model's headers come through tr(); repaint them in the language now installed.
  model_->headerDataChanged(Qt::Horizontal, 0, PrinterTableModel::ColumnCount - 1);
  table_->viewport()->update();
}

// ---- Building ----------------------------------------------------------------------------------

void MainWindow::buildActions() {
  updateFirmware_ = new QAction(tr("Update Firmware…"), this);
  updateFirmware_->setToolTip(tr("Update the firmware and colour tables of the selected printer"));
  connect(updateFirmware_, &QAction::triggered, this, [this] {
    if (TBPrinters::PrinterRef printer = controller_->selectedPrinter()) printer->updateFirmware();
  });

  refresh_ = new QAction(tr("Refresh"), this);
  refresh_->setShortcut(QKeySequence::Refresh);
  refresh_->setToolTip(tr("Read the status and properties of the selected printer again"));
  connect(refresh_, &QAction::triggered, this, [this] {
    if (TBPrinters::PrinterRef printer = controller_->selectedPrinter()) printer->updateInfo();
  });

  resetA_ = new QAction(tr("Counter A…"), this);
  resetB_ = new QAction(tr("Counter B…"), this);
  resetM_ = new QAction(tr("Counter M…"), this);
  connect(resetA_, &QAction::triggered, this, [this] { confirmCounterReset('A'); });
  connect(resetB_, &QAction::triggered, this, [this] { confirmCounterReset('B'); });
  connect(resetM_, &QAction::triggered, this, [this] { confirmCounterReset('M'); });

  usbSerialGroup_ = new QActionGroup(this);
  usbSerialOn_ = new QAction(tr("Enabled"), usbSerialGroup_);
  usbSerialOff_ = new QAction(tr("Disabled"), usbSerialGroup_);
  for (QAction* action : {usbSerialOn_, usbSerialOff_}) action->setCheckable(true);
  connect(usbSerialGroup_, &QActionGroup::triggered, this, [this](QAction* chosen) {
    if (TBPrinters::PrinterRef printer = controller_->selectedPrinter())
      printer->setUsbISerial(chosen == usbSerialOn_);
  });

  quit_ = new QAction(tr("Quit"), this);
  quit_->setShortcut(QKeySequence::Quit);
  connect(quit_, &QAction::triggered, this, &QWidget::close);
}

void MainWindow::buildMenus() {
  QMenu* file = menuBar()->addMenu(tr("File"));
  file->addAction(quit_);

  QMenu* printer = menuBar()->addMenu(tr("Printer"));
  printer->addAction(updateFirmware_);
  printer->addAction(refresh_);
  printer->addSeparator();
  resetMenu_ = printer->addMenu(tr("Reset Counter"));
  resetMenu_->addActions({resetA_, resetB_, resetM_});
  usbSerialMenu_ = printer->addMenu(tr("USB Serial Number"));
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
  table_->setStyleSheet(QStringLiteral("QTableView::item { padding: 0px 6px; }"
                                       "QHeaderView::section { padding: 4px 6px; }"));

  noPrinterPage_ = new NoPrinterPage(demoSpec, this);
  pages_ = new QStackedWidget(this);
  pages_->addWidget(noPrinterPage_);
  pages_->addWidget(table_);
  setCentralWidget(pages_);
}

void MainWindow::buildStatusBar(const QString& demoSpec) {
  statusBar()->addWidget(new UpdateStatusIndicator(model_, this), 1);
  if (!demoSpec.isEmpty()) {
    statusBar()->addWidget(new QLabel(
        tr("Demo mode: virtual printers (PRINTER_MAINTENANCE_SIMULATE=%1)").arg(demoSpec), this));
  }
  versionLabel_ = new QLabel(tr("Version %1").arg(controller_->displayVersionString()), this);
  statusBar()->addPermanentWidget(versionLabel_);
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
    if (row < 0 || row >= model_->rowCount())
      table_->clearSelection();
    else
      table_->selectRow(row);
  }
  updateActions();
}

void MainWindow::showRowsOrAdvice() {
  const bool rows = model_->rowCount() > 0;
  if (!rows && pages_->currentWidget() == table_) noPrinterPage_->setPrinterWasListed(true);
  pages_->setCurrentWidget(rows ? static_cast<QWidget*>(table_) : noPrinterPage_);
  updateActions();
}

bool MainWindow::showsNoPrinterPage() const { return pages_->currentWidget() == noPrinterPage_; }

void MainWindow::updateActions() {
  const TBPrinters::PrinterRef printer = controller_->selectedPrinter();
  // A printer in an update takes no other command until the update has ended.
  const bool selected = printer != nullptr && !printer->inFirmwareUpdate();
  for (QAction* action : {updateFirmware_, refresh_, resetA_, resetB_, resetM_})
    action->setEnabled(selected);
  resetMenu_->menuAction()->setEnabled(selected);

  const bool iSerial = selected && printer->hasISerialSupport();
  usbSerialMenu_->menuAction()->setEnabled(iSerial);
  usbSerialOn_->setEnabled(iSerial);
  usbSerialOff_->setEnabled(iSerial);
  if (iSerial) {
    (printer->usbISerial() ? usbSerialOn_ : usbSerialOff_)->setChecked(true);
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
    case 'A': return resetA_;
    case 'B': return resetB_;
    case 'M': return resetM_;
  }
  return nullptr;
}

// A reset cannot be undone, so it is confirmed first; the sheet does not block the window.
void MainWindow::confirmCounterReset(char letter) {
  const TBPrinters::PrinterRef printer = controller_->selectedPrinter();
  if (!printer) return;
  auto* box = new QMessageBox(QMessageBox::Question, tr("Reset Counter"),
                              tr("Reset counter %1 of %2?")
                                  .arg(QChar::fromLatin1(letter))
                                  .arg(QString::fromUtf8(printer->descriptionUTF8())),
                              QMessageBox::NoButton, this);
  box->setInformativeText(tr("The counter starts again from zero. This cannot be undone."));
  QPushButton* reset = box->addButton(tr("Reset"), QMessageBox::DestructiveRole);
  box->addButton(QMessageBox::Cancel);
  box->setDefaultButton(QMessageBox::Cancel);
  box->setAttribute(Qt::WA_DeleteOnClose);
  std::weak_ptr<TBUSBPrinterOLM> target = printer;
  connect(box, &QMessageBox::buttonClicked, this, [reset, target, letter](QAbstractButton* button) {
    if (button != reset) return;
    if (TBPrinters::PrinterRef chosen = target.lock()) chosen->resetCounter(letter);
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
