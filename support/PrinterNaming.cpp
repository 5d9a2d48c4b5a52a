#include "support/PrinterNaming.h"

namespace pm {

QString PrinterNaming::name(const QString& model, const QString& serialNumber) {
  const QString shownModel = isUnread(model) ? tr("printer") : model.trimmed();
  const QString serial = serialNumber.trimmed();
  return isUnread(serial) ? shownModel : shownModel + QLatin1Char(' ') + serial;
}

bool PrinterNaming::isUnread(const QString& value) {
  const QString text = value.trimmed();
  return text.isEmpty() || text == QLatin1String("<NULL>") || text == QLatin1String("NULL") ||
         text == QLatin1String("(null)");
}

QString PrinterNaming::unknown() { return tr("unknown"); }

QString PrinterNaming::shown(const QString& value) { return isUnread(value) ? unknown() : value; }

}  // namespace pm
