#include "sim/ColorTableStore.h"

namespace sim {

namespace {

const QString kErasedVersion = QStringLiteral("0000");

uint16_t crc16(const QByteArray& data, uint16_t crc = 0xFFFF) {
  for (char c : data) {
    crc ^= static_cast<uint16_t>(static_cast<unsigned char>(c) << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

QString hex4(uint16_t value) { return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper(); }

bool isFourDigits(const QString& text) {
  if (text.size() != 4) return false;
  for (QChar c : text)
    if (!c.isDigit()) return false;
  return true;
}

QByteArray factoryData(Model model, TableSlot slot, const QString& version) {
  return QStringLiteral("%1 factory colour table %2 %3 %4")
      .arg(modelName(model))
      .arg(slot.number)
      .arg(mediaName(slot.media), version)
      .toLatin1();
}

}  // namespace

QString ColorTable::checksum() const { return data.isEmpty() ? kErasedVersion : hex4(crc16(data)); }

ColorTableStore::ColorTableStore(Model model, const QString& factoryVersion) : model_(model) {
  for (const TableSlot& slot : tableSlotsOf(model))
    tables_.append(ColorTable{slot, factoryVersion, factoryData(model, slot, factoryVersion), {}});
}

bool ColorTableStore::setTable(TableSlot slot, const QString& version, const QByteArray& data) {
  ColorTable* table = find(slot);
  if (!table) return false;
  table->version = version;
  table->data = data;
  return true;
}

void ColorTableStore::eraseAll() {
  for (ColorTable& table : tables_) {
    table.version = kErasedVersion;
    table.data.clear();
    table.name.clear();
  }
  selected_.reset();
}

// Names look like "KTA_300_0161.CWD" or "PZA_SD_300_0100.CWD": model, optional media, table
// number, version, joined by underscores.
std::optional<QString> ColorTableStore::selectByVersionName(const QByteArray& name) {
  selected_.reset();
  if (name.isEmpty() || name.size() % 4 != 0)
    return QStringLiteral("version name not padded to a multiple of 4 bytes");
  QByteArray trimmed = name;
  while (trimmed.endsWith('\0')) trimmed.chop(1);
  const QString text = QString::fromLatin1(trimmed);
  if (!text.endsWith(QLatin1String(".CWD")))
    return QStringLiteral("version name \"%1\" is not an upper-case .CWD name").arg(text);

  const QStringList parts = text.chopped(4).split(QLatin1Char('_'));
  if (parts.size() < 3 || !isFourDigits(parts.last()))
    return QStringLiteral("version name \"%1\" has no table version").arg(text);
  bool numberOk = false;
  const int number = parts[parts.size() - 2].toInt(&numberOk);
  Media media = Media::None;
  if (parts.size() >= 4) {
    const QString& code = parts[parts.size() - 3];
    media = code == QLatin1String("SD")   ? Media::SD
            : code == QLatin1String("PD") ? Media::PD
            : code == QLatin1String("PP") ? Media::PP
                                          : Media::None;
  }
  // The KTC's tables from before media support were the PD tables.
  if (media == Media::None && model_ == Model::KTC) media = Media::PD;
  const TableSlot slot{number, media};
  if (!numberOk || !find(slot)) return QStringLiteral("this printer has no table for \"%1\"").arg(text);
  selected_ = ColorTable{slot, parts.last(), {}, text};
  return std::nullopt;
}

std::optional<QString> ColorTableStore::writeSelected(const QByteArray& data) {
  if (!selected_) return QStringLiteral("table data without a table version before it");
  if (data.isEmpty()) {
    selected_.reset();
    return QStringLiteral("empty table data");
  }
  ColorTable* table = find(selected_->slot);
  table->version = selected_->version;
  table->data = data;
  table->name = selected_->name;
  selected_.reset();
  return std::nullopt;
}

std::optional<QString> ColorTableStore::versionOf(TableSlot slot) const {
  const ColorTable* table = find(slot);
  return table ? std::optional<QString>(table->version) : std::nullopt;
}

std::optional<QString> ColorTableStore::checksumOf(TableSlot slot) const {
  const ColorTable* table = find(slot);
  return table ? std::optional<QString>(table->checksum()) : std::nullopt;
}

QString ColorTableStore::setVersion() const {
  const ColorTable* base = find(TableSlot{300, Media::None});
  return base ? base->version : kErasedVersion;
}

QString ColorTableStore::setChecksum() const {
  QByteArray all;
  for (const ColorTable& table : tables_) all.append(table.data);
  return all.isEmpty() ? kErasedVersion : hex4(crc16(all));
}

ColorTable* ColorTableStore::find(TableSlot slot) {
  for (ColorTable& table : tables_)
    if (table.slot == slot) return &table;
  return nullptr;
}

const ColorTable* ColorTableStore::find(TableSlot slot) const {
  for (const ColorTable& table : tables_)
    if (table.slot == slot) return &table;
  return nullptr;
}

}  // namespace sim
