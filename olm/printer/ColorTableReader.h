#pragma once
// pm::ColorTableReader: the colour-table readings of one of the maker's printers: which tables the
// model table names for the model (and, for some models, its firmware version), one read exchange
// per table version and checksum, each value stored in the printer's device information under its
// key. One per printer, owned by it (colorTables()); it lives and dies with it.
//
// Threads: as marked; [queue] the printer's command queue, [any] any (checked with Q_ASSERT in
// debug builds).

#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "support/Completion.h"

class TBUSBPrinterOLM;

namespace pm {

class ColorTableReader {
 public:
  using Completion = pm::Completion<const QList<std::optional<QString>>&>;

  explicit ColorTableReader(TBUSBPrinterOLM& printer) : printer_(printer) {}
  ColorTableReader(const ColorTableReader&) = delete;
  ColorTableReader& operator=(const ColorTableReader&) = delete;

  // Both need the interface open and run their exchanges on the queue at once; values land under
  // their keys (held without a value when no reply came, as a property does; the window and the
  // log show "NULL"). The completion runs once on the main queue when the model's reads are all
  // in, with the values read in order (nullopt for each that did not come; empty outside the
  // model table). [queue]
  void getPrinterColorTableVersion(const Completion& completion = nullptr);
  void getPrinterColorTableChecksum(const Completion& completion = nullptr);

  // The colour-table entries: the text stored under the key, or a null QString when absent. [any]
  QString colorTableValue(const QString& key) const;
  QString colorTableVersion() const { return colorTableValue(QStringLiteral("colorTableVersion")); }
  // Every colour-table key, version and checksum (pm::kColorTableKeys). [any]
  static const QStringList& colorTableKeys();

 private:
  void readColorTables(bool checksums, const Completion& completion);  // [queue]

  TBUSBPrinterOLM& printer_;  // the owner
};

}  // namespace pm
