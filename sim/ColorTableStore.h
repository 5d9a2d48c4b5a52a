#pragma once
// The colour tables inside one printer: one table per slot of the model (table number and
// media), each with a 4-digit version text and its data. "TBL_CL" erases them all; a "TBL_WT"
// "Version" names the table that the following "TBL_WT" "CTRLD_UPDATE_CW" fills. A table reports
// its checksum as 4 upper-case hex digits of the CRC-16/CCITT (polynomial 0x1021, start 0xFFFF)
// of its data; an erased table reports version "0000" and checksum "0000". The combined family
// reports the version of its 300 table for the whole set, and the CRC over all its tables' data
// in slot order.
//
// Threading: not thread-safe; the virtual printer calls it under its own lock.

#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>

#include "sim/SimModels.h"

namespace sim {

struct ColorTable {
  TableSlot slot;
  QString version;  // "0100"; "0000" when erased
  QByteArray data;
  QString name;  // the version name it was written with ("PZA_PD_300_0100.CWD"); empty: factory, erased
  QString checksum() const;
};

class ColorTableStore {
 public:
  // Starts with factory tables of the given version in every slot.
  ColorTableStore(Model model, const QString& factoryVersion);

  QList<ColorTable> tables() const { return tables_; }
  // Replaces one table (tests and demo set-ups); false when the model has no such slot.
  bool setTable(TableSlot slot, const QString& version, const QByteArray& data);

  // "TBL_CL".
  void eraseAll();
  // "TBL_WT" "Version": the upper-cased file name, zero-padded to a multiple of 4 bytes. Returns
  // an explanation when the printer cannot take it.
  std::optional<QString> selectByVersionName(const QByteArray& name);
  // "TBL_WT" "CTRLD_UPDATE_CW": the data of the table last named.
  std::optional<QString> writeSelected(const QByteArray& data);

  // Reads of one slot; std::nullopt when the model has no such table.
  std::optional<QString> versionOf(TableSlot slot) const;
  std::optional<QString> checksumOf(TableSlot slot) const;
  // The combined family's answers for its whole set.
  QString setVersion() const;
  QString setChecksum() const;

 private:
  ColorTable* find(TableSlot slot);
  const ColorTable* find(TableSlot slot) const;

  Model model_;
  QList<ColorTable> tables_;
  std::optional<ColorTable> selected_;  // named by the last "Version" write, awaiting its data
};

}  // namespace sim
