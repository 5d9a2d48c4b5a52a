#pragma once
// UpdateJournal: the firmware updates under way, one record per printer, kept in the state store
// (StateStore.h) so that every process of the user, and a restarted one, knows them. A record is made
// when the update first writes to the printer, follows it through the restarts (stage, uploads,
// colour tables still to write) and goes once the update is verified as finished (or plainly
// ended with the user told). The printer objects come and go with each restart; the record is
// what ties the printer that returns to the update it is in.
//
// A printer is identified by its serial number; where either side has none, by the same model on
// the same USB port (device key and product ID).
//
// No record is kept in memory: every question reads the store and every change is one transaction
// there, so two processes never lose each other's records. (Only the archive an update of this
// process loaded stays with it, given back with its printer's record.) A row that no update could have
// written is logged and ignored, never trusted. Without a usable store, find() finds nothing and
// changes are lost (logged): an update checks writable() before its first write.
//
// Threads: every member is [any] (the store serialises them).

#include <chrono>
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
  QDateTime lastSeen;  // when its printer was last attached (or the record changed); the journal sets it
  // The archive read and checked at the start; not stored (a new process loads it again), held by
  // the journal for this process.
  std::shared_ptr<const LoadedArchive> archive;

  // "PZA SIM0001", for the user's texts (pm::PrinterNaming).
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
  // Adds or replaces the record of the same printer; its printer counts as seen now.
  static void put(const UpdateRecord& record);
  // Ends the printer's record.
  static void remove(const QString& serialNumber, const QString& deviceKey, uint16_t productID);
  // Every record, oldest first.
  static QList<UpdateRecord> records();
  // The printer of a record is attached: its record is not abandoned (`when`: tests).
  static void touch(const QString& serialNumber, const QString& deviceKey, uint16_t productID,
                    const QDateTime& when = QDateTime::currentDateTimeUtc());

  // How long a record's printer may stay away before its update counts as abandoned.
  static constexpr std::chrono::days kAbandonedAfter{7};
  // Moves the records whose printers have not been seen for `notSeenFor` to the history, as
  // "abandoned", in one transaction, and answers them (so the caller tells the user once).
  static QList<UpdateRecord> archiveStale(std::chrono::days notSeenFor = kAbandonedAfter);

  // Whether a record can be written now; else `why` says where and why. An update does not start
  // without: its record is what lets a later run finish it.
  static bool writable(QString* why);

  // The state store's file (StateStore::path()).
  static QString filePath();
  // Another store file (tests; empty: the default). The files of earlier versions are looked for
  // beside it.
  static void setFilePath(const QString& path);
  // Opens the store anew (taking over any files of earlier versions) and logs the records left by
  // an earlier run (start-up; a test's "new process").
  static void load();
  // Removes every record (tests).
  static void reset();
};

}  // namespace pm
