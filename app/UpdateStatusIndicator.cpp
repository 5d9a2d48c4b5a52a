#include "app/UpdateStatusIndicator.h"

#include <QStringList>
#include <algorithm>

#include "app/PrinterTableModel.h"
#include "app/UpdatePhase.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/UpdateReturnWatch.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

namespace {

constexpr int kRestartCheckMs = 1000;
// A printer may leave before the update has started to wait for it; it gets this many checks.
constexpr int kGraceTicks = 5;

}  // namespace

UpdateStatusIndicator::UpdateStatusIndicator(const PrinterTableModel* model, QWidget* parent)
    : ElidedLabel(parent), model_(model) {
  Q_ASSERT(pm::isMainQueue());
  hide();
  // Only the rows that changed are read again (a hundred printers change often while read).
  connect(model_, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& first, const QModelIndex& last) { refresh(first.row(), last.row()); });
  connect(model_, &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) { refresh(first, last); });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] { refresh(); });
  connect(model_, &QAbstractItemModel::rowsAboutToBeRemoved, this, &UpdateStatusIndicator::rowsLeaving);
  restartCheck_.setInterval(kRestartCheckMs);
  connect(&restartCheck_, &QTimer::timeout, this, &UpdateStatusIndicator::checkRestarting);
  refresh();
}

// The listed printers tell their own state; restarting ones stay as they were.
void UpdateStatusIndicator::refresh(int first, int last) {
  Q_ASSERT(pm::isMainQueue());
  if (last < 0) last = model_->rowCount() - 1;
  for (int row = std::max(first, 0); row <= std::min(last, model_->rowCount() - 1); ++row) {
    const TBPrinters::PrinterRef printer = model_->printerAt(row);
    if (!printer) continue;
    const QString key = printer->keyUSBdevice();
    if (const std::optional<TBPrinters::Restart> restart = model_->restartAt(row)) {
      updates_.insert(key, Update{printer->printerName(), restart->phase, true, kGraceTicks});
      if (!restartCheck_.isActive()) restartCheck_.start();
      continue;
    }
    const int phase = pm::updatePhase(*printer);
    if (phase == 0) {
      // A printer back from a restart is read before its update goes on: until then it still
      // counts as restarting (checkRestarting() lets it go if the update does not go on).
      auto it = updates_.find(key);
      if (it != updates_.end() && !it->restarting) updates_.erase(it);
      continue;
    }
    updates_.insert(key, Update{printer->printerName(), phase, false, 0});
  }
  present();
}

void UpdateStatusIndicator::rowsLeaving(const QModelIndex& parent, int first, int last) {
  if (parent.isValid()) return;
  for (int row = first; row <= last; ++row) {
    const TBPrinters::PrinterRef printer = model_->printerAt(row);
    if (!printer) continue;
    auto it = updates_.find(printer->keyUSBdevice());
    if (it == updates_.end()) continue;
    it->restarting = true;
    it->graceTicks = kGraceTicks;
  }
  if (!restartCheck_.isActive()) restartCheck_.start();
  present();
}

void UpdateStatusIndicator::checkRestarting() {
  bool anyRestarting = false;
  for (auto it = updates_.begin(); it != updates_.end();) {
    if (it->restarting && !pm::UpdateReturnWatch::isWatching(it.key()) && --it->graceTicks <= 0) {
      it = updates_.erase(it);
      continue;
    }
    anyRestarting = anyRestarting || it->restarting;
    ++it;
  }
  if (!anyRestarting) restartCheck_.stop();
  present();
}

void UpdateStatusIndicator::present() {
  QStringList lines;
  for (auto it = updates_.cbegin(); it != updates_.cend(); ++it) {
    const QString what =
        it->restarting ? tr("the printer is restarting") : pm::updatePhaseDescription(it->phase);
    lines
        << tr("Firmware update running: %1, %2 (%3).").arg(it->printer, pm::updatePhaseText(it->phase), what);
  }
  // The most important first: a narrow window cuts the end of the line; the tool tip has it all.
  const QString line = lines.join(QLatin1Char(' '));
  if (!lines.isEmpty()) lines << tr("Do not unplug the printer or switch it off.");
  if (line != fullText()) {
    setFullText(line, lines.join(QLatin1Char('\n')));
    if (!line.isEmpty()) pm::systemLog(line);
  }
  setVisible(!lines.isEmpty());
}
