#pragma once
// The status bar's word on firmware updates: while any printer is being updated it says which
// printer, which phase runs and that the printer must stay connected; otherwise it is hidden.
// A printer restarts between phases (its row says so, or it has left the list); its update is
// still running then, so its line stays until the printer returns or the update stops waiting for
// it (UpdateReturnWatch), and says that the printer is restarting. It stays one line, cut at its
// end in a narrow window; the tool tip has every printer's line.
//
// Threads: [main] for every member.

#include <QHash>
#include <QTimer>
#include "app/ElidedLabel.h"

class PrinterTableModel;
class QModelIndex;

class UpdateStatusIndicator : public ElidedLabel {
  Q_OBJECT

 public:
  explicit UpdateStatusIndicator(const PrinterTableModel* model, QWidget* parent = nullptr);

  bool updateRunning() const { return !updates_.isEmpty(); }

 private:
  struct Update {
    QString printer;  // its description
    int phase = 0;
    bool restarting = false;
    int graceTicks = 0;  // checks left before a restarting printer no watch waits for is dropped
  };

  void refresh(int first = 0, int last = -1);  // the rows first..last (-1: to the end)
  void rowsLeaving(const QModelIndex& parent, int first, int last);
  void checkRestarting();
  void present();

  const PrinterTableModel* model_;
  QHash<QString, Update> updates_;  // by device key
  QTimer restartCheck_;
};
