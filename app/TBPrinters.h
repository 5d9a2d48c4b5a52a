#pragma once
// TBPrinters: the application's controller. It starts USB discovery on the process's notification
// port, turns each arriving interface of a supported printer into a TBUSBPrinterOLM, keeps those
// printers in the ordered list the window's table shows, takes a printer out of the list once its
// interface has gone and its queued commands have run, keeps a printer selected while any is
// listed, and takes the list down at termination. It needs no window: a window (or a test) attaches
// to its signals.
//
// Implementation files: TBPrinters.cpp (start-up, selection, termination, queue tests, the
// property-change diagnostic), TBPrintersDiscovery.cpp (registration, arrival, removal, list).
//
// Threads: every member runs on the main thread [main] (asserted in debug builds), except the
// static queue tests [any]. Every change of the list is a separate block queued to the main queue
// and is announced before and after through the row signals, which is how the table model learns
// of it. Nothing here ever waits for a printer's command queue.

#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include "app/NotificationPort.h"
#include "usb/UsbPlatform.h"

class TBUSBPrinter;
class TBUSBPrinterOLM;

class TBPrinters : public QObject {
  Q_OBJECT

 public:
  using PrinterRef = std::shared_ptr<TBUSBPrinterOLM>;

  // init: becomes the application's delegate (its quit reaches applicationShouldTerminate) and
  // takes the shared notification port, made now from `registry` when there is none (by default
  // the demo mode's bus when asked for, else libusb). [main]
  explicit TBPrinters(pm::NotificationPort::Factory registry = pm::NotificationPort::defaultFactory(),
                      QObject* parent = nullptr);
  // Runs prepareForTermination. [main]
  ~TBPrinters() override;

  // ---- Queue tests and the notification port ------------------------------------------------
  // The marker key of the main queue; the same address for the life of the process. [any]
  static const void* mainQueueSpecificKey();
  // True exactly on the main queue (the thread that runs the application). [any]
  static bool isMainQueue();
  // The process's notification port (pm::NotificationPort); null when none can be made. [main]
  usb::UsbRegistry* sharedNotificationPort() const;

  // ---- Start-up ----------------------------------------------------------------------------------
  // Stores the version display string and registers for printers, adding those already attached
  // before it returns. [main]
  void awakeFromNib();
  // Stores "CFBundleShortVersionString" in the preferences. The window does the rest of the
  // launch steps (localisation) and calls this in between. [main]
  void applicationDidFinishLaunching();
  // "<short version> (build <build number>)". [main]
  QString displayVersionString() const;
  // True while any printer's firmware update is between its first write and its verified end
  // (pm::UpdateJournal); quitting then asks first (pm::quitWhenConfirmed). [any]
  bool updateInProgress() const;
  // Closing the main window quits the application. [any]
  bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

  // ---- The printer list --------------------------------------------------------------------------
  // A snapshot of the list; empty while there is none. [main]
  QList<PrinterRef> printers() const;
  // The list changes only through arrival, removal and termination: this logs and ignores. [main]
  void setPrinters(const QList<PrinterRef>& printers);
  int count() const;  // [main]
  // Printers reported or still reading their identity: not listed yet. [main]
  int arrivingCount() const;
  PrinterRef printerAt(int row) const;           // null outside the list [main]
  int rowOf(const TBUSBPrinter* printer) const;  // -1 when not listed [main]
  // How long a printer's unused interface stays open before it is given back to the system
  // (TBUSBPrinter::setIdleReleaseDelay): for the printers made from now on and those arriving
  // or listed. The default suits production; tests shorten it. [main]
  void setIdleReleaseDelay(int ms);

  // A printer that leaves during its firmware update is restarting between two phases: its row
  // stays, holding the object that left, until the printer returns (the new object takes the same
  // row, so the list's order and the selection stay) or the update stops waiting for it (its
  // return watch has ended). Such a row takes no action.
  struct Restart {
    int phase = 0;         // the phase the restart belongs to (1..3)
    qint64 elapsedMs = 0;  // since the printer left
  };
  std::optional<Restart> restartAt(int row) const;  // nullopt for a present printer [main]

  // Registers for arrival and removal of printer-class interfaces and handles those already
  // present. [main]
  void getPrintingDevices();
  // One arriving printer-class interface: checks it and adds a printer for it, soon (arrivals
  // are taken a few per turn of the event loop). [main]
  void usbInterfaceMatched(const usb::ServiceHandle& service);
  // Probes the printer, observes its firmware version and appends it once its identity has been
  // read (on its queue); a removal before then takes it away unlisted. `arrivalService` is the
  // service it arrived as (its deviceObject when not given): removal matches it even for a
  // printer that never got a service object. [main]
  void addPrinter(const PrinterRef& printer, const usb::ServiceHandle& arrivalService = {});
  // The interface of `service` has gone: the printer that holds it leaves the list once the
  // commands already queued for it have run. [main]
  void removedDeviceObject(const usb::ServiceHandle& service);
  // A listed printer announced a change of a known value ("firmwareVersion"): logged. The
  // selection stays with the printer the user chose. [main]
  void observeValueForKeyPath(const QString& keyPath, const PrinterRef& printer);

  // ---- Selection (the list's selected printer, mirrored by the window's table) -----------------
  // The selection follows the printer the user chose (by its serial number) as rows come and go:
  // when that printer leaves, the first row stands in until it returns, and no other printer
  // arriving or returning takes the selection.
  int selectedRow() const;  // -1 for none [main]
  // The selected printer to act on: null for none and for a restarting row. [main]
  PrinterRef selectedPrinter() const;
  // Selects a row (-1: none) as the user's choice; runs the selection rule. [main]
  void selectRow(int row);
  void setSelectedPrinter(const PrinterRef& printer);  // [main]
  // The selection rule: while printers are listed, one is selected (row 0 when none was). [main]
  void tableViewSelectionDidChange();

  // ---- Termination -------------------------------------------------------------------------------
  // The application quits: prepares for termination and lets it go ahead at once. [main]
  void applicationShouldTerminate();
  // Lets every printer go (listed or arriving), empties the list (queued on the main queue) and
  // destroys the notification port. [main]
  void prepareForTermination();

  // ---- Diagnostics -------------------------------------------------------------------------------
  // Installs, once per process, a hook that logs every change announcement of the printers listed
  // from then on, flagging "printerStatus" changes made off the main queue. Off unless called. [main]
  static void swapImpsforPrivateAPI();

 signals:
  // The list's row changes, each pair around one change (like QAbstractItemModel's).
  void printerAboutToBeInserted(int row);
  void printerInserted(int row);
  void printerAboutToBeRemoved(int row);
  void printerRemoved(int row);
  void printersAboutToBeReset();
  void printersReset();
  // The row's printer object or its restart changed (the row itself stays).
  void printerChanged(int row);
  // The selected row changed (-1: none).
  void selectionChanged(int row);

 private:
  struct Entry {
    PrinterRef printer;
    usb::ServiceHandle service;        // the service it arrived as
    bool leaving = false;              // its removal is on its way through the command queue
    uint64_t order = 0;                // when it arrived: the list keeps this order
    std::optional<Restart> restart{};  // left during its update (elapsedMs unused here)
    QElapsedTimer restartClock{};
    int restartGraceChecks = 0;  // checks left before a row no return watch waits for goes
  };

  static constexpr int kArrivalsPerTurn = 4;
  static constexpr int kRestartCheckMs = 1000;
  // A printer may leave before its update has started to wait for it: it gets this many checks.
  static constexpr int kRestartGraceChecks = 5;
  void takeArrivals();
  void readyToList(const PrinterRef& printer);
  void listReady();
  void selectFirstRowByRule();
  void makePrinter(const usb::ServiceHandle& service);
  void observe(const PrinterRef& printer);
  void stopObserving(const TBUSBPrinter* printer);
  void appendPrinter(const PrinterRef& printer);
  void takePrinterOut(const TBUSBPrinter* printer);
  // Stops observing the printer and lets it go (prepareForRelease, or prepareForQuit). [main]
  void letGo(const PrinterRef& printer, bool quitting = false);
  void emptyList();
  bool matches(const Entry& entry, const usb::ServiceHandle& service) const;
  // The row of a restarting printer with this printer's device key, or -1. [main]
  int restartingRowFor(const TBUSBPrinterOLM& printer) const;
  // Drops the restarting rows the update no longer waits for. [main]
  void checkRestarts();
  void eraseRow(int row);
  // What identifies a printer across its re-reads and restarts: its serial number, else its USB
  // device key. [main]
  static QString placeKey(const TBUSBPrinterOLM& printer);

  const pm::NotificationPort::Factory registryFactory_;
  usb::UsbRegistry* notifyPort_ = nullptr;
  bool notificationsRegistered_ = false;
  std::optional<std::vector<Entry>> printers_;  // nullopt before the first printer and after termination
  std::deque<usb::ServiceHandle> arrivals_;     // reported, printer not made yet
  std::vector<Entry> arriving_;                 // made, identity still being read: not listed yet
  std::deque<PrinterRef> ready_;                // identity read, to be listed on the next turns
  uint64_t arrivalCount_ = 0;
  int selectedRow_ = -1;
  std::optional<int> idleReleaseMs_;  // none: the printers' default
  bool firstRowByRule_ = false;       // row 0 was selected by the rule, not chosen
  QString chosen_;                    // placeKey of the printer the user chose; empty: none yet
  bool listChanging_ = false;         // between the row signals of one change: selectRow ignored
  // The place in the list of every printer listed so far (its arrival order, by placeKey): a
  // printer read afresh or back from a restart takes its old place, not the end of the list.
  QHash<QString, uint64_t> places_;
  QTimer restartCheck_;  // runs while a row is restarting
};
