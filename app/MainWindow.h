#pragma once
// The main window: the printer table (or, while no printer is listed, what to check), the version
// label, and the actions on the selected printer: "Update Firmware…", "Refresh", "Reset Counter"
// A/B/M and the USB serial-number option. Every action only starts work on the printer's own
// command queue or shows a sheet, so the window stays responsive while printers talk.
//
// Threads: [main] for every member.

#include <QMainWindow>

#include "app/TBPrinters.h"

class PrinterTableModel;
class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QScrollArea;
class QStackedWidget;
class QTableView;
class NoPrinterPage;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // `demoSpec`: the demo mode's printers, empty on real hardware.
  MainWindow(TBPrinters* controller, const QString& demoSpec, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The launch steps of the window: menus, title and column headers go through the string table;
  // the title then becomes the process name.
  void applicationDidFinishLaunching();
  // Start-up's words, once: the no-printer page says what the demo mode attached, and a status bar
  // label (named "startupNotice") the models it refused and the model configuration's problems
  // (each also in the log).
  void reportStartup(const QStringList& configProblems, int demoAttached, const QString& demoRefusal);

  QTableView* tableView() const { return table_; }
  PrinterTableModel* model() const { return model_; }
  // True while the no-printer page is shown instead of the table.
  bool showsNoPrinterPage() const;
  QAction* updateFirmwareAction() const { return updateFirmware_; }
  QAction* refreshAction() const { return refresh_; }
  QAction* resetCounterAction(char letter) const;
  QAction* usbSerialAction(bool enable) const { return enable ? usbSerialOn_ : usbSerialOff_; }
  // A line on the status bar that says how something the user started ended: one line (elided,
  // the whole text in its tool tip), also logged.
  void showStatusLine(const QString& text);
  static constexpr QSize kFrameAllowance{16, 48};  // a window manager's borders and title bar
  static constexpr int kStatusMs = 15000;          // long enough to be read after the alert that led to it

 protected:
  // Closing the window quits the application: while a firmware update is unfinished it asks first.
  void closeEvent(QCloseEvent* event) override;
  // A window that opens partly off the screen is moved onto it.
  void showEvent(QShowEvent* event) override;

 private:
  void buildActions();
  void buildMenus();
  void buildToolBar();
  void buildCentralWidget(const QString& demoSpec);
  void buildStatusBar(const QString& demoSpec);
  void showVersion();
  // A wrapped notice above the pages, named `name`.
  void addNotice(const QString& name, const QString& text, const QString& toolTip);

  void viewSelectionChanged();
  void showSelection(int row);
  void showRowsOrAdvice();
  // The actions of the selected printer, and the permission advice: for every row, or after a
  // change of rows firstChanged..lastChanged.
  void updateActions(int firstChanged = -1, int lastChanged = -1);
  bool anyRefused(int first, int last) const;
  void confirmCounterReset(char letter);
  void confirmUsbSerialSwitch(bool on);
  void showCounterResetResult(char letter, const QString& printer, bool done, const QString& why);

  TBPrinters* controller_;
  PrinterTableModel* model_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  QWidget* notices_ = nullptr;  // start-up's notices, above the pages
  NoPrinterPage* noPrinterPage_ = nullptr;
  QScrollArea* noPrinterScroll_ = nullptr;  // holds the page
  QTableView* table_ = nullptr;
  QWidget* tablePage_ = nullptr;        // the table under the permission advice
  QLabel* permissionAdvice_ = nullptr;  // shown while a listed printer may not be used
  QLabel* versionLabel_ = nullptr;
  QAction* updateFirmware_ = nullptr;
  QAction* refresh_ = nullptr;
  QAction* resetA_ = nullptr;
  QAction* resetB_ = nullptr;
  QAction* resetM_ = nullptr;
  QMenu* resetMenu_ = nullptr;
  QMenu* usbSerialMenu_ = nullptr;
  QActionGroup* usbSerialGroup_ = nullptr;
  QAction* usbSerialOn_ = nullptr;
  QAction* usbSerialOff_ = nullptr;
  QAction* quit_ = nullptr;
  bool syncingSelection_ = false;
  bool quitConfirmed_ = false;  // the user chose to quit during an update
};
