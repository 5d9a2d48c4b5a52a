#include "app/ColorTableSummary.h"

#include <QCoreApplication>
#include <QStringList>

#include "olm/model/ModelTraits.h"

namespace pm {

// The tables in the order and with the names of the model table's key list.
ColorTableSummary ColorTableSummary::fromDeviceInfo(const QVariantMap& deviceInfo) {
  ColorTableSummary summary;
  for (const ColorTableKey& key : kColorTableKeys) {
    const QString version = deviceInfo.value(QLatin1String(key.version)).toString().trimmed();
    if (version.isEmpty()) continue;
    summary.tables_.append(Table{QLatin1String(key.display), version,
                                 deviceInfo.value(QLatin1String(key.checksum)).toString().trimmed()});
  }
  return summary;
}

QString ColorTableSummary::compact() const {
  QStringList versions;
  for (const Table& table : tables_)
    if (!versions.contains(table.version)) versions.append(table.version);
  if (versions.size() == 1 && tables_.size() > 1)
    return tr("%1 (%2 tables)").arg(versions.first()).arg(tables_.size());
  return versions.join(QStringLiteral(" / "));
}

QString ColorTableSummary::details() const {
  QStringList lines;
  for (const Table& table : tables_) {
    lines.append(table.checksum.isEmpty()
                     ? tr("%1: %2").arg(table.name, table.version)
                     : tr("%1: %2, checksum %3").arg(table.name, table.version, table.checksum));
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace pm
