#include "app/MenuLocalization.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMenuBar>

#include "support/MainQueue.h"

namespace pm {

namespace {

// QAction answers its text (without mnemonics) as tool tip when none was set.
bool hasOwnToolTip(const QAction* action) {
  QString automatic = action->text();
  automatic.remove(QLatin1Char('&'));
  return !action->toolTip().isEmpty() && action->toolTip() != automatic;
}

void localizeItems(const QList<QAction*>& items) {
  for (QAction* item : items) {
    if (item->isSeparator()) continue;
    if (QMenu* submenu = item->menu()) localizeItemsInMenu(submenu);
    const bool ownToolTip = hasOwnToolTip(item);
    const QString toolTip = item->toolTip();
    const QString title = localizedString(item->text());
    if (title != item->text()) item->setText(title);
    if (ownToolTip) {
      const QString translated = localizedString(toolTip);
      if (translated != toolTip) item->setToolTip(translated);
    }
  }
}

}  // namespace

QString localizedString(const QString& text) {
  if (text.isEmpty()) return text;
  return QCoreApplication::translate("PrinterMaintenance", text.toUtf8().constData());
}

void localizeItemsInMenu(QMenu* menu) {
  Q_ASSERT(isMainQueue());
  if (menu == nullptr) return;
  localizeItems(menu->actions());
  const QString title = localizedString(menu->title());
  if (title != menu->title()) menu->setTitle(title);
}

void localizeItemsInMenu(QMenuBar* menuBar) {
  Q_ASSERT(isMainQueue());
  if (menuBar != nullptr) localizeItems(menuBar->actions());
}

}  // namespace pm
