// TBUSBPrinterOLM: the colour-table update of phase 3: "TBL_CL" once, then each table of the
// archive as its version name and its data, with the displayed tables refreshed after each.

#include "support/SystemLog.h"
#include "update/FirmwareArchive.h"
#include "vendor/TBUSBPrinterOLM.h"

namespace {
constexpr int32_t kCommandTableClear = 32;
constexpr int32_t kCommandTableData = 33;
constexpr int32_t kCommandTableVersion = 35;
}  // namespace

void TBUSBPrinterOLM::updateColorTables(std::function<void(bool written)> completion) {
  if (!verifyFirmwareArchive()) {
    pm::systemLog(QStringLiteral("failed to verify firmware archive"));
    return;
  }
  auto printer = self();
  openInterface([printer, completion = std::move(completion)](IOReturn result) {
    if (result != kIOReturnSuccess) {
      printer->showUpdateOpenFailedAlert(UpdateStep::ColorTables, result);
      return;
    }
    printer->waitForPrinterStatusCode(QStringLiteral("00000"));
    printer->setOverridePrinterStatus(QStringLiteral("Updating color tables ..."));
    printer->sendPrinterCommand(kCommandTableClear);
    bool delivered = printer->writeStatus() == kIOReturnSuccess;
    printer->getPrinterColorTableVersion();
    printer->getPrinterColorTableChecksum();

    bool written = false;
    for (const QString& name : printer->colorTableNames()) {
      if (!delivered) break;
      const QByteArray data = printer->paddedColorDataForVersion(name);
      // An unreadable table is left out rather than sent empty, and does not count as written.
      if (data.isNull()) {
        pm::systemLog(QStringLiteral("skipping color table %1: its file cannot be read").arg(name));
        continue;
      }
      printer->sendPrinterCommand(kCommandTableVersion, paddedData(name.toUpper().toLatin1()));
      delivered = printer->writeStatus() == kIOReturnSuccess;
      if (delivered) printer->sendPrinterCommand(kCommandTableData, data);
      delivered = delivered && printer->writeStatus() == kIOReturnSuccess;
      printer->getPrinterColorTableVersion();
      printer->getPrinterColorTableChecksum();
      written = delivered;
    }
    if (!delivered) {
      // The printer left (or stopped taking data) with its tables erased or half written: the
      // stage stays at 2, so the tables are written again when it returns, and this is no success.
      pm::systemLog(QStringLiteral("color tables not delivered; they are written again when the printer returns"));
      if (completion) completion(false);
      return;
    }
    printer->storeDeviceInfo(kUpdateStageKey, 3);
    if (completion) completion(written);
  });
}

QStringList TBUSBPrinterOLM::colorTableNames() {
  const QStringList names = firmwareFilenames();
  if (names.size() < 3) return {};
  return names.mid(1);
}

QByteArray TBUSBPrinterOLM::paddedColorDataForVersion(const QString& fileName) {
  const std::optional<QByteArray> data = pm::FirmwareArchive::readArchiveFile(fileName);
  pm::systemLogf("got data of length %lu for file at path %s",
                 static_cast<unsigned long>(data ? data->size() : 0), qUtf8Printable(fileName));
  return data.value_or(QByteArray());
}
