#pragma once
// The colour-table versions and checksums of one printer, gathered from its device information
// for the printer table: a compact cell text and the full list for its tool tip. A value type. [any]

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QVariantMap>

namespace pm {

class ColorTableSummary {
  Q_DECLARE_TR_FUNCTIONS(PrinterMaintenance)

 public:
  struct Table {
    QString name;  // "300 SD", "610", ...
    QString version;
    QString checksum;  // empty when none was read
  };

  static ColorTableSummary fromDeviceInfo(const QVariantMap& deviceInfo);

  bool isEmpty() const { return tables_.isEmpty(); }
  const QList<Table>& tables() const { return tables_; }
  // The version when every table has the same one ("1.02 (4 tables)"), else the distinct versions
  // in table order ("1.02 / 1.03"); empty without tables.
  QString compact() const;
  // One line per table: "300 SD: 1.02, checksum 8F3A".
  QString details() const;

 private:
  QList<Table> tables_;
};

}  // namespace pm
