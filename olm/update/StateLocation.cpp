#include "olm/update/StateLocation.h"

#include <QDir>

namespace pm {

QString stateDirectory() {
  QString base = qEnvironmentVariable("XDG_STATE_HOME");
  // The XDG rule: a relative path is invalid and ignored.
  if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + QStringLiteral("/.local/state");
  QString folder = base + QStringLiteral("/printer-maintenance");
  if (!qEnvironmentVariable("PRINTER_MAINTENANCE_SIMULATE").trimmed().isEmpty())
    folder += QStringLiteral("/demo");
  return folder;
}

}  // namespace pm
