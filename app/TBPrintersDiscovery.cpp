// TBPrinters: discovery and the printer list.

#include <algorithm>

#include <QPointer>
#include <QScopedValueRollback>
#include <QTimer>

#include "app/TBPrinters.h"
#include "app/UpdatePhase.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/UpdateJournal.h"
#include "olm/update/UpdateReturnWatch.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

// ---- Registration ----------------------------------------------------------------------------

void TBPrinters::getPrintingDevices() {
  Q_ASSERT(isMainQueue());
  if (notifyPort_ == nullptr) return;
  // The registry may outlive this controller (a test's bus): its callbacks check that we are alive.
  QPointer<TBPrinters> self(this);
  notifyPort_->addInterfaceNotifications(
      [self](const usb::ServiceHandle& service) {
        if (self) self->usbInterfaceMatched(service);
      },
      [self](const usb::ServiceHandle& service) {
        if (self) self->removedDeviceObject(service);
      });
  notificationsRegistered_ = true;
}

// ---- Arrival -------------------------------------------------------------------------------------

void TBPrinters::usbInterfaceMatched(const usb::ServiceHandle& service) {
  Q_ASSERT(isMainQueue());
  if (notifyPort_ == nullptr) return;
  // Making a printer costs the main thread about a millisecond (its queue's thread starts);
  // a hundred found at once are made a few at a time, so the window keeps being served.
  arrivals_.push_back(service);
  if (arrivals_.size() == 1) QTimer::singleShot(0, this, &TBPrinters::takeArrivals);
}

void TBPrinters::takeArrivals() {
  Q_ASSERT(isMainQueue());
  for (int made = 0; made < kArrivalsPerTurn && !arrivals_.empty(); ++made) {
    const usb::ServiceHandle service = arrivals_.front();
    arrivals_.pop_front();
    makePrinter(service);
  }
  if (!arrivals_.empty()) QTimer::singleShot(0, this, &TBPrinters::takeArrivals);
}

void TBPrinters::makePrinter(const usb::ServiceHandle& service) {
  if (notifyPort_ == nullptr) return;
  IOReturn result = kIOReturnSuccess;
  std::shared_ptr<usb::UsbInterface> interface = notifyPort_->createInterface(service, &result);
  if (!interface) {
    // The registry makes the plug-in and queries it in one step; a failure is both (one line).
    pm::systemLogf("ERROR: IOCreatePlugInInterfaceForService() and QueryInterface() returned [%d]", result);
    return;
  }

  uint8_t interfaceClass = 0;
  uint8_t interfaceSubClass = 0;
  uint16_t vendor = 0;
  uint16_t product = 0;
  if (IOReturn r = interface->interfaceClass(&interfaceClass); r != kIOReturnSuccess) {
    pm::systemLogf("GetInterfaceClass() returned [%d]\n", r);
    return;
  }
  if (IOReturn r = interface->interfaceSubClass(&interfaceSubClass); r != kIOReturnSuccess) {
    pm::systemLogf("GetInterfaceSubClass() returned [%d]\n", r);
    return;
  }
  if (IOReturn r = interface->deviceVendor(&vendor); r != kIOReturnSuccess) {
    pm::systemLogf("GetDeviceVendor() returned [%d]\n", r);
    return;
  }
  if (IOReturn r = interface->deviceProduct(&product); r != kIOReturnSuccess) {
    pm::systemLogf("GetDeviceProduct() returned [%d]\n", r);
    return;
  }

  if (interfaceClass != kUSBPrintingClass) return;
  if (interfaceSubClass != kUSBPrintingSubClass) {
    pm::systemLogf("Found a device that is a printer by class, but not by subclass; subClass=%d\n",
                   interfaceSubClass);
    return;
  }
  // The two sets are independent: any listed product counts with any listed vendor.
  if (!TBUSBPrinterOLM::supportedVendorIDs().contains(vendor)) return;
  if (!TBUSBPrinterOLM::supportedProductIDs().contains(product)) return;

  if (PrinterRef printer =
          TBUSBPrinter::create<TBUSBPrinterOLM>(notifyPort_, std::move(interface), service)) {
    if (idleReleaseMs_) printer->setIdleReleaseDelay(*idleReleaseMs_);
    addPrinter(printer, service);
  }
}

void TBPrinters::setIdleReleaseDelay(int ms) {
  Q_ASSERT(isMainQueue());
  idleReleaseMs_ = ms;
  for (const Entry& entry : arriving_) entry.printer->setIdleReleaseDelay(ms);
  for (const PrinterRef& printer : ready_) printer->setIdleReleaseDelay(ms);
  if (printers_) {
    for (const Entry& entry : *printers_) entry.printer->setIdleReleaseDelay(ms);
  }
}

void TBPrinters::addPrinter(const PrinterRef& printer, const usb::ServiceHandle& arrivalService) {
  Q_ASSERT(isMainQueue());
  if (!printer) return;
  if (!printers_) printers_.emplace();
  printer->probe();
  observe(printer);
  const usb::ServiceHandle service = arrivalService ? arrivalService : printer->deviceObject();
  // Until its identity is read the printer waits outside the list, where a removal still finds
  // it (a printer unplugged during its arrival must never be listed).
  arriving_.push_back(Entry{printer, service, false, ++arrivalCount_});
  if (printer->isIdentified()) {
    readyToList(printer);
  } else {
    connect(
        printer.get(), &TBUSBPrinter::identityRead, this, [this, printer] { readyToList(printer); },
        Qt::SingleShotConnection);
  }
}

void TBPrinters::readyToList(const PrinterRef& printer) {
  Q_ASSERT(isMainQueue());
  // A row costs the window about a millisecond; printers that answer together (a hundred that
  // answer nothing time out together) join a few per turn of the event loop.
  ready_.push_back(printer);
  if (ready_.size() == 1) QTimer::singleShot(0, this, &TBPrinters::listReady);
}

void TBPrinters::listReady() {
  Q_ASSERT(isMainQueue());
  for (int listed = 0; listed < kArrivalsPerTurn && !ready_.empty(); ++listed) {
    const PrinterRef printer = ready_.front();
    ready_.pop_front();
    appendPrinter(printer);
  }
  if (!ready_.empty()) QTimer::singleShot(0, this, &TBPrinters::listReady);
}

void TBPrinters::appendPrinter(const PrinterRef& printer) {
  Q_ASSERT(isMainQueue());
  const auto arriving =
      std::find_if(arriving_.begin(), arriving_.end(), [&](const Entry& e) { return e.printer == printer; });
  // Its removal came first, or termination took the list down while this block waited.
  if (arriving == arriving_.end()) return;
  // Copied out before the erase: the entries behind it move up into its place, and a printer
  // listed with its neighbour's service is the one taken out when the neighbour leaves.
  const usb::ServiceHandle service = arriving->service;
  uint64_t order = arriving->order;
  arriving_.erase(arriving);
  if (!printers_) return;
  if (notifyPort_ != nullptr && service && !notifyPort_->isServiceAlive(service)) {
    // Gone, and its removal is still on its way: it must not be listed for ever.
    pm::systemLogf("not listing %s: it has gone", printer->descriptionUTF8().constData());
    letGo(printer);
    return;
  }
  // A printer back from a restart during its update takes its old row.
  if (const int row = restartingRowFor(*printer); row >= 0) {
    Entry& entry = (*printers_)[static_cast<size_t>(row)];
    pm::systemLogf("%s is back in row %d", printer->descriptionUTF8().constData(), row);
    entry.printer = printer;
    entry.service = service;
    entry.leaving = false;
    entry.restart.reset();
    emit printerChanged(row);
    if (row == selectedRow_) emit selectionChanged(row);  // its actions apply again
    return;
  }
  // Printers answer in any order; the list keeps the order in which they first arrived, also for
  // one that left and came back.
  const QString key = placeKey(*printer);
  if (const auto place = places_.constFind(key); place != places_.cend()) order = *place;
  else places_.insert(key, order);
  const auto at =
      std::find_if(printers_->begin(), printers_->end(), [order](const Entry& e) { return e.order > order; });
  const int row = static_cast<int>(at - printers_->begin());
  {
    const QScopedValueRollback<bool> changing(listChanging_, true);
    emit printerAboutToBeInserted(row);
    printers_->insert(at, Entry{printer, service, false, order});
    emit printerInserted(row);
  }
  if (selectedRow_ >= row) {
    // A chosen printer stays selected, and so does a stand-in for one; before the user has chosen
    // anything the rule's choice stays the first row. Either way the window hears it, as its own
    // selection moved with the rows.
    if (!firstRowByRule_ || !chosen_.isEmpty()) ++selectedRow_;
    emit selectionChanged(selectedRow_);
  }
  if (firstRowByRule_ && !chosen_.isEmpty() && key == chosen_) {
    // The printer the user chose is back: the selection returns to it.
    selectRow(row);
    return;
  }
  // The first printer is selected so that the window's actions have a target; an existing
  // selection stays where it is.
  if (selectedRow_ < 0) selectFirstRowByRule();
}

// ---- Removal -----------------------------------------------------------------------------------

void TBPrinters::removedDeviceObject(const usb::ServiceHandle& service) {
  Q_ASSERT(isMainQueue());
  pm::systemLog(QStringLiteral("a printer object was removed ... checking for matching device"));
  for (auto it = arrivals_.begin(); it != arrivals_.end(); ++it) {
    if (!it->isEqualTo(service)) continue;
    arrivals_.erase(it);  // gone before it was looked at
    return;
  }
  for (auto it = arriving_.begin(); it != arriving_.end(); ++it) {
    if (!matches(*it, service)) continue;
    const PrinterRef printer = it->printer;
    arriving_.erase(it);
    pm::systemLogf("removing %s before it was listed", printer->descriptionUTF8().constData());
    letGo(printer);
    return;
  }
  if (printers_) {
    for (Entry& entry : *printers_) {
      if (entry.leaving || !matches(entry, service)) continue;
      entry.leaving = true;
      const PrinterRef printer = entry.printer;
      pm::systemLogf("removing %s", printer->descriptionUTF8().constData());
      letGo(printer);

      QPointer<TBPrinters> self(this);
      // Through the command queue, so that the commands already queued for it run first.
      printer->printerCommandQueue()->async([self, printer] {
        pm::performAsyncOnMainQueue([self, printer] {
          if (self) self->takePrinterOut(printer.get());
        });
      });
      return;
    }
  }
  pm::systemLogf("failed to match a printer object for device %x", service.id());
}

void TBPrinters::letGo(const PrinterRef& printer, bool quitting) {
  Q_ASSERT(isMainQueue());
  stopObserving(printer.get());
  disconnect(printer.get(), &TBUSBPrinter::identityRead, this, nullptr);
  if (quitting) printer->prepareForQuit();
  else printer->prepareForRelease();
}

bool TBPrinters::matches(const Entry& entry, const usb::ServiceHandle& service) const {
  // The service it arrived as is the one its service object was set from; it also identifies a
  // printer that never got a service object.
  return entry.printer->deviceObject().isEqualTo(service) || entry.service.isEqualTo(service);
}

void TBPrinters::takePrinterOut(const TBUSBPrinter* printer) {
  Q_ASSERT(isMainQueue());
  const int row = rowOf(printer);
  if (row < 0) return;
  Entry& entry = (*printers_)[static_cast<size_t>(row)];
  if (!entry.restart && entry.printer->update().updateRecord()) {
    // Restarting between two phases of its update: the row stays and says so.
    entry.restart = Restart{std::max(1, pm::updatePhase(*entry.printer)), 0};
    entry.restartClock.start();
    entry.restartGraceChecks = kRestartGraceChecks;
    pm::systemLogf("%s is restarting during its update; its row stays",
                   entry.printer->descriptionUTF8().constData());
    if (!restartCheck_.isActive()) restartCheck_.start();
    emit printerChanged(row);
    if (row == selectedRow_) emit selectionChanged(row);  // its actions pause
    return;
  }
  eraseRow(row);
}

void TBPrinters::eraseRow(int row) {
  // The selection follows its printer; the removed printer's selection is cleared, which the
  // selection rule then moves to the first row.
  const int before = selectedRow_;
  {
    const QScopedValueRollback<bool> changing(listChanging_, true);
    emit printerAboutToBeRemoved(row);
    printers_->erase(printers_->begin() + row);
    selectedRow_ = before == row ? -1 : (before > row ? before - 1 : before);
    emit printerRemoved(row);
  }
  if (selectedRow_ != before) {
    emit selectionChanged(selectedRow_);
    tableViewSelectionDidChange();
  }
}

int TBPrinters::restartingRowFor(const TBUSBPrinterOLM& printer) const {
  if (!printers_) return -1;
  const QString key = printer.keyUSBdevice();
  for (size_t i = 0; i < printers_->size(); ++i) {
    const Entry& entry = (*printers_)[i];
    if (entry.restart && entry.printer->keyUSBdevice() == key) return static_cast<int>(i);
  }
  return -1;
}

void TBPrinters::checkRestarts() {
  Q_ASSERT(isMainQueue());
  bool restarting = false;
  for (int row = count() - 1; row >= 0; --row) {
    Entry& entry = (*printers_)[static_cast<size_t>(row)];
    if (!entry.restart) continue;
    // The update waits for the printer while its return watch runs (it alerts the user when it
    // ends); a row it does not wait for goes after a few checks.
    const bool waited = pm::UpdateReturnWatch::isWatching(entry.printer->keyUSBdevice());
    if (!waited && --entry.restartGraceChecks <= 0) {
      pm::systemLogf("%s did not come back; its row goes", entry.printer->descriptionUTF8().constData());
      eraseRow(row);
      continue;
    }
    if (waited) entry.restartGraceChecks = kRestartGraceChecks;
    restarting = true;
    emit printerChanged(row);  // its elapsed time
  }
  if (!restarting) restartCheck_.stop();
}

std::optional<TBPrinters::Restart> TBPrinters::restartAt(int row) const {
  Q_ASSERT(isMainQueue());
  if (row < 0 || row >= count()) return std::nullopt;
  const Entry& entry = (*printers_)[static_cast<size_t>(row)];
  if (!entry.restart) return std::nullopt;
  return Restart{entry.restart->phase, entry.restartClock.elapsed()};
}

// ---- The list ------------------------------------------------------------------------------------

QList<TBPrinters::PrinterRef> TBPrinters::printers() const {
  Q_ASSERT(isMainQueue());
  QList<PrinterRef> snapshot;
  if (printers_)
    for (const Entry& entry : *printers_) snapshot.append(entry.printer);
  return snapshot;
}

void TBPrinters::setPrinters(const QList<PrinterRef>& printers) {
  Q_UNUSED(printers);
  pm::systemLogf("inside %s", "-[TBPrinters setPrinters:]");
}

int TBPrinters::count() const {
  Q_ASSERT(isMainQueue());
  return printers_ ? static_cast<int>(printers_->size()) : 0;
}

int TBPrinters::arrivingCount() const {
  Q_ASSERT(isMainQueue());
  return static_cast<int>(arrivals_.size() + arriving_.size());
}

TBPrinters::PrinterRef TBPrinters::printerAt(int row) const {
  Q_ASSERT(isMainQueue());
  if (row < 0 || row >= count()) return nullptr;
  return (*printers_)[static_cast<size_t>(row)].printer;
}

int TBPrinters::rowOf(const TBUSBPrinter* printer) const {
  Q_ASSERT(isMainQueue());
  if (!printers_ || printer == nullptr) return -1;
  for (size_t i = 0; i < printers_->size(); ++i)
    if ((*printers_)[i].printer.get() == printer) return static_cast<int>(i);
  return -1;
}

void TBPrinters::observeValueForKeyPath(const QString& keyPath, const PrinterRef& printer) {
  Q_ASSERT(isMainQueue());
  pm::systemLog(QStringLiteral("%1 %2").arg(
      QStringLiteral("-[TBPrinters observeValueForKeyPath:ofObject:change:context:]"), keyPath));
  Q_UNUSED(printer);
}
