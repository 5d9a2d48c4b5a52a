#pragma once
// UpdateJournal: the firmware updates under way, one record per printer, kept for the life of the
// process and in a small file so that a restarted application still knows them. A record is made
// when the update first writes to the printer, follows it through the restarts (stage, uploads,
// colour tables still to write) and goes once the update is verified as finished (or plainly
// ended with the user told). The printer objects come and go with each restart; the record is
// what ties the printer that returns to the update it is in.
//
// A printer is identified by its serial number; where either side has none, by the same model on
// the same USB port (device key and product ID).
//
// The file (JSON, written whole through QSaveFile, so a crash leaves the old or the new one) lives
// under the user's XDG state directory. A file that cannot be parsed, is not ours or holds
// unusable records is logged and ignored, never trusted.
//
// Threads: every member is [any]; one mutex guards the records, the file is written under it.

#include <cstdint>
#include <memory>
#include <optional>

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include "olm/update/FirmwareArchive.h"

namespace pm {

// Where an update stands; the numbers are what the state file and the device information keep.
enum class UpdateStage : int {
  RestartRequested = 1,  // the rewrite request went out: the printer restarts into its loader
  ImageSent = 2,         // the image went out: the printer restarts on its new firmware
  TablesWritten = 3,     // every colour table was taken: the next attach closes the update
};

struct UpdateRecord {
  QString serialNumber;  // empty when the printer reported none at the start
  QString deviceKey;     // where it was last seen
  uint16_t productID = 0;
  QString model;                                      // "PZA", for the user's texts
  QString fromVersion;                                // the firmware text before the update (may be empty)
  QString targetVersion;                              // the archive's version ("PZA 01.10")
  UpdateStage stage = UpdateStage::RestartRequested;  // never TablesWritten: that ends the record
  int uploads = 0;                                    // images sent for this update
  int tableRounds = 0;                                // times the colour tables were erased and written
  QStringList tablesToWrite;                          // colour-table files not yet written with success
  QDateTime started;
  // The archive read and checked at the start; not persisted (a new process loads it again).
  std::shared_ptr<const LoadedArchive> archive;

  // "PZA (serial number SIM0001)", for the user's texts.
  QString printerName() const;
};

class UpdateJournal {
 public:
  UpdateJournal() = delete;

  // The most images one update sends before it stops and asks the user to act.
  static constexpr int kMaxUploads = 3;

  // The record of the printer with this identity, if it is in an update.
  static std::optional<UpdateRecord> find(const QString& serialNumber, const QString& deviceKey,
                                          uint16_t productID);
  // A record for this port that belongs to another printer (another serial number or model).
  static std::optional<UpdateRecord> otherAt(const QString& serialNumber, const QString& deviceKey,
                                             uint16_t productID);
  // Adds or replaces the record of the same printer and writes the file.
  static void put(const UpdateRecord& record);
  // Ends the printer's record and writes the file.
  static void remove(const QString& serialNumber, const QString& deviceKey, uint16_t productID);
  // Every record, oldest first.
  static QList<UpdateRecord> records();

  // The file: the default is $XDG_STATE_HOME (or ~/.local/state)/printer-maintenance/updates.json.
  static QString filePath();
  static void setFilePath(const QString& path);  // tests; also forgets the records in memory
  // Forgets the records in memory and reads the file again (start-up; a test's "new process").
  static void load();
  // Forgets everything, the file included (tests).
  static void reset();
};

}  // namespace pm
