#include "cli/PrinterReport.h"

#include <algorithm>

#include <QCoreApplication>
#include <QJsonArray>

#include "app/ColorTableSummary.h"
#include "cli/JsonOutput.h"
#include "olm/model/ModelTraits.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/FirmwareArchive.h"
#include "olm/update/UpdateJournal.h"
#include "support/MainQueue.h"
#include "support/PrinterNaming.h"

namespace pm::cli {

QString firmwareStateName(FirmwareState state) {
  switch (state) {
    case FirmwareState::NewerAvailable:
      return QStringLiteral("newer-available");
    case FirmwareState::UpToDate:
      return QStringLiteral("up-to-date");
    case FirmwareState::OlderShipped:
      return QStringLiteral("older-shipped");
    case FirmwareState::Unknown:
      break;
  }
  return QStringLiteral("unknown");
}

std::optional<QString> readValue(const QString& text) {
  if (PrinterNaming::isUnread(text)) return std::nullopt;
  return text.trimmed();
}

namespace {

FirmwareState firmwareState(const std::optional<ShippedFirmware>& shipped) {
  if (!shipped) return FirmwareState::Unknown;
  switch (*shipped) {
    case ShippedFirmware::Newer:
      return FirmwareState::NewerAvailable;
    case ShippedFirmware::Same:
      return FirmwareState::UpToDate;
    case ShippedFirmware::Older:
      return FirmwareState::OlderShipped;
  }
  return FirmwareState::Unknown;
}

// Where the application itself holds the printer, else what the interest messages said.
std::optional<QString> usbStatusOf(const TBUSBPrinterOLM& printer) {
  if (std::optional<QString> said = readValue(printer.status())) return said;
  switch (printer.state()) {
    case TBUSBPrinterStateOpen:
      return QStringLiteral("USB Open");
    case TBUSBPrinterStateClosed:
    case TBUSBPrinterStateProbed:
      return QStringLiteral("USB Available");
    default:
      return std::nullopt;
  }
}

QJsonValue json(const std::optional<QString>& value) {
  return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

}  // namespace

PrinterFacts factsOf(TBUSBPrinterOLM& printer) {
  Q_ASSERT(isMainQueue());
  PrinterFacts facts;
  facts.serial = readValue(printer.printerSerialNumber());
  if (!facts.serial) facts.serial = readValue(printer.serialNumberUSB());
  facts.manufacturer = readValue(printer.manufacturer());
  if (!facts.manufacturer) facts.manufacturer = readValue(printer.vendorUSB());
  // The model's name as the update and the history name it ("PZA"), else what the printer says.
  if (const std::optional<PrinterModel> known = printer.printerModel()) facts.model = modelName(*known);
  else if (const std::optional<PrinterModel> byId = modelForProductId(printer.productID()))
    facts.model = modelName(*byId);
  else facts.model = readValue(printer.model());
  facts.status = readValue(printer.printerStatus());
  facts.usbStatus = usbStatusOf(printer);
  facts.firmware = readValue(printer.firmwareVersion());
  facts.availableFirmware = readValue(printer.update().newFirmwareVersion());
  facts.firmwareState =
      facts.firmware ? firmwareState(printer.update().shippedFirmware()) : FirmwareState::Unknown;
  facts.lifetimeCounter = readValue(printer.properties().lifetimeCounter());
  const ColorTableSummary summary = ColorTableSummary::fromDeviceInfo(printer.deviceInfoDict()->snapshot());
  for (const ColorTableSummary::Table& table : summary.tables()) {
    if (const std::optional<QString> version = readValue(table.version))
      facts.colourTables.append({table.name, *version, readValue(table.checksum)});
  }
  if (printer.properties().hasISerialSupport() &&
      readValue(printer.deviceInfoDict()->string(QStringLiteral("ZOVRAN_OLM_USB_ISerialisSet"))))
    facts.usbSerialNumber = printer.properties().usbISerial();
  // The record says where an unfinished update stands, also one this process only reads about.
  if (const std::optional<UpdateRecord> record = printer.update().updateRecord()) {
    facts.updateStage = static_cast<int>(record->stage);
  } else {
    bool isStage = false;
    const int stage = printer.deviceInfoDict()->value(TBUSBPrinterOLM::kUpdateStageKey).toInt(&isStage);
    if (isStage && stage >= 1 && stage <= 3) facts.updateStage = stage;
  }
  facts.deviceKey = printer.keyUSBdevice();
  return facts;
}

QJsonObject toJson(const PrinterFacts& facts) {
  QJsonArray tables;
  for (const ColourTable& table : facts.colourTables)
    tables.append(QJsonObject{{QStringLiteral("name"), table.name},
                              {QStringLiteral("version"), table.version},
                              {QStringLiteral("checksum"), json(table.checksum)}});
  return QJsonObject{
      {QStringLiteral("serial"), json(facts.serial)},
      {QStringLiteral("manufacturer"), json(facts.manufacturer)},
      {QStringLiteral("model"), json(facts.model)},
      {QStringLiteral("status"), json(facts.status)},
      {QStringLiteral("usbStatus"), json(facts.usbStatus)},
      {QStringLiteral("firmware"), json(facts.firmware)},
      {QStringLiteral("availableFirmware"), json(facts.availableFirmware)},
      {QStringLiteral("firmwareState"), firmwareStateName(facts.firmwareState)},
      {QStringLiteral("lifetimeCounter"), countOrNull(facts.lifetimeCounter)},
      {QStringLiteral("colourTables"), tables},
      {QStringLiteral("usbSerialNumber"),
       facts.usbSerialNumber ? QJsonValue(*facts.usbSerialNumber) : QJsonValue(QJsonValue::Null)},
      {QStringLiteral("updateStage"),
       facts.updateStage ? QJsonValue(*facts.updateStage) : QJsonValue(QJsonValue::Null)},
      {QStringLiteral("deviceKey"), facts.deviceKey},
  };
}

QString textTable(const QList<PrinterFacts>& printers) {
  // The heading is for people; scripts read --json.
  const QStringList header = {QCoreApplication::translate("PrinterReport", "SERIAL"),
                              QCoreApplication::translate("PrinterReport", "MODEL"),
                              QCoreApplication::translate("PrinterReport", "STATUS"),
                              QCoreApplication::translate("PrinterReport", "FIRMWARE"),
                              QCoreApplication::translate("PrinterReport", "SHIPPED"),
                              QCoreApplication::translate("PrinterReport", "COUNTER"),
                              QCoreApplication::translate("PrinterReport", "TABLES"),
                              QCoreApplication::translate("PrinterReport", "USB SERIAL"),
                              QCoreApplication::translate("PrinterReport", "UPDATE")};
  QList<QStringList> rows{header};
  // What was not read is "unknown" here as in the window (JSON says null).
  const auto text = [](const std::optional<QString>& value) {
    return value.value_or(PrinterNaming::unknown());
  };
  for (const PrinterFacts& p : printers) {
    QStringList versions;
    for (const ColourTable& table : p.colourTables)
      if (!versions.contains(table.version)) versions.append(table.version);
    rows.append(
        {text(p.serial), text(p.model), text(p.status), text(p.firmware),
         p.availableFirmware
             ? QStringLiteral("%1 (%2)").arg(*p.availableFirmware, firmwareStateName(p.firmwareState))
             : QStringLiteral("-"),
         text(p.lifetimeCounter), versions.isEmpty() ? QStringLiteral("-") : versions.join(QLatin1Char('/')),
         p.usbSerialNumber ? (*p.usbSerialNumber ? QStringLiteral("on") : QStringLiteral("off"))
                           : QStringLiteral("-"),
         p.updateStage ? QCoreApplication::translate("PrinterReport", "phase %1 of 3").arg(*p.updateStage)
                       : QStringLiteral("-")});
  }
  QList<qsizetype> widths(header.size(), 0);
  for (const QStringList& row : rows)
    for (qsizetype c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  QString out;
  for (const QStringList& row : rows) {
    QString line;
    for (qsizetype c = 0; c < row.size(); ++c)
      line += c + 1 < row.size() ? row[c].leftJustified(widths[c] + 2) : row[c];
    out += line.trimmed() + QLatin1Char('\n');
  }
  return out;
}

}  // namespace pm::cli
