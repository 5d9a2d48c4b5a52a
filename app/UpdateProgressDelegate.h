#pragma once
// Paints the printer table's status cell: the status text as usual and, while the printer is in
// a firmware update, a small bar beside it (PrinterTableModel::updateBarAt): which of the three
// phases runs ("Phase 2 of 3", filled to the middle of that phase), or while the colour tables are
// written how many of them are ("4 of 12 tables").
//
// Threads: [main] for every member.

#include <QStyledItemDelegate>

class PrinterTableModel;

class UpdateProgressDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  static constexpr int kBarWidth = 130;
  static constexpr int kBarHeight = 18;
  static constexpr int kSpacing = 8;

  UpdateProgressDelegate(const PrinterTableModel* model, QObject* parent = nullptr);

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override;

  // The phase shown in the row of `index` (0: no bar).
  int phaseAt(const QModelIndex& index) const;
  // Where the bar goes in a cell.
  static QRect barRect(const QRect& cell);

 private:
  const PrinterTableModel* model_;
};
