// TBUSBPrinterOLM: the firmware archive of this printer: verification and the stored file list,
// the firmware image, and the new and available firmware versions.

#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/FirmwareArchive.h"
#include "olm/update/UpdateJournal.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

namespace {
const QString kFilenamesKey = QStringLiteral("firmwareFilenames");
}  // namespace

// ---- Class operations ----------------------------------------------------------------------------

QString TBUSBPrinterOLM::asciiHexForData(const QByteArray& data) {
  return pm::FirmwareArchive::asciiHexForData(data);
}

QString TBUSBPrinterOLM::verifyBlob(const QByteArray& data) { return pm::FirmwareArchive::verifyBlob(data); }

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

// The version comes from the archive table, so showing it never reads the archive (which may be
// large, and this runs on the main thread for the window).
QString TBUSBPrinterOLM::newFirmwareVersion() {
  QStringList names = firmwareFilenames();
  if (names.isEmpty()) {
    if (const std::optional<pm::ArchiveRow> row = pm::FirmwareArchive::archiveForProductID(productID()))
      names = row->fileNames;
  }
  if (names.isEmpty()) return {};
  const QString& name = names.first();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? name : name.left(dot);
}

double TBUSBPrinterOLM::availableFirmwareVersion() { return pm::firmwareVersionNumber(newFirmwareVersion()); }

std::optional<TBUSBPrinterOLM::ShippedFirmware> TBUSBPrinterOLM::shippedFirmware() {
  return pm::compareShippedFirmware(installedFirmwareVersion(), availableFirmwareVersion());
}

// ---- The archive of the update ---------------------------------------------------------------------

void TBUSBPrinterOLM::setLoadedArchive(std::shared_ptr<const pm::LoadedArchive> archive) {
  const std::lock_guard guard(archiveLock_);
  loadedArchive_ = std::move(archive);
}

std::shared_ptr<const pm::LoadedArchive> TBUSBPrinterOLM::archiveForUpdate(QString* problem) {
  Q_ASSERT(isPrinterCommandQueue());
  std::optional<pm::UpdateRecord> record = updateRecord();
  if (record && record->archive) return record->archive;
  {
    const std::lock_guard guard(archiveLock_);
    if (loadedArchive_ && !record) return loadedArchive_;
  }
  // A new process (or a printer found in its loader): the archive is read and checked now, once.
  const pm::ArchiveLoad load = pm::FirmwareArchive::loadArchiveForProductID(productID());
  if (!load.archive) {
    *problem = tr("The firmware file %1 cannot be used (%2).").arg(load.failedFile, load.problem);
    return nullptr;
  }
  if (record && record->targetVersion != load.archive->version()) {
    *problem = tr("This application installs firmware %1, but the update was started for %2.")
                   .arg(load.archive->version(), record->targetVersion);
    return nullptr;
  }
  setFilenames(load.archive->fileNames);
  if (record) {
    record->archive = load.archive;
    pm::UpdateJournal::put(*record);
  } else {
    setLoadedArchive(load.archive);
  }
  return load.archive;
}
