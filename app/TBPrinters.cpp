#include "app/TBPrinters.h"

#include <atomic>
#include <utility>

#include <QCoreApplication>
#include <QPointer>
#include <QScopedValueRollback>
#include <QSettings>

#include "app/NotificationPort.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/QuitGuard.h"
#include "olm/update/UpdateJournal.h"
#include "support/MainQueue.h"
#include "support/Resources.h"
#include "support/SystemLog.h"

namespace {
// Its address is the main queue's marker key; the value itself is never read.
const char kMainQueueSpecificKey = 0;
// Set once by swapImpsforPrivateAPI; read when a printer is observed.
std::atomic<bool> g_changeDiagnosticInstalled{false};

// The property-change diagnostic. Its line formats keep the three key slots of the platform's
// announcement path; this path carries one key, so the other two are always "(null)".
void logChangeAnnouncement(const QString& key) {
  const QString null = QStringLiteral("(null)");
  if (pm::isMainQueue()) {
    pm::systemLog(QStringLiteral("%1 @#@#@#@#@#@#@#@#@#@#@#@# %2 %3 %4")
                      .arg(QStringLiteral("newPrivateAPI_Imp"), key, null, null));
    return;
  }
  if (key == QLatin1String("printerStatus"))
    pm::systemLog(QStringLiteral("setting printerStatus off Main QUEUE!"));
  pm::systemLog(QStringLiteral("%1 &&&&&&&&&&&&&&&&&&&&&&&& %2 %3 %4")
                    .arg(QStringLiteral("newPrivateAPI_Imp"), key, null, null));
}
}  // namespace

// ---- Queue tests and the notification port ---------------------------------------------------

const void* TBPrinters::mainQueueSpecificKey() { return &kMainQueueSpecificKey; }

bool TBPrinters::isMainQueue() { return pm::isMainQueue(); }

usb::UsbRegistry* TBPrinters::sharedNotificationPort() const {
  return pm::NotificationPort::shared(registryFactory_);
}

// ---- Start-up ----------------------------------------------------------------------------------

TBPrinters::TBPrinters(pm::NotificationPort::Factory registry, QObject* parent)
    : QObject(parent), registryFactory_(std::move(registry)) {
  Q_ASSERT(isMainQueue());
  if (QCoreApplication* app = QCoreApplication::instance())
    connect(app, &QCoreApplication::aboutToQuit, this, &TBPrinters::applicationShouldTerminate);
  notifyPort_ = sharedNotificationPort();
  restartCheck_.setInterval(kRestartCheckMs);
  connect(&restartCheck_, &QTimer::timeout, this, &TBPrinters::checkRestarts);
}

bool TBPrinters::updateInProgress() const { return !pm::unfinishedUpdatesText().isEmpty(); }

void TBPrinters::awakeFromNib() {
  Q_ASSERT(isMainQueue());
  const QString display = displayVersionString();
  pm::systemLog(QStringLiteral("display string is %1").arg(display));
  QSettings().setValue(QStringLiteral("prefDisplayVersionString"), display);
  pm::systemLogf("%s", "-[TBPrinters awakeFromNib]");
  // Updates an earlier run left unfinished are known before the first printer arrives; those whose
  // printer stayed away too long are told once and not asked about at every quit.
  pm::UpdateJournal::load();
  pm::archiveAbandonedUpdates();
  // Printers already attached join the list now, before launching finishes.
  getPrintingDevices();
}

void TBPrinters::applicationDidFinishLaunching() {
  Q_ASSERT(isMainQueue());
  const QString shortVersion = pm::shortVersionString();
  if (!shortVersion.isEmpty())
    QSettings().setValue(QStringLiteral("CFBundleShortVersionString"), shortVersion);
}

QString TBPrinters::displayVersionString() const {
  return tr("%1 (build %2)").arg(pm::shortVersionString(), pm::buildNumberString());
}

// ---- Selection ---------------------------------------------------------------------------------

int TBPrinters::selectedRow() const {
  Q_ASSERT(isMainQueue());
  return selectedRow_;
}

TBPrinters::PrinterRef TBPrinters::selectedPrinter() const {
  return restartAt(selectedRow()) ? nullptr : printerAt(selectedRow());
}

void TBPrinters::selectRow(int row) {
  Q_ASSERT(isMainQueue());
  // A view moves its own selection while rows come and go; that is nobody's choice.
  if (listChanging_) return;
  if (row < 0 || row >= count()) row = -1;
  firstRowByRule_ = false;
  if (row >= 0) chosen_ = placeKey(*printerAt(row));
  if (row == selectedRow_) return;
  selectedRow_ = row;
  emit selectionChanged(row);
  tableViewSelectionDidChange();
}

void TBPrinters::setSelectedPrinter(const PrinterRef& printer) { selectRow(rowOf(printer.get())); }

void TBPrinters::tableViewSelectionDidChange() {
  Q_ASSERT(isMainQueue());
  pm::systemLogf("rows = %d; selected row = %d", count(), selectedRow_);
  // Only an empty selection returns to the first row: forcing row 0 after every change would keep
  // the user from ever selecting (and so updating) any printer but the first.
  if (count() > 0 && selectedRow_ < 0) {
    pm::systemLog(QStringLiteral("selecting row 0"));
    selectFirstRowByRule();
  }
}

void TBPrinters::selectFirstRowByRule() {
  // Standing in for the chosen printer while it is away: its choice is kept for its return.
  const QString chosen = chosen_;
  selectRow(0);
  chosen_ = chosen;
  firstRowByRule_ = true;
}

QString TBPrinters::placeKey(const TBUSBPrinterOLM& printer) {
  const QString serial = printer.identitySerialNumber();
  return serial.isEmpty() ? printer.keyUSBdevice() : serial;
}

// ---- Termination -------------------------------------------------------------------------------

void TBPrinters::applicationShouldTerminate() {
  Q_ASSERT(isMainQueue());
  pm::systemLogf("inside %s\n", "-[TBPrinters applicationShouldTerminate:]");
  prepareForTermination();
}

void TBPrinters::prepareForTermination() {
  Q_ASSERT(isMainQueue());
  pm::systemLogf("inside %s\n", "-[TBPrinters prepareForTermination]");
  // Every printer is let go now: an open still retrying gives up at once and each queue ends
  // after the block it runs, so quitting never waits for a printer.
  arrivals_.clear();
  ready_.clear();
  for (const Entry& entry : std::exchange(arriving_, {})) letGo(entry.printer, true);
  if (printers_) {
    for (Entry& entry : *printers_) {
      if (!std::exchange(entry.leaving, true)) letGo(entry.printer, true);
    }
    QPointer<TBPrinters> self(this);
    pm::performAsyncOnMainQueue([self] {
      if (self) self->emptyList();
    });
  }
  if (pm::NotificationPort::exists()) pm::NotificationPort::destroy();
  notifyPort_ = nullptr;
  notificationsRegistered_ = false;
}

void TBPrinters::emptyList() {
  Q_ASSERT(isMainQueue());
  if (!printers_) return;
  const bool hadSelection = selectedRow_ >= 0;
  {
    const QScopedValueRollback<bool> changing(listChanging_, true);
    emit printersAboutToBeReset();
    for (const Entry& entry : *printers_) stopObserving(entry.printer.get());
    printers_.reset();
    selectedRow_ = -1;
    emit printersReset();
  }
  if (hadSelection) emit selectionChanged(-1);
}

TBPrinters::~TBPrinters() {
  prepareForTermination();
  pm::systemLogf("about to call [super dealloc] in %s\n", "-[TBPrinters dealloc]");
}

// ---- Diagnostics -------------------------------------------------------------------------------

void TBPrinters::swapImpsforPrivateAPI() { g_changeDiagnosticInstalled.store(true); }

void TBPrinters::observe(const PrinterRef& printer) {
  TBUSBPrinter* const source = printer.get();
  std::weak_ptr<TBUSBPrinterOLM> weak = printer;
  // Only a change of a version already known counts: the first reading of every printer at
  // start-up would otherwise move the selection to whichever printer happened to answer last.
  // A printer back from an update starts with its remembered version, so its new one counts.
  auto known = std::make_shared<QString>(printer->firmwareVersion());
  connect(source, &TBUSBPrinter::propertyChanged, this, [this, weak, known](const QString& key) {
    if (key != QLatin1String("firmwareVersion")) return;
    const PrinterRef observed = weak.lock();
    if (!observed) return;
    const QString version = observed->firmwareVersion();
    const bool changed = !known->isEmpty() && version != *known;
    *known = version;
    if (changed) observeValueForKeyPath(key, observed);
  });
  if (g_changeDiagnosticInstalled.load()) {
    // Direct: the hook must see the thread the announcement is made on.
    connect(source, &TBUSBPrinter::propertyChanged, this, &logChangeAnnouncement, Qt::DirectConnection);
  }
}

void TBPrinters::stopObserving(const TBUSBPrinter* printer) {
  disconnect(printer, &TBUSBPrinter::propertyChanged, this, nullptr);
}
