#pragma once
// pm::PrinterUpdate: the firmware and colour-table update of one of the maker's printers, and its
// recovery. It has one reason to change: how the three-phase update runs. It keeps the update's
// state (the archive loaded at the entry, the version rule, the running step's progress), runs
// the user's steps before the update and the three phases, polls the status between them, writes
// the colour tables, records the outcome, and recognises at attach a printer that is in an
// update. One per printer, owned by it; it lives and dies with it. Its texts share the printer
// class's translations.
//
// What it uses of its printer: opening and closing the interface, sending a command and reading
// a reply or the status, the printer's identity and firmware version, storing device information
// and announcing a change, the update flag and status text, and the dialogs.
//
// Between the phases the printer restarts and comes back as a new object (with a new update
// object); the stage recorded under "deviceFirmwareStatus" and pm::UpdateJournal tell the new one
// where to go on.
//
// Implementation files:
//   UpdateSequence.cpp     the user's steps before the update and the three phases
//   UpdateColorTables.cpp  the colour-table writes of phase 3, the step's progress
//   UpdateStatusPoll.cpp   the status poll between the phases
//   UpdateReattach.cpp     recognition and probe of a new printer object
//   UpdateArchive.cpp      the archive of the update, the shipped and available versions
//
// Threads: as marked; [main] the main thread, [queue] the printer's command queue, [any] any
// (checked with Q_ASSERT in debug builds).

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include "olm/update/PrinterLock.h"
#include "support/IOReturn.h"

class TBUSBPrinterOLM;

namespace pm {

struct LoadedArchive;          // one model's archive as read and checked (olm/update/FirmwareArchive.h)
struct UpdateRecord;           // one update under way (olm/update/UpdateJournal.h)
enum class UpdateStage : int;  // where it stands (olm/update/UpdateJournal.h)
enum class ShippedFirmware;    // olm/update/FirmwareArchive.h

// How long the update waits for its printer. Defaults in production; tests shorten them on the
// printer they make.
struct UpdateTimings {
  int statusPollRounds = 60;  // rounds of one status poll (30 s): a printer reporting a lasting error
  int statusPollPauseMs = 500;
};

class PrinterUpdate {
  Q_DECLARE_TR_FUNCTIONS(TBUSBPrinterOLM)

 public:
  explicit PrinterUpdate(TBUSBPrinterOLM& printer) : printer_(printer) {}
  PrinterUpdate(const PrinterUpdate&) = delete;
  PrinterUpdate& operator=(const PrinterUpdate&) = delete;
  ~PrinterUpdate();

  void setTimings(const UpdateTimings& timings);  // [any]
  UpdateTimings timings() const;                  // [any]

  // ---- Entry and the user's steps (UpdateSequence.cpp) ------------------------------------------
  // The update of a printer is recorded in pm::UpdateJournal from its first write to its verified
  // end; each phase goes on only for the printer recorded there, with the archive read and checked
  // at the entry. Entry: loads the archive on the queue [main]. `allowOlderOrSame` unset: the
  // window's rule (the same version may be installed again, an older one by preference); false:
  // only a newer one; true: any.
  void updateFirmware(std::optional<bool> allowOlderOrSame = std::nullopt);
  void showFirmwareUpdateWarning();     // [main]
  void proceedWithUpdateWhenReady();    // [main]
  void updateFirmwareReady();           // [main]
  void updateFirmwareAndColorTables();  // phase 1 [main]
  // From a passed readiness check to the end of phase 1 (or the answer that declines it) the
  // printer is kept: its interface is not given back while the confirmation is open. [any]
  bool holdsPrinter() const { return holdsPrinter_; }
  void uploadFirmware();        // phase 2 [any]
  void finishFirmwareUpdate();  // phase 3 [any]

  // This printer's update record, if it is in one. [any]
  std::optional<UpdateRecord> updateRecord() const;

  // ---- Status poll (UpdateStatusPoll.cpp) ---------------------------------------------------------
  // Polls the status every statusPollPauseMs until it shows `code`'s text; ends when the printer
  // has gone, and after statusPollRounds rounds (a printer reporting a lasting error). On the
  // queue it returns once the first status reply is read. Never blocks the main queue. [any]
  void waitForPrinterStatusCode(const QString& code);

  // ---- Colour tables (UpdateColorTables.cpp) ------------------------------------------------------
  // The completion (on the queue, or wherever the phase ended) always runs once: `written` when
  // every table of the archive was taken by the printer, else what went wrong. [any]
  using TablesCompletion = std::function<void(bool written, const QString& problem)>;
  void updateColorTables(TablesCompletion completion);
  QStringList colorTableNames() const;  // [any]
  // What the running step of the update has done: the bytes of the firmware frame sent while it
  // is uploaded, the colour tables written while they are; else nullopt. Announced as
  // "updateProgress". [any]
  struct StepProgress {
    enum class Unit { Bytes, Tables };
    Unit unit = Unit::Tables;
    qint64 done = 0;
    qint64 total = 0;
  };
  std::optional<StepProgress> stepProgress() const;

  // ---- A new printer object (UpdateReattach.cpp) --------------------------------------------------
  // Takes up this printer's update record, if it has one, once its identity is read; tells the
  // user when a different printer stands at the port of an unfinished update. [queue]
  void recogniseUpdateAtAttach();
  // Carries an update on by the recorded stage, or checks once for a printer waiting in update
  // mode; otherwise starts the ordinary reads. Work on the queue. [any]
  void probeAtInit();

  // ---- Ownership (UpdateReattach.cpp) ------------------------------------------------------------
  // Another process holds this printer's lock (pm::PrinterLock): this process leaves the printer
  // alone, shows it as "Being updated by another program" and looks again every few seconds; once
  // the lock is free the printer is probed as if it had just arrived. nullopt while it is not
  // held elsewhere. Announced as "heldElsewhere". [any]
  std::optional<LockHolder> heldElsewhere() const;

  // ---- The archive (UpdateArchive.cpp; the class operations are pm::FirmwareArchive) --------------
  // Verifies this model's archive and stores the result (or its absence). [any]
  bool verifyFirmwareArchive();
  // Stores the list under "firmwareFilenames" at once (nullopt removes it) and announces
  // "newFirmwareVersion" on the main queue. [any]
  void setFilenames(const std::optional<QStringList>& names);
  QStringList firmwareFilenames() const;    // the stored list; empty when none [any]
  QByteArray firmwareBlob();                // checked and padded image; null on failure [any]
  QString newFirmwareVersion() const;       // "KTA 01.61"; null without an archive [any]
  double availableFirmwareVersion() const;  // [any]
  // How the shipped firmware stands to the installed one (pm::compareShippedFirmware); nullopt
  // while either is unknown. [any]
  using ShippedFirmware = pm::ShippedFirmware;
  std::optional<ShippedFirmware> shippedFirmware() const;
  // Sends the image as one "FLASH_PROGRAM" frame, in pieces whose writes may each take as long as
  // their size needs on a slow link, the bytes sent shown at most every 100 ms. Public for the
  // upload benchmark. [queue], interface open.
  void sendFirmwareImage(const QByteArray& image);

 private:
  enum class UpdateStep { RewriteRequest, Upload, ColorTables };

  // Takes the printer for an update the user starts; false (the user told, the result "busy")
  // when another process holds it. [main]
  bool takePrinterForUser();
  // Another process holds the printer: shown, announced, and looked at again later. [queue]
  void leaveToOtherProcess(const LockHolder& holder);
  // Looks again whether the other process has let the printer go. [queue]
  void lookAgainWhetherHeldElsewhere();
  // The archive of this update: the one loaded at the entry, the record's, or (a new process, a
  // printer found in its loader) loaded now. Null with `problem` set when it cannot be had. [queue]
  std::shared_ptr<const LoadedArchive> archiveForUpdate(QString* problem);
  void setLoadedArchive(std::shared_ptr<const LoadedArchive> archive);  // [any]
  // Ends the update without success: record and stage gone, the window shows no phase, the user
  // is told `title`/`message`. [any]
  void abandonUpdate(const QString& title, const QString& message);
  // The update stops with the user told; the record stays for the next attach. [any]
  void stopUpdate(const QString& title, const QString& message);
  void showStopped(const QString& title, const QString& message);  // [any]
  // Appends the update's end ("success", "failed" or "refused") to the machine's history, with
  // its reason for programs (UpdateOutcome::reason) and the heading of the message, if any. [any]
  void recordUpdateOutcome(const QString& result, const QString& message, const QString& reason = {},
                           const QString& title = {});
  // A printer other than the recorded one at this port: no update command, the user is told. [main]
  void tellUpdateNotFinished(const UpdateRecord& other);
  // Tells the user that the printer could not be opened during a step of the update. [any]
  void showUpdateOpenFailedAlert(UpdateStep step, IOReturn result);
  void showUnexpectedUpdateModePrompt();                            // [main]
  void continueAfterUpload(const std::optional<QString>& version);  // stage 2 at attach [queue]
  // A version read that got no answer, tried again within the status poll's bound. [queue]
  std::optional<QString> readFirmwareVersionAgain();
  void pollPrinterStatus(const QString& code, int roundsLeft);  // one round of the poll [any]
  void setOverridePrinterStatus(const QString& text);           // [any]
  void storeUpdateStage(UpdateStage stage);  // under the printer's kUpdateStageKey, as its number [any]
  void setStepProgress(std::optional<StepProgress> progress);  // [any]

  TBUSBPrinterOLM& printer_;  // the owner

  mutable std::mutex archiveLock_;
  std::shared_ptr<const LoadedArchive> loadedArchive_;  // the entry's, until phase 1

  mutable std::mutex progressLock_;
  std::optional<StepProgress> stepProgress_;

  mutable std::mutex timingsLock_;
  UpdateTimings timings_;

  std::optional<bool> olderAllowed_;  // the entry's version rule [main]

  mutable std::mutex heldLock_;
  std::optional<LockHolder> heldElsewhere_;  // the other process holding the printer, if any
  std::atomic<bool> holdsPrinter_{false};
};

}  // namespace pm
