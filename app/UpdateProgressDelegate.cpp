#include "app/UpdateProgressDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QStyleOptionProgressBar>
#include <QToolTip>

#include "app/PrinterTableModel.h"
#include "app/UpdatePhase.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "support/MainQueue.h"

UpdateProgressDelegate::UpdateProgressDelegate(const PrinterTableModel* model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {
  Q_ASSERT(pm::isMainQueue());
}

int UpdateProgressDelegate::phaseAt(const QModelIndex& index) const {
  const auto bar = model_->updateBarAt(index.row());
  return bar ? bar->phase : 0;
}

QRect UpdateProgressDelegate::barRect(const QRect& cell) {
  const int height = std::min(kBarHeight, cell.height() - 4);
  return QRect(cell.right() - kBarWidth - kSpacing / 2 + 1, cell.center().y() - height / 2 + 1, kBarWidth,
               height);
}

void UpdateProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
  Q_ASSERT(pm::isMainQueue());
  const std::optional<PrinterTableModel::UpdateBar> shown = model_->updateBarAt(index.row());
  if (!shown) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  const QWidget* widget = option.widget;
  QStyle* style = widget ? widget->style() : QApplication::style();

  // The cell's background (selection, alternating colour) spans the whole cell; the text keeps
  // clear of the bar.
  QStyleOptionViewItem background(option);
  initStyleOption(&background, index);
  background.text.clear();
  style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);
  QStyleOptionViewItem text(option);
  text.rect.setRight(option.rect.right() - kBarWidth - kSpacing);
  QStyledItemDelegate::paint(painter, text, index);

  QStyleOptionProgressBar bar;
  bar.initFrom(widget);
  bar.state = QStyle::State_Enabled | QStyle::State_Horizontal;
  bar.rect = barRect(option.rect);
  bar.minimum = 0;
  bar.maximum = shown->total;
  bar.progress = shown->done;
  bar.text = shown->text;
  bar.textVisible = true;
  bar.textAlignment = Qt::AlignCenter;
  style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}

QSize UpdateProgressDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  if (phaseAt(index) != 0) size.rwidth() += kBarWidth + kSpacing;
  return size;
}

bool UpdateProgressDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                       const QStyleOptionViewItem& option, const QModelIndex& index) {
  const int phase = phaseAt(index);
  if (event != nullptr && event->type() == QEvent::ToolTip && phase != 0 &&
      barRect(option.rect).contains(event->pos())) {
    QToolTip::showText(event->globalPos(),
                       pm::updatePhaseText(phase) + QStringLiteral(": ") + pm::updatePhaseDescription(phase),
                       view);
    return true;
  }
  return QStyledItemDelegate::helpEvent(event, view, option, index);
}
