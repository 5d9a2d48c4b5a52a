#pragma once
// Looks the texts of a menu up in the application's string table, where each text is its own key:
// a text without a translation stays as it is. Items are translated after their submenus, titles
// before tool tips, and a menu's own title last. [main]

#include <QString>

class QMenu;
class QMenuBar;

namespace pm {

// The string-table look-up of the application shell (context "PrinterMaintenance"). [any]
QString localizedString(const QString& text);

void localizeItemsInMenu(QMenu* menu);
void localizeItemsInMenu(QMenuBar* menuBar);

}  // namespace pm
