#pragma once
// TBUSBPrinterOLM: one of the maker's photo printers. It gives the vendor command language its
// shape (frames out, length-prefixed text replies in), reads and keeps the printer's status,
// properties, counters and colour-table readings, and verifies and runs the firmware and
// colour-table update.
//
// Implementation files:
//   TBUSBPrinterOLMFraming.cpp     command names, frames, replies, error hook
//   TBUSBPrinterOLMStatus.cpp      status read and status texts
//   TBUSBPrinterOLMProperties.cpp  property reads, counters, iSerial, picture,
//                                  attach-time gathering
//   TBUSBPrinterOLMColorTables.cpp colour-table version and checksum reads
//   OLM*.cpp                       the firmware update section below
//   PrinterDialogs.h               what the printer asks and tells the user (a part it owns)
//   olm/protocol/Framing.h         the pure frame builder and reply parser
//
// Threads and queues (as in usb/TBUSBPrinter.h; checked with Q_ASSERT in debug builds):
//  - [main]   the main thread.
//  - [queue]  this printer's command queue (or the calling thread for a printer without one).
//  - [any]    any thread.
//
// Where read values land: every exchange of the vendor reads hands its reply to a reply block that
// runs inline on the command queue right after the read (the printer's own queue is passed as the
// reply queue). The value is stored there in the thread-safe device information and its change is
// announced on the main queue (storeDeviceInfo). So a later read on the same queue (the
// colour-table reads and the iSerial rule deciding on "firmwareVersion") always sees the value of
// an earlier exchange. Status replies are the exception: they are handled on the main queue,
// where the status text is set and the caller's completion runs.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QImage>
#include <QSet>
#include <QString>
#include <QStringList>

#include "olm/model/ModelTraits.h"
#include "olm/printer/PrinterDialogs.h"
#include "olm/protocol/Framing.h"
#include "support/AlertPresenter.h"
#include "support/Completion.h"
#include "usb/TBUSBPrinter.h"

// A command code (pm::framing::Command), or any other number a caller sends unnamed.
using PrinterCommandCode = int64_t;

namespace pm {
struct ColorTableRead;         // one colour-table read exchange (TBUSBPrinterOLMColorTables.cpp)
struct LoadedArchive;          // one model's archive as read and checked (olm/update/FirmwareArchive.h)
struct UpdateRecord;           // one update under way (olm/update/UpdateJournal.h)
enum class UpdateStage : int;  // where it stands (olm/update/UpdateJournal.h)
enum class ShippedFirmware;    // olm/update/FirmwareArchive.h
}  // namespace pm

class TBUSBPrinterOLM : public TBUSBPrinter {
  Q_OBJECT

 public:
  // A status code as read ("00000", "FU00001", ...); nullopt when the reply was no valid text.
  using StatusCode = std::optional<QString>;
  // Runs once (debug builds check it), with nullopt when the status could not be read.
  using StatusCompletion = pm::Completion<const StatusCode&>;
  using Munge = std::function<QString(const QString& value)>;
  using ColorTableCompletion = pm::Completion<const QList<std::optional<QString>>&>;
  using AlertCompletion = PrinterDialogs::AlertCompletion;

  // The status code of a printer waiting in update mode for its firmware image.
  static inline const QString kUpdateModeCode = QStringLiteral("FU00001");
  // Where an update stands (pm::UpdateStage's number), kept in the device information of the
  // printer's device key.
  static inline const QString kUpdateStageKey = QStringLiteral("deviceFirmwareStatus");

  ~TBUSBPrinterOLM() override;

  // ---- USB IDs and model ----------------------------------------------------------------------
  // The vendor IDs of the model table and the product IDs of its admitted models (built in: the
  // PZA; olm/model/ModelTraits.h), as in force. Hide the base class's empty sets. [any]
  static QSet<uint16_t> supportedVendorIDs();
  static QSet<uint16_t> supportedProductIDs();
  // The model told by the product ID; nullopt for a product outside the model table. [any]
  std::optional<pm::PrinterModel> printerModel() const;

  // ---- Command framing and replies (TBUSBPrinterOLMFraming.cpp) ---------------------------------
  // The wire name of a command ("INFO  FVER"); a null QString for a code without a name. [any]
  static QString stringForCommandCode(PrinterCommandCode code);
  // Builds one frame and writes it in one bulk write. Reads no reply. A payload of the wrong size
  // for a fixed-size code is rejected (logged, nothing written). [queue], interface open.
  // The frame bytes a command's log shows in hex (the header and the start of the payload).
  static constexpr qsizetype kLoggedFrameBytes = 64;
  void sendPrinterCommand(int32_t code, const QByteArray& payload = QByteArray());
  void sendPrinterCommand(pm::framing::Command command, const QByteArray& payload = QByteArray()) {
    sendPrinterCommand(static_cast<int32_t>(command), payload);
  }
  using TBUSBPrinter::sendPrinterCommand;  // the exchange: command block, reply queue, reply block
  // Reads one reply; null on failure, else the body up to its first carriage return and a NUL
  // (never empty). [queue], interface open.
  QByteArray printerReply() override;
  // The class's error hook: the messages are neither shown nor logged. [any]
  void errorWithString(const QString& message, int64_t code);

  // ---- Status (TBUSBPrinterOLMStatus.cpp) ---------------------------------------------------------
  // What the log and the window show for a value that was asked for and did not come. [any]
  static inline const QString kNotReadText = QStringLiteral("<NULL>");
  // Whether `key` was read and nothing came (its entry holds no value). [any]
  static bool isUnread(const pm::DeviceInfo& info, const QString& key) {
    return info.contains(key) && !info.value(key).isValid();
  }
  // The display text of a status code; never empty. [any]
  static QString stringForKTStatusString(const StatusCode& code);
  static QString stringForKTStatusString(const char* code) {
    return stringForKTStatusString(StatusCode(QString::fromUtf8(code)));
  }
  // Opens the interface and reads the status on the queue; the text is set and the completion
  // (may be null) called with the raw code on the main queue, in every case: nullopt when the
  // open failed or the reply was empty (the text then stays). Leaves the interface open. [any]
  void getPrinterStatus(const StatusCompletion& completion);
  void updatePrinterStatus() { getPrinterStatus(nullptr); }

  // ---- Properties and counters (TBUSBPrinterOLMProperties.cpp) ------------------------------------
  // One read exchange whose text becomes the entry under `key`; without a text the entry stays,
  // holding no value (an invalid QVariant: read, nothing came; see isUnread). Opens the interface
  // (leaves it open). [any]
  void updatePrinterProperty(const QString& key, pm::framing::Command code, bool trimWhitespace = true,
                             const Munge& munge = nullptr);
  void getPrinterFirmwareVersion();  // "firmwareVersion"     [any]
  void updatePrinterSerialNumber();  // "printerSerialNumber" [any]
  void getPrinterLifetimeCounter();  // "lifetimeCounter", with the "CL" rule [any]
  // The "CL" prefix rule of the lifetime counter. [any]
  static QString mungeLifetimeCounter(const QString& value);
  // A synchronous "FVER" exchange; nullopt without a reply. Stores nothing. [queue], open.
  std::optional<QString> inlineGetFirmwareString();

  // Whether the counter was reset (read back as zero), or why not, in words; `why` is empty when
  // the user cancelled (the printer was in use and the status line has said so). [main]
  using CounterResetCompletion = std::function<void(bool reset, const QString& why)>;
  // A, B or M, then reads it back; any other letter sends nothing. While another program holds
  // the printer, the busy alert lets the user retry. [any]
  void resetCounter(char letter, const CounterResetCompletion& done = nullptr);
  // Counter A, B or M as the printer reports it now; nullopt when it could not be read. [any],
  // `done` on main, once.
  using CounterCompletion = pm::Completion<const std::optional<QString>&>;
  void readCounter(char letter, const CounterCompletion& done);
  void resetCounterA() { resetCounter('A'); }
  void resetCounterB() { resetCounter('B'); }
  void resetCounterM() { resetCounter('M'); }

  // The installed firmware version: the last blank-separated word of "firmwareVersion" as a
  // decimal number, 0 when there is none. (Vendor section; the update reads it too.) [any]
  double installedFirmwareVersion() const;
  QString lifetimeCounter() const;  // [any]

  bool hasISerialSupport() const;     // [any]
  void getUSB_ISerial();              // reads the setting, then closes the interface [any]
  void setUSB_ISerial(bool enabled);  // writes the setting, then reads it back [any]
  // The user-facing change: write, close, then ask for a power cycle and remove stale print
  // queues; the busy alert (retry or cancel) while another program holds the printer. `done`
  // (main) runs once at the end: whether the printer reads back the new setting, or why not. [any]
  using UsbSerialCompletion = std::function<void(bool written, const QString& why)>;
  void setEnabledUSBSerial(bool enabled, const UsbSerialCompletion& done = nullptr);
  void setUsbISerial(bool enabled);  // only acts when the value differs [any]
  bool usbISerial() const;           // [any]
  // "Enabled", "Disabled" or "Unavailable"; empty until the setting has been read. [any]
  QString usbISerialString() const;

  // The model's picture from the resources; a null image outside the model table. [any]
  QImage image() const override;
  // The attach-time gathering: status, then (unless in update mode) the property and
  // colour-table reads in their fixed order. Runs through the queue from anywhere. [any]
  void getDeviceCustomInfo() override;
  // True once an attach-time gathering has ended (values read, or the printer in update mode);
  // announced as "attachReadsDone". [any]
  bool attachReadsDone() const { return attachReadsDone_.load(); }

  // ---- Colour-table readings (TBUSBPrinterOLMColorTables.cpp) --------------------------------------
  // Both need the interface open and run their exchanges on the queue at once; values land under
  // their keys (held without a value when no reply came, as a property does; the window and the
  // log show "NULL"). The completion runs once on the main queue when the model's reads are all
  // in, with the values read in order (nullopt for each that did not come; empty outside the
  // model table). [queue]
  void getPrinterColorTableVersion(const ColorTableCompletion& completion = nullptr);
  void getPrinterColorTableChecksum(const ColorTableCompletion& completion = nullptr);
  static QByteArray commandPayloadForMediaSD() { return QByteArrayLiteral("0001"); }
  static QByteArray commandPayloadForMediaPD() { return QByteArrayLiteral("0002"); }
  static QByteArray commandPayloadForMediaPP() { return QByteArrayLiteral("0003"); }

  // The colour-table entries: the text stored under the key, or a null QString when absent. [any]
  QString colorTableValue(const QString& key) const;
  QString colorTableVersion() const { return colorTableValue(QStringLiteral("colorTableVersion")); }
  // Every colour-table key, version and checksum (pm::kColorTableKeys). [any]
  static const QStringList& colorTableKeys();

  // =================================================================================================
  // ---- Firmware update (implemented in OLM*.cpp) ----------------------------------------------------
  // This section belongs to the update code; the TBUSBPrinterOLM*.cpp files implement none of it
  // except where marked.
  // =================================================================================================

  // Creation (OLMReattach.cpp): the base initialiser, then the device information kept for
  // this device key is merged in and probeAtInit runs. [main]
  bool initWithInterfaceInterface(std::shared_ptr<usb::UsbInterface> interface,
                                  const usb::ServiceHandle& service) override;
  // Carries an update on by the recorded stage, or checks once for a printer waiting in update
  // mode; otherwise starts the ordinary reads. Work on the queue. [any]
  void probeAtInit();
  // Takes up this printer's update record, if it has one, once its identity is read; tells the
  // user when a different printer stands at the port of an unfinished update. [queue]
  void recogniseUpdateAtAttach();

  // Archive and verification (OLMArchive.cpp; the class operations are pm::FirmwareArchive).
  static QString asciiHexForData(const QByteArray& data);                                   // [any]
  static QString verifyBlob(const QByteArray& data);                                        // [any]
  static std::optional<QStringList> verifyFirmwareArchiveForProductID(uint16_t productId);  // [any]
  // Verifies this model's archive and stores the result (or its absence). [any]
  bool verifyFirmwareArchive();
  // Stores the list under "firmwareFilenames" at once (nullopt removes it) and announces
  // "newFirmwareVersion" on the main queue. [any]
  void setFilenames(const std::optional<QStringList>& names);
  QStringList firmwareFilenames() const;              // the stored list; empty when none [any]
  QByteArray firmwareBlob();                          // checked and padded image; null on failure [any]
  QByteArray firmwareBlobForKey(const QString& key);  // [any]
  QString newFirmwareVersion();                       // "KTA 01.61"; null without an archive [any]
  double availableFirmwareVersion();                  // [any]
  // How the shipped firmware stands to the installed one (pm::compareShippedFirmware); nullopt
  // while either is unknown. [any]
  using ShippedFirmware = pm::ShippedFirmware;
  std::optional<ShippedFirmware> shippedFirmware();
  static bool verifySRecData(const QByteArray& data);       // [any]
  static QByteArray paddedData(QByteArray data);            // in place when handed the only reference [any]
  static uint16_t checksumForData(const QByteArray& data);  // [any]

  // Update sequence (OLMUpdateSequence.cpp, OLMStatusPoll.cpp). The update of a
  // printer is recorded in pm::UpdateJournal from its first write to its verified end; each phase
  // goes on only for the printer recorded there, with the archive read and checked at the entry.
  // Entry: loads the archive on the queue [main]. `allowOlderOrSame` unset: the window's rule (the
  // same version may be installed again, an older one by preference); false: only a newer one;
  // true: any.
  void updateFirmware(std::optional<bool> allowOlderOrSame = std::nullopt);
  void showFirmwareUpdateWarning();     // [main]
  void proceedWithUpdateWhenReady();    // [main]
  void updateFirmwareReady();           // [main]
  void updateFirmwareAndColorTables();  // phase 1 [main]
  void uploadFirmware();                // phase 2 [any]
  void finishFirmwareUpdate();          // phase 3 [any]
  // Polls the status every 500 ms until it shows `code`'s text; ends when the printer has gone,
  // and after statusPollLimit() rounds (a printer reporting a lasting error). On the queue it
  // returns once the first status reply is read. Never blocks the main queue. [any]
  void waitForPrinterStatusCode(const QString& code);
  // Rounds of one status poll: 60 (30 s) unless a test shortens it. Process-wide. [any]
  static void setStatusPollLimit(int rounds);
  static int statusPollLimit();
  // An update in progress keeps the interface it opened. [any]
  bool keepsInterfaceOpen() const override { return inFirmwareUpdate(); }
  void setOverridePrinterStatus(const QString& text);   // [any]
  void setFirmwareUpdateStatus(pm::UpdateStage stage);  // stored and registered on the main queue [any]
  void storeUpdateStage(pm::UpdateStage stage);         // under kUpdateStageKey, as its number [any]

  // Colour-table update (OLMColorTables.cpp).
  // The completion (on the queue, or wherever the phase ended) always runs once: `written` when
  // every table of the archive was taken by the printer, else what went wrong. [any]
  using TablesCompletion = std::function<void(bool written, const QString& problem)>;
  void updateColorTables(TablesCompletion completion);
  QStringList colorTableNames();  // [any]
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

  // Identity for the update: the serial number of the device ID, else of the USB string. [any]
  QString identitySerialNumber() const;
  // "PZA (serial number SIM0001)" for the user's texts. [any]
  QString printerName() const;
  // This printer's update record, if it is in one. [any]
  std::optional<pm::UpdateRecord> updateRecord() const;

  // What this printer asks and tells the user (olm/printer/PrinterDialogs.h). [any]
  PrinterDialogs& dialogs() { return dialogs_; }

 protected:
  TBUSBPrinterOLM();
  friend class TBUSBPrinter;    // create<TBUSBPrinterOLM>()
  friend class PrinterDialogs;  // self() and announceChange for the alerts it shows

 private:
  // ---- vendor helpers ----
  std::shared_ptr<TBUSBPrinterOLM> self();
  // One read exchange whose reply block runs inline on the queue. [queue], interface open.
  void exchangeOnQueue(pm::framing::Command code, const QByteArray& payload, ReplyBlock reply);
  // The reply's text: nullopt for an absent or empty reply, or bytes that are not UTF-8. [any]
  static std::optional<QString> replyText(const QByteArray& reply);
  void readColorTables(bool checksums, const ColorTableCompletion& completion);

  mutable std::mutex archiveLock_;
  std::shared_ptr<const pm::LoadedArchive> loadedArchive_;  // the entry's, until phase 1

  mutable std::mutex imageLock_;
  mutable std::optional<QImage> imageCache_;  // loaded on first use

  // ---- update helpers (OLM*.cpp) ----
  enum class UpdateStep { RewriteRequest, Upload, ColorTables };
  // The archive of this update: the one loaded at the entry, the record's, or (a new process, a
  // printer found in its loader) loaded now. Null with `problem` set when it cannot be had. [queue]
  std::shared_ptr<const pm::LoadedArchive> archiveForUpdate(QString* problem);
  void setLoadedArchive(std::shared_ptr<const pm::LoadedArchive> archive);  // [any]
  // Ends the update without success: record and stage gone, the window shows no phase, the user
  // is told `title`/`message`. [any]
  void abandonUpdate(const QString& title, const QString& message);
  // The update stops with the user told; the record stays for the next attach. [any]
  void stopUpdate(const QString& title, const QString& message);
  void showStopped(const QString& title, const QString& message);  // [any]
  // Appends the update's end ("success" or "failed") to the machine's history. [any]
  void recordUpdateOutcome(const QString& result, const QString& message);
  // A printer other than the recorded one at this port: no update command, the user is told. [main]
  void tellUpdateNotFinished(const pm::UpdateRecord& other);
  // Sends the image as one "FLASH_PROGRAM" frame whose write may take as long as its size needs
  // on a slow link. [queue], interface open.
  void sendFirmwareImage(const QByteArray& image);
  // Tells the user that the printer could not be opened during a step of the update. [any]
  void showUpdateOpenFailedAlert(UpdateStep step, IOReturn result);
  void showUnexpectedUpdateModePrompt();                            // [main]
  void continueAfterUpload(const std::optional<QString>& version);  // stage 2 at attach [queue]
  void pollPrinterStatus(const QString& code, int roundsLeft);      // one round of the poll [any]

  void setStepProgress(std::optional<StepProgress> progress);  // [any]

  // ---- update state ----
  mutable std::mutex progressLock_;
  std::optional<StepProgress> stepProgress_;
  std::optional<bool> olderAllowed_;  // the entry's version rule [main]
  std::atomic<bool> attachReadsDone_{false};
  PrinterDialogs dialogs_{*this};
  void noteAttachReadsDone();  // [any]
};
