// pm::PrinterUpdate: the firmware archive of its printer: verification and the stored file list,
// the firmware image, and the new and available firmware versions.

#include "olm/printer/PrinterUpdate.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/update/FirmwareArchive.h"
#include "olm/update/UpdateJournal.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

namespace {
const QString kFilenamesKey = QStringLiteral("firmwareFilenames");
}  // namespace

// ---- The stored list -------------------------------------------------------------------------------

bool pm::PrinterUpdate::verifyFirmwareArchive() {
  const std::optional<QStringList> names =
      pm::FirmwareArchive::verifyFirmwareArchiveForProductID(printer_.productID());
  setFilenames(names);
  return names && !names->isEmpty();
}

// The list is stored at once so that the caller's next read (the entry reads the image right
// after verifying) sees it; only the announcement belongs to the main queue.
void pm::PrinterUpdate::setFilenames(const std::optional<QStringList>& names) {
  if (names) {
    printer_.deviceInfoDict()->setValue(kFilenamesKey, *names);
  } else {
    printer_.deviceInfoDict()->remove(kFilenamesKey);
  }
  printer_.announceChange(QStringLiteral("newFirmwareVersion"));
}

QStringList pm::PrinterUpdate::firmwareFilenames() const {
  return printer_.deviceInfoDict()->value(kFilenamesKey).toStringList();
}

// ---- Image and versions --------------------------------------------------------------------------

QByteArray pm::PrinterUpdate::firmwareBlob() {
  const QStringList names = firmwareFilenames();
  QByteArray bytes;
  if (!names.isEmpty()) bytes = pm::FirmwareArchive::readArchiveFile(names.first()).value_or(QByteArray());
  if (!pm::FirmwareArchive::verifyMotorolaSFile(bytes)) {
    pm::systemLog(QStringLiteral("Bad firmware file! Verification failed!"));
    return {};
  }
  return pm::FirmwareArchive::paddedData(std::move(bytes));  // padded in place: the image is not copied
}

// The version comes from the archive table, so showing it never reads the archive (which may be
// large, and this runs on the main thread for the window).
QString pm::PrinterUpdate::newFirmwareVersion() const {
  QStringList names = firmwareFilenames();
  if (names.isEmpty()) {
    if (const std::optional<pm::ArchiveRow> row =
            pm::FirmwareArchive::archiveForProductID(printer_.productID()))
      names = row->fileNames;
  }
  if (names.isEmpty()) return {};
  const QString& name = names.first();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? name : name.left(dot);
}

double pm::PrinterUpdate::availableFirmwareVersion() const {
  return pm::firmwareVersionNumber(newFirmwareVersion());
}

std::optional<pm::PrinterUpdate::ShippedFirmware> pm::PrinterUpdate::shippedFirmware() const {
  return pm::compareShippedFirmware(printer_.firmwareVersion(), newFirmwareVersion());
}

// ---- The archive of the update ---------------------------------------------------------------------

void pm::PrinterUpdate::setLoadedArchive(std::shared_ptr<const pm::LoadedArchive> archive) {
  const std::lock_guard guard(archiveLock_);
  loadedArchive_ = std::move(archive);
}

std::shared_ptr<const pm::LoadedArchive> pm::PrinterUpdate::archiveForUpdate(QString* problem) {
  Q_ASSERT(printer_.isPrinterCommandQueue());
  std::optional<pm::UpdateRecord> record = updateRecord();
  if (record && record->archive) return record->archive;
  {
    const std::lock_guard guard(archiveLock_);
    if (loadedArchive_ && !record) return loadedArchive_;
  }
  // A new process (or a printer found in its loader): the archive is read and checked now, once.
  const pm::ArchiveLoad load = pm::FirmwareArchive::loadArchiveForProductID(printer_.productID());
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
