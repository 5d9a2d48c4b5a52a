#pragma once
// What printer-maintenance-cli says about one printer: the facts of the window's table row as
// values, taken from a printer object at one moment, and their two renderings (a JSON object for
// automation, a text table for people). A value never read is absent (JSON null), never a
// placeholder text such as "<NULL>".
//
// Threads: factsOf [main]; the rest is pure [any].

#include <optional>

#include <QJsonObject>
#include <QList>
#include <QString>

class TBUSBPrinterOLM;

namespace pm::cli {

// How the shipped firmware compares with the installed one, as the report names it.
enum class FirmwareState { NewerAvailable, UpToDate, OlderShipped, Unknown };
QString firmwareStateName(FirmwareState state);  // "newer-available", "up-to-date", ...

struct ColourTable {
  QString name;  // "300 SD", "610", ...
  QString version;
  std::optional<QString> checksum;
};

struct PrinterFacts {
  std::optional<QString> serial;
  std::optional<QString> manufacturer;
  std::optional<QString> model;
  std::optional<QString> status;
  std::optional<QString> usbStatus;
  std::optional<QString> firmware;
  std::optional<QString> availableFirmware;
  FirmwareState firmwareState = FirmwareState::Unknown;
  std::optional<QString> lifetimeCounter;
  QList<ColourTable> colourTables;
  std::optional<bool> usbSerialNumber;
  std::optional<int> updateStage;
  QString deviceKey;
};

// A read value, or nullopt for an empty one or a placeholder a failed read leaves.
std::optional<QString> readValue(const QString& text);

PrinterFacts factsOf(TBUSBPrinterOLM& printer);
QJsonObject toJson(const PrinterFacts& facts);
// Aligned columns, a header line first; "-" for a value not read.
QString textTable(const QList<PrinterFacts>& printers);

}  // namespace pm::cli
