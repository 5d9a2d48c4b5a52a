#include "cli/MetricsReport.h"

#include <QSaveFile>

#include "cli/UpdateResults.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/UpdateHistory.h"

namespace pm::cli {

namespace {

// The codes a printer reports, as their texts name them (TBUSBPrinterOLM::stringForKTStatusString).
constexpr int kStatusCodes[] = {0,    1,    500,  510,  900,  1000, 1010, 1100, 1200, 1300, 1400, 1500,
                                1600, 2000, 2100, 2200, 2300, 2400, 2500, 2600, 2610, 2700, 2800, 3000};

// A label value: backslash, double quote and line feed escaped.
QString label(const std::optional<QString>& value) {
  QString text = value.value_or(QString());
  text.replace(u'\\', QStringLiteral("\\\\"))
      .replace(u'"', QStringLiteral("\\\""))
      .replace(u'\n', QStringLiteral("\\n"));
  return text;
}

class Exposition {
 public:
  void family(const char* name, const char* help) {
    out_ += QStringLiteral("# HELP %1 %2\n# TYPE %1 gauge\n").arg(QLatin1String(name), QLatin1String(help));
  }
  void sample(const char* name, const QString& labels, double value) {
    out_ += QLatin1String(name);
    if (!labels.isEmpty()) out_ += u'{' + labels + u'}';
    out_ += u' ' + QString::number(value, 'g', 17) + u'\n';
  }
  QString text() const { return out_; }

 private:
  QString out_;
};

}  // namespace

std::optional<int> statusCodeOf(const std::optional<QString>& statusText) {
  if (!statusText) return std::nullopt;
  if (*statusText == TBUSBPrinterOLM::stringForKTStatusString(TBUSBPrinterOLM::kUpdateModeCode)) return -1;
  for (const int code : kStatusCodes)
    if (*statusText ==
        TBUSBPrinterOLM::stringForKTStatusString(QString::number(code).rightJustified(5, u'0')))
      return code;
  return std::nullopt;
}

QString metricsText(const QList<PrinterFacts>& printers, const QList<pm::UpdateOutcome>& history) {
  const auto labelsOf = [](const PrinterFacts& p) {
    return QStringLiteral("model=\"%1\",serial=\"%2\"").arg(label(p.model), label(p.serial));
  };
  const auto lastOutcome = [&history](const PrinterFacts& p) -> const pm::UpdateOutcome* {
    for (auto it = history.crbegin(); it != history.crend(); ++it)
      if (p.serial && it->printer == *p.serial) return &*it;
    return nullptr;
  };
  Exposition x;
  x.family("printer_maintenance_printers", "Supported printers listed on this machine.");
  x.sample("printer_maintenance_printers", {}, printers.size());

  x.family(
      "printer_maintenance_printer_status_code",
      "The printer's status code (0 idle, 1000 and up a condition to correct, -1 firmware update mode).");
  for (const PrinterFacts& p : printers)
    if (const std::optional<int> code = statusCodeOf(p.status))
      x.sample("printer_maintenance_printer_status_code", labelsOf(p), *code);

  x.family("printer_maintenance_printer_firmware_info",
           "Always 1; the installed and the shipped firmware versions are its labels.");
  for (const PrinterFacts& p : printers)
    x.sample("printer_maintenance_printer_firmware_info",
             labelsOf(p) + QStringLiteral(",firmware=\"%1\",available=\"%2\"")
                               .arg(label(p.firmware), label(p.availableFirmware)),
             1);

  x.family("printer_maintenance_printer_newer_firmware_available",
           "1 when this program ships a newer firmware than the printer runs, else 0.");
  for (const PrinterFacts& p : printers)
    if (p.firmwareState != FirmwareState::Unknown)
      x.sample("printer_maintenance_printer_newer_firmware_available", labelsOf(p),
               p.firmwareState == FirmwareState::NewerAvailable ? 1 : 0);

  x.family("printer_maintenance_printer_lifetime_counter", "Prints made in the printer's life.");
  for (const PrinterFacts& p : printers) {
    bool ok = false;
    const qint64 count = p.lifetimeCounter ? p.lifetimeCounter->toLongLong(&ok) : 0;
    if (ok) x.sample("printer_maintenance_printer_lifetime_counter", labelsOf(p), double(count));
  }

  x.family("printer_maintenance_printer_update_stage",
           "The phase (1 to 3) of an unfinished firmware update, 0 when none is under way.");
  for (const PrinterFacts& p : printers)
    x.sample("printer_maintenance_printer_update_stage", labelsOf(p), p.updateStage.value_or(0));

  // Two families filled in one pass: each keeps its samples under its own header.
  Exposition results;
  Exposition times;
  results.family("printer_maintenance_printer_last_update_result",
                 "Always 1; the result of the printer's last recorded update is its label.");
  times.family("printer_maintenance_printer_last_update_timestamp_seconds",
               "When the printer's last recorded update ended, in seconds since 1970.");
  for (const PrinterFacts& p : printers) {
    const pm::UpdateOutcome* last = lastOutcome(p);
    if (!last) continue;
    results.sample("printer_maintenance_printer_last_update_result",
                   labelsOf(p) + QStringLiteral(",result=\"%1\"").arg(recordedWord(*last)), 1);
    if (last->time.isValid())
      times.sample("printer_maintenance_printer_last_update_timestamp_seconds", labelsOf(p),
                   double(last->time.toSecsSinceEpoch()));
  }
  return x.text() + results.text() + times.text();
}

bool writeAtomically(const QString& path, const QString& text, QString* error) {
  QSaveFile file(path);
  const QByteArray bytes = text.toUtf8();
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) return true;
  if (error) *error = file.errorString();
  return false;
}

}  // namespace pm::cli
