#include "app/ColorTableSummary.h"

#include <QCoreApplication>
#include <QStringList>

namespace pm {

namespace {

// The table suffixes of the version keys, in the order the tables are shown. The bare key is the
// version of the whole set (or of table 300 on models with several tables); its checksum is
// stored under the 300 key.
const char* const kSuffixes[] = {"",      "600",   "610",   "620",   "300SD", "300PD",
                                 "310SD", "310PD", "600SD", "600PD", "610SD", "610PD",
                                 "300HD", "600HD", "610HD", "620HD"};

QString displayName(const QString& suffix) {
  if (suffix.isEmpty()) return QStringLiteral("300");
  if (suffix.size() > 3) return suffix.left(3) + QLatin1Char(' ') + suffix.mid(3);
  return suffix;
}

}  // namespace

ColorTableSummary ColorTableSummary::fromDeviceInfo(const QVariantMap& deviceInfo) {
  ColorTableSummary summary;
  for (const char* raw : kSuffixes) {
    const QString suffix = QString::fromLatin1(raw);
    const QString version =
        deviceInfo.value(QStringLiteral("colorTableVersion") + suffix).toString().trimmed();
    if (version.isEmpty()) continue;
    const QString checksumKey =
        QStringLiteral("colorTableChecksum") + (suffix.isEmpty() ? QStringLiteral("300") : suffix);
    summary.tables_.append(
        Table{displayName(suffix), version, deviceInfo.value(checksumKey).toString().trimmed()});
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
