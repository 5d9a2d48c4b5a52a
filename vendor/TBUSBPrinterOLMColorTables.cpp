// Colour-table readings: which tables a model holds (by model and, for KTC, firmware version),
// one read exchange per table version and checksum, each stored under its own key.
#include <QMutex>

#include "support/MainQueue.h"
#include "support/SystemLog.h"
#include "vendor/Framing.h"
#include "vendor/TBUSBPrinterOLM.h"

struct pm::ColorTableRead {
  pm::framing::Command code;
  QByteArray payload;  // the media, or none
  QString key;
  QString logPrefix;   // the log line up to the value
};

namespace {

using Read = pm::ColorTableRead;
using pm::PrinterModel;

// KTC firmware from this version on addresses its tables per media.
constexpr double kKTCFirstMediaFirmware = 4.21;

enum Table { T300, T310, T600, T610, T620 };
pm::framing::Command versionCode(Table table) { return pm::framing::tableVersionRead(table); }
pm::framing::Command checksumCode(Table table) { return pm::framing::tableChecksumRead(table); }

const QByteArray kNoMedia;
QByteArray sd() { return TBUSBPrinterOLM::commandPayloadForMediaSD(); }
QByteArray pd() { return TBUSBPrinterOLM::commandPayloadForMediaPD(); }
QByteArray pp() { return TBUSBPrinterOLM::commandPayloadForMediaPP(); }

bool isCombinedFamily(PrinterModel model) {
  return model == PrinterModel::KTA || model == PrinterModel::KTB || model == PrinterModel::VLA ||
         model == PrinterModel::KTBT;
}

std::vector<Read> ktcReads(bool perMedia, bool checksums) {
  const char* kind = checksums ? "colorTableChecksum" : "colorTableVersion";
  auto code = [checksums](Table t) { return checksums ? checksumCode(t) : versionCode(t); };
  auto line = [checksums](const QString& key) {
    return (checksums ? QStringLiteral("printer color table CHKSUM ")
                      : QStringLiteral("printer color table version ")) + key + QStringLiteral(": ");
  };
  std::vector<Read> reads;
  auto add = [&](const QByteArray& media, const char* suffix) {
    for (const auto& [table, number] : {std::pair{T610, "610"}, {T600, "600"}, {T300, "300"}}) {
      const QString key = QString::fromLatin1(kind) + QLatin1String(number) + QLatin1String(suffix);
      reads.push_back({code(table), media, key, line(key)});
    }
  };
  if (perMedia) {
    add(sd(), "SD");
    add(pd(), "PD");
  } else {
    add(kNoMedia, "PD");  // the older firmware's tables are the PD ones
  }
  return reads;
}

std::vector<Read> versionReads(PrinterModel model, double installedFirmware) {
  if (isCombinedFamily(model))
    return {{pm::framing::Command::TableSetVersion, kNoMedia, "colorTableVersion", "printer color table version: "}};
  switch (model) {
    case PrinterModel::KTC:
      return ktcReads(installedFirmware >= kKTCFirstMediaFirmware, false);
    case PrinterModel::KTD:
      return {
          {versionCode(T620), sd(), "colorTableVersion620", "printer color table version 620: "},
          {versionCode(T610), sd(), "colorTableVersion610", "printer color table version 610: "},
          {versionCode(T600), sd(), "colorTableVersion600", "printer color table version 600: "},
          {versionCode(T300), sd(), "colorTableVersion", "printer color table version 300: "},
          {versionCode(T620), pp(), "colorTableVersion620HD", "printer color table version 620HD: "},
          {versionCode(T610), pp(), "colorTableVersion610HD", "printer color table version 610HD: "},
          {versionCode(T600), pp(), "colorTableVersion600HD", "printer color table version 600HD: "},
          {versionCode(T300), pp(), "colorTableVersion300HD", "printer color table version 300HD: "},
      };
    case PrinterModel::PZA:
      return {
          {versionCode(T300), sd(), "colorTableVersion300SD", "printer color table version 300 SD: "},
          {versionCode(T310), sd(), "colorTableVersion310SD", "printer color table version 310 SD: "},
          {versionCode(T300), pd(), "colorTableVersion300PD", "printer color table version 300 PD: "},
          {versionCode(T310), pd(), "colorTableVersion310PD", "printer color table version 310 PD: "},
      };
    default:
      return {};
  }
}

std::vector<Read> checksumReads(PrinterModel model, double installedFirmware) {
  std::vector<Read> reads;
  auto add = [&reads](pm::framing::Command code, const QByteArray& media, const char* key) {
    reads.push_back({code, media, QLatin1String(key),
                     QStringLiteral("printer color table CHKSUM ") + QLatin1String(key) + QStringLiteral(": ")});
  };
  if (isCombinedFamily(model)) {
    add(pm::framing::Command::TableSetChecksum, kNoMedia, "colorTableChecksum300");  // the whole set
    return reads;
  }
  switch (model) {
    case PrinterModel::KTC:
      return ktcReads(installedFirmware >= kKTCFirstMediaFirmware, true);
    case PrinterModel::KTD:
      add(checksumCode(T620), sd(), "colorTableChecksum620");
      add(checksumCode(T610), sd(), "colorTableChecksum610");
      add(checksumCode(T600), sd(), "colorTableChecksum600");
      add(checksumCode(T300), sd(), "colorTableChecksum300");
      add(checksumCode(T620), pp(), "colorTableChecksum620HD");
      add(checksumCode(T610), pp(), "colorTableChecksum610HD");
      add(checksumCode(T600), pp(), "colorTableChecksum600HD");
      add(checksumCode(T300), pp(), "colorTableChecksum300HD");
      break;
    case PrinterModel::PZA:
      add(checksumCode(T300), sd(), "colorTableChecksum300SD");
      add(checksumCode(T310), sd(), "colorTableChecksum310SD");
      add(checksumCode(T300), pd(), "colorTableChecksum300PD");
      add(checksumCode(T310), pd(), "colorTableChecksum310PD");
      break;
    default:
      break;
  }
  return reads;
}

}  // namespace

void TBUSBPrinterOLM::getPrinterColorTableVersion(ColorTableCompletion completion) {
  const std::optional<PrinterModel> model = printerModel();
  if (!model) return;
  // KTC callers are never told: the model's read count depends on its firmware.
  if (*model == PrinterModel::KTC) completion = nullptr;
  readColorTables(versionReads(*model, installedFirmwareVersion()), std::move(completion));
}

void TBUSBPrinterOLM::getPrinterColorTableChecksum(ColorTableCompletion completion) {
  Q_UNUSED(completion);  // never called: nothing waits for the checksums
  const std::optional<PrinterModel> model = printerModel();
  if (!model) return;
  readColorTables(checksumReads(*model, installedFirmwareVersion()), nullptr);
}

void TBUSBPrinterOLM::readColorTables(const std::vector<pm::ColorTableRead>& reads,
                                      ColorTableCompletion completion) {
  Q_ASSERT(isPrinterCommandQueue());
  if (reads.empty()) return;
  auto printer = self();
  // Filled inline on this queue, one reply after the other.
  auto values = std::make_shared<QStringList>();
  const qsizetype expected = static_cast<qsizetype>(reads.size());
  for (const pm::ColorTableRead& read : reads) {
    exchangeOnQueue(read.code, read.payload,
                    [printer, read, values, expected, completion](const QByteArray& reply) {
                      const QString value = replyText(reply).value_or(QStringLiteral("NULL")).trimmed();
                      printer->storeDeviceInfo(read.key, value);
                      pm::systemLog(read.logPrefix + value);
                      values->append(value);
                      if (completion && values->size() == expected) {
                        pm::performAsyncOnMainQueue([completion, result = *values] { completion(result); });
                      }
                    });
  }
}

QString TBUSBPrinterOLM::colorTableValue(const QString& key) const {
  return deviceInfoDict()->string(key);
}

const QStringList& TBUSBPrinterOLM::colorTableKeys() {
  static const QStringList keys = {
      "colorTableVersion",      "colorTableVersion600",    "colorTableVersion610",
      "colorTableVersion620",   "colorTableChecksum300",   "colorTableChecksum600",
      "colorTableChecksum610",  "colorTableChecksum620",   "colorTableVersion300HD",
      "colorTableVersion600HD", "colorTableVersion610HD",  "colorTableVersion620HD",
      "colorTableChecksum300HD", "colorTableChecksum600HD", "colorTableChecksum610HD",
      "colorTableChecksum620HD", "colorTableVersion600SD",  "colorTableChecksum600SD",
      "colorTableVersion610SD", "colorTableChecksum610SD", "colorTableVersion600PD",
      "colorTableChecksum600PD", "colorTableVersion610PD",  "colorTableChecksum610PD",
      "colorTableVersion300SD", "colorTableChecksum300SD", "colorTableVersion310SD",
      "colorTableChecksum310SD", "colorTableVersion300PD",  "colorTableChecksum300PD",
      "colorTableVersion310PD", "colorTableChecksum310PD",
  };
  return keys;
}
