#pragma once
// TBUSBPrinterOLM: one of the maker's photo printers. It gives the vendor command language its
// shape (frames out, length-prefixed text replies in), reads and keeps the printer's status,
// properties, counters and colour-table readings, and owns its firmware and colour-table update
// (pm::PrinterUpdate, update()) and its dialogs.
//
// Implementation files:
//   TBUSBPrinterOLMFraming.cpp     command names, frames, replies, error hook
//   TBUSBPrinterOLMStatus.cpp      status read and status texts
//   PrinterProperties.h            property reads, counters, iSerial (a part it owns)
//   ColorTableReader.h             colour-table version and checksum reads (a part it owns)
//   TBUSBPrinterOLM.cpp            creation, USB IDs and model, identity for the update
//   PrinterUpdate.h                the firmware and colour-table update (a part it owns)
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
#include "olm/printer/ColorTableReader.h"
#include "olm/printer/PrinterDialogs.h"
#include "olm/printer/PrinterProperties.h"
#include "olm/printer/PrinterUpdate.h"
#include "olm/protocol/Framing.h"
#include "support/AlertPresenter.h"
#include "support/Completion.h"
#include "usb/TBUSBPrinter.h"

// A command code (pm::framing::Command), or any other number a caller sends unnamed.
using PrinterCommandCode = int64_t;

class TBUSBPrinterOLM : public TBUSBPrinter {
  Q_OBJECT

 public:
  // A status code as read ("00000", "FU00001", ...); nullopt when the reply was no valid text.
  using StatusCode = std::optional<QString>;
  // Runs once (debug builds check it), with nullopt when the status could not be read.
  using StatusCompletion = pm::Completion<const StatusCode&>;
  using AlertCompletion = PrinterDialogs::AlertCompletion;

  // The status code of a printer waiting in update mode for its firmware image.
  static inline const QString kUpdateModeCode = QStringLiteral("FU00001");
  // The code of a status reply whose header states no length: known to be unknown.
  static inline const QString kMalformedCode = QStringLiteral("unknown");
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
  // A whole reply: its header and the body it announces. [queue]
  bool isWholeReply(const QByteArray& gathered) const override;
  // The class's error hook: the messages are neither shown nor logged. [any]
  void errorWithString(const QString& message, int64_t code);

  // ---- Status (TBUSBPrinterOLMStatus.cpp) ---------------------------------------------------------
  // What the log shows for a value that was asked for and did not come; the user's texts say
  // pm::PrinterNaming::unknown() instead. [any]
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

  // ---- Properties, counters and the USB iSerial setting (olm/printer/PrinterProperties.h) ----------
  pm::PrinterProperties& properties() { return properties_; }              // [any]
  const pm::PrinterProperties& properties() const { return properties_; }  // [any]

  // The installed firmware version: the last blank-separated word of "firmwareVersion" as a
  // decimal number, 0 when there is none. (The update reads it too.) [any]
  double installedFirmwareVersion() const;

  // The model's picture from the resources; a null image outside the model table. [any]
  QImage image() const override;
  // The attach-time gathering: status, then (unless in update mode) the property and
  // colour-table reads in their fixed order. Runs through the queue from anywhere. [any]
  void getDeviceCustomInfo() override;
  // True once an attach-time gathering has ended (values read, or the printer in update mode);
  // announced as "attachReadsDone". [any]
  bool attachReadsDone() const { return attachReadsDone_.load(); }

  // ---- Colour-table readings (olm/printer/ColorTableReader.h) -------------------------------------
  pm::ColorTableReader& colorTables() { return colorTables_; }              // [any]
  const pm::ColorTableReader& colorTables() const { return colorTables_; }  // [any]

  // ---- Creation and the update ----------------------------------------------------------------------
  // The base initialiser, then the device information kept for this device key is merged in and
  // the update object recognises and probes the printer (PrinterUpdate.h). [main]
  bool initWithInterfaceInterface(std::shared_ptr<usb::UsbInterface> interface,
                                  const usb::ServiceHandle& service) override;
  // The firmware and colour-table update of this printer, and its recovery. [any]
  pm::PrinterUpdate& update() { return update_; }
  const pm::PrinterUpdate& update() const { return update_; }
  // An update in progress keeps the interface it opened, and so does one whose printer passed the
  // readiness check while its confirmation is open. [any]
  bool keepsInterfaceOpen() const override { return inFirmwareUpdate() || update_.holdsPrinter(); }

  // Identity for the update: the serial number of the device ID, else of the USB string; empty
  // when neither names one (blank, or a loader's placeholder "0" or all zeros). [any]
  QString identitySerialNumber() const;
  // "PZA SIM0001" for the user's texts (pm::PrinterNaming). [any]
  QString printerName() const;

  // What this printer asks and tells the user (olm/printer/PrinterDialogs.h). [any]
  PrinterDialogs& dialogs() { return dialogs_; }

 protected:
  TBUSBPrinterOLM();
  friend class TBUSBPrinter;           // create<TBUSBPrinterOLM>()
  friend class PrinterDialogs;         // self() and announceChange for the alerts it shows
  friend class pm::PrinterUpdate;      // the queue, the frames and the update flag of its printer
  friend class pm::ColorTableReader;   // its read exchanges and their reply text
  friend class pm::PrinterProperties;  // its read exchanges and their reply text

 private:
  // ---- vendor helpers ----
  std::shared_ptr<TBUSBPrinterOLM> self();
  // One read exchange whose reply block runs inline on the queue. [queue], interface open.
  void exchangeOnQueue(pm::framing::Command code, const QByteArray& payload, ReplyBlock reply);
  // The reply's text: nullopt for an absent or empty reply, or bytes that are not UTF-8. [any]
  static std::optional<QString> replyText(const QByteArray& reply);

  mutable std::mutex imageLock_;
  mutable std::optional<QImage> imageCache_;  // loaded on first use

  std::atomic<bool> attachReadsDone_{false};
  int64_t lastCommand_ = -1;  // [queue] the code the next reply must answer
  PrinterDialogs dialogs_{*this};
  pm::PrinterUpdate update_{*this};
  pm::ColorTableReader colorTables_{*this};
  pm::PrinterProperties properties_{*this};
  void noteAttachReadsDone();  // [any]
};
