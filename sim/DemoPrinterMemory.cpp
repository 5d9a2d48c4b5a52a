#include "sim/DemoPrinterMemory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QUrl>

#include "support/SystemLog.h"

namespace sim {

namespace {

QJsonObject read(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QJsonParseError error;
  const QJsonObject kept = QJsonDocument::fromJson(file.readAll(), &error).object();
  if (error.error != QJsonParseError::NoError)
    pm::systemLog(QStringLiteral("demo printer state %1 unreadable; starting from its entry").arg(path));
  return kept;
}

void save(const VirtualPrinter& printer, const QString& path) {
  const Counters counters = printer.counters();
  QJsonArray tables;
  for (const ColorTable& table : printer.colorTables())
    tables.append(QJsonObject{{QStringLiteral("number"), table.slot.number},
                              {QStringLiteral("media"), static_cast<int>(table.slot.media)},
                              {QStringLiteral("version"), table.version},
                              {QStringLiteral("data"), QString::fromLatin1(table.data.toBase64())}});
  const QJsonObject kept{{QStringLiteral("firmware"), printer.firmwareVersion()},
                         {QStringLiteral("loader"), printer.inUpdateMode()},
                         {QStringLiteral("iSerial"), printer.iSerialEnabled()},
                         {QStringLiteral("lifetimeCounter"), qint64{counters.lifetime}},
                         {QStringLiteral("counterA"), qint64{counters.a}},
                         {QStringLiteral("counterB"), qint64{counters.b}},
                         {QStringLiteral("counterM"), qint64{counters.m}},
                         {QStringLiteral("tables"), tables}};
  QSaveFile file(path);
  if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !file.open(QIODevice::WriteOnly) ||
      file.write(QJsonDocument(kept).toJson(QJsonDocument::Compact)) < 0 || !file.commit())
    pm::systemLog(QStringLiteral("demo printer state %1 not saved").arg(path));
}

uint32_t count(const QJsonObject& kept, const char* key, uint32_t otherwise) {
  const QJsonValue value = kept.value(QLatin1String(key));
  return value.isDouble() && value.toDouble() >= 0 ? static_cast<uint32_t>(value.toInteger()) : otherwise;
}

}  // namespace

QString DemoPrinterMemory::fileOf(const QString& serialNumber) const {
  // A serial number given with serial= may hold any character a file name cannot.
  return folder_ + u'/' + QString::fromLatin1(QUrl::toPercentEncoding(serialNumber)) +
         QStringLiteral(".json");
}

void DemoPrinterMemory::recall(VirtualPrinterConfig& config) const {
  if (folder_.isEmpty()) return;
  const QJsonObject kept = read(fileOf(config.serialNumber));
  if (kept.isEmpty()) return;
  if (const QString firmware = kept.value(QStringLiteral("firmware")).toString(); !firmware.isEmpty())
    config.firmwareVersion = firmware;
  config.inLoader = kept.value(QStringLiteral("loader")).toBool(config.inLoader);
  config.iSerialEnabled = kept.value(QStringLiteral("iSerial")).toBool(config.iSerialEnabled);
  config.lifetimeCounter = count(kept, "lifetimeCounter", config.lifetimeCounter);
  config.counterA = count(kept, "counterA", config.counterA);
  config.counterB = count(kept, "counterB", config.counterB);
  config.counterM = count(kept, "counterM", config.counterM);
}

void DemoPrinterMemory::watch(const std::shared_ptr<VirtualPrinter>& printer) const {
  if (folder_.isEmpty()) return;
  const QString path = fileOf(printer->serialNumber());
  for (const QJsonValue& value : read(path).value(QStringLiteral("tables")).toArray()) {
    const QJsonObject table = value.toObject();
    const TableSlot slot{table.value(QStringLiteral("number")).toInt(),
                         static_cast<Media>(table.value(QStringLiteral("media")).toInt())};
    printer->setColorTable(slot, table.value(QStringLiteral("version")).toString(),
                           QByteArray::fromBase64(table.value(QStringLiteral("data")).toString().toLatin1()));
  }
  std::weak_ptr<VirtualPrinter> weak = printer;
  printer->setStateObserver([weak, path] {
    if (const std::shared_ptr<VirtualPrinter> alive = weak.lock()) save(*alive, path);
  });
}

}  // namespace sim
