// TBUSBPrinterOLM: the firmware archive of this printer: verification and the stored file list,
// the firmware image, and the new and available firmware versions.

#include "support/MainQueue.h"
#include "support/SystemLog.h"
#include "update/FirmwareArchive.h"
#include "vendor/TBUSBPrinterOLM.h"

namespace {
const QString kFilenamesKey = QStringLiteral("firmwareFilenames");
}  // namespace

// ---- Class operations ----------------------------------------------------------------------------

QString TBUSBPrinterOLM::asciiHexForData(const QByteArray& data) {
  return pm::FirmwareArchive::asciiHexForData(data);
}

QString TBUSBPrinterOLM::verifyBlob(const QByteArray& data) {
  return pm::FirmwareArchive::verifyBlob(data);
}

std::optional<QStringList> TBUSBPrinterOLM::verifyFirmwareArchiveForProductID(uint16_t productId) {
  return pm::FirmwareArchive::verifyFirmwareArchiveForProductID(productId);
}

bool TBUSBPrinterOLM::verifySRecData(const QByteArray& data) {
  return pm::FirmwareArchive::verifySRecData(data);
}

QByteArray TBUSBPrinterOLM::paddedData(QByteArray data) {
  return pm::FirmwareArchive::paddedData(std::move(data));
}

uint16_t TBUSBPrinterOLM::checksumForData(const QByteArray& data) {
  return pm::FirmwareArchive::checksumForData(data);
}

// ---- The stored list -------------------------------------------------------------------------------

bool TBUSBPrinterOLM::verifyFirmwareArchive() {
  const std::optional<QStringList> names = verifyFirmwareArchiveForProductID(productID());
  setFilenames(names);
  return names && !names->isEmpty();
}

// The list is stored at once so that the caller's next read (the entry reads the image right
// after verifying) sees it; only the announcement belongs to the main queue.
void TBUSBPrinterOLM::setFilenames(const std::optional<QStringList>& names) {
  if (names) {
    deviceInfoDict()->setValue(kFilenamesKey, *names);
  } else {
    deviceInfoDict()->remove(kFilenamesKey);
  }
  announceChange(QStringLiteral("newFirmwareVersion"));
}

QStringList TBUSBPrinterOLM::firmwareFilenames() const {
  return deviceInfoDict()->value(kFilenamesKey).toStringList();
}

// ---- Image and versions --------------------------------------------------------------------------

QByteArray TBUSBPrinterOLM::firmwareBlob() {
  const QStringList names = firmwareFilenames();
  QByteArray bytes;
  if (!names.isEmpty()) bytes = pm::FirmwareArchive::readArchiveFile(names.first()).value_or(QByteArray());
  if (!pm::FirmwareArchive::verifyMotorolaSFile(bytes)) {
    pm::systemLog(QStringLiteral("Bad firmware file! Verification failed!"));
    return {};
  }
  return paddedData(std::move(bytes));  // padded in place: the image is not copied
}

QByteArray TBUSBPrinterOLM::firmwareBlobForKey(const QString& key) {
  return paddedData(deviceInfoDict()->value(key).toByteArray());
}

QString TBUSBPrinterOLM::newFirmwareVersion() {
  QStringList names = firmwareFilenames();
  if (names.isEmpty()) {
    verifyFirmwareArchive();
    names = firmwareFilenames();
  }
  if (names.isEmpty()) return {};
  const QString& name = names.first();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? name : name.left(dot);
}

double TBUSBPrinterOLM::availableFirmwareVersion() {
  return pm::firmwareVersionNumber(newFirmwareVersion());
}
