#pragma once
// A virtual printer of the maker's seven models on the virtual USB bus. It speaks the vendor
// command language on its bulk pipes (framed commands in, length-prefixed text replies out),
// keeps the state a real printer shows (status, firmware version, serial number, counters, the
// USB serial-number option, colour tables), restarts into firmware update mode and back when the
// update asks for it, logs every frame it received, and fails in the ways real printers fail when
// told to. It shares no code with the printer software it is used to test.
//
// Threading: the VirtualDeviceHandler members are called by the bus on the transferring thread (a
// printer's command queue), one transfer at a time. Every other member may be called from any
// thread. The state sits behind one mutex; calls into the bus (restart, unplug, power cycle) are
// made only with that mutex released.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "sim/ColorTableStore.h"
#include "sim/FrameParser.h"
#include "sim/SimModels.h"
#include "usb/virtual/VirtualUsbBus.h"

namespace sim {

struct VirtualPrinterConfig {
  Model model = Model::PZA;
  QString serialNumber = QStringLiteral("SIM0001");
  // The version ("04.20") reported after the model name, or a whole version text when it holds a
  // blank ("KTBW 1.40PRN"); empty: the model's factory version.
  QString firmwareVersion{};
  uint32_t latencyMs = 0;  // each reply arrives this long after its command (device time)
  // Added to each string descriptor (its maker, product, serial number and their languages): a
  // printer slow to say who it is.
  uint32_t identityLatencyMs = 0;
  bool iSerialEnabled = true;  // the USB serial-number string option at power-on
  QStringList statusSequence{QStringLiteral("00000")};
  uint32_t lifetimeCounter = 1234;
  uint32_t counterA = 12;
  uint32_t counterB = 34;
  uint32_t counterM = 56;
  QString tableVersion{};         // factory colour-table version; empty: the model's
  uint32_t restartDelayMs = 200;  // time off the bus at each restart (device time)
  bool inLoader = false;          // powers on in its firmware update mode, waiting for an image
  uint32_t locationId = 0;        // 0: the bus assigns one
  uint16_t vendorId = 0;          // the USB IDs; 0: the model's own
  uint16_t productId = 0;
  // Every reply to this command ("FVER", "STATUS": its sub-key, or its category when it has none;
  // "*": every command) comes late, as ReplyFault::SlowReply; empty: none.
  QString lateReplies{};
  // How long after the host starts reading for it a late reply comes (device time): by default
  // 1 ms after the host's 5 s reply time-out.
  uint32_t lateReplyMs = 5001;
  // How a table's version read answers: Digits its 4-digit version; Name the version name it was
  // written with (a factory table its version); LateAfterWrite as Digits, but the first version
  // read after each table's data comes late (the printer is still storing it).
  enum class TableVersionForm { Digits, Name, LateAfterWrite };
  TableVersionForm tableVersionForm = TableVersionForm::Digits;
  bool shortFirmwareVersion = false;  // "FVER" answers "PZA 1.10" for "PZA 01.10"
  // The serial number its loader reports in the USB string and the device ID ("0"); empty: its own.
  QString loaderSerial{};
};

enum class ReplyFault {
  None,
  NoReply,         // the command is taken but never answered
  BlankHeader,     // the reply header is 8 blanks, nothing follows
  GarbageHeader,   // the reply header is 8 bytes of non-digits, nothing follows
  OversizeHeader,  // the header announces 4097 bytes, and that many follow
  Stall,           // the reply read stalls the pipe
  SlowReply,       // the reply comes lateReplyMs after the host starts reading (after it gave up)
  SplitReply,      // the reply's second half comes 2 ms after its first
  LongBody,        // the body runs on 40 bytes past the length its header announces
  GarbageAfter,    // 8 bytes that are no reply come 1 ms after the reply
};

enum class UpdateFault {
  None,
  NeverReturnAfterRestart,  // leaves the bus at a restart and stays away (until powerCycle)
  ReturnWithoutUpdateMode,  // after "FLASH_REWRITE" it restarts into normal mode
  PowerLossDuringUpload,    // loses power while "FLASH_PROGRAM" arrives; back at powerCycle
  KeepOldFirmware,          // takes the image, restarts, and still runs its old firmware
  StayInLoader,             // takes the image and restarts into update mode again, every time
  IgnoreRewrite,            // takes "FLASH_REWRITE" and does not restart
  StallTableData,           // stalls the bulk-out pipe at every colour table's data, keeping none
  RefuseTableData,          // takes every colour table's data and keeps none (its table stays erased)
};

struct Counters {
  uint32_t lifetime = 0;
  uint32_t a = 0;
  uint32_t b = 0;
  uint32_t m = 0;
};

class VirtualPrinter : public usb::virt::VirtualDeviceHandler,
                       public std::enable_shared_from_this<VirtualPrinter> {
  struct Token {};

 public:
  // Builds the printer and puts it on the bus at once.
  static std::shared_ptr<VirtualPrinter> attach(usb::virt::VirtualUsbBus& bus,
                                                const VirtualPrinterConfig& config);
  VirtualPrinter(Token, const VirtualPrinterConfig& config);
  ~VirtualPrinter() override;

  // The bus device; null once the bus has dropped it.
  std::shared_ptr<usb::virt::VirtualUsbDevice> device() const;
  Model model() const { return model_; }

  // What the printer received, oldest first.
  std::vector<ReceivedFrame> frames() const;
  QStringList frameSummaries() const;
  void clearFrames();
  qsizetype skippedBytes() const;
  // Commands answered so far (what a reply fault's exchange number counts).
  uint64_t answeredCommands() const;

  // Identity and state.
  QString serialNumber() const;
  QString firmwareVersion() const;
  void setFirmwareVersion(const QString& versionText);
  bool inUpdateMode() const;
  QString lastImageProblem() const;  // why the last "FLASH_PROGRAM" was refused; empty if none
  // Each "STATUS" answers the next code; the last one repeats. Starts over from the first.
  void setStatusSequence(const QStringList& codes);
  Counters counters() const;
  void setCounters(const Counters& counters);
  bool iSerialEnabled() const;  // the setting; the USB string follows it after powerCycle()
  QList<ColorTable> colorTables() const;
  bool setColorTable(TableSlot slot, const QString& version, const QByteArray& data);
  QString lastTableProblem() const;  // why the last table write was refused; empty if none
  void setRestartDelayMs(uint32_t delayMs);

  // Faults. A reply fault hits the atExchange-th answered command from now (1 = the next one),
  // or every answered command while atExchange is -1; ReplyFault::None clears it.
  void injectReplyFault(ReplyFault kind, int atExchange = -1);
  // Leaves the bus when the n-th command from now arrives (1 = the next); 0 cancels.
  void unplugAtCommand(int n);
  bool unplugPending() const;  // an unplugAtCommand that has not happened yet
  void setHeldByOtherProgram(bool held);
  void setUpdateFault(UpdateFault fault);

  // Called on the transferring thread, without the lock, after a command changed what the printer
  // keeps across power cycles (firmware, update mode, counters, the iSerial setting, colour tables),
  // before any restart it asks for. Null: nobody listens.
  void setStateObserver(std::function<void()> observer);

  // Power off and on: leaves the bus (if on it) and comes back after the restart delay, showing
  // the USB serial string as the iSerial setting says. Keeps update mode.
  void powerCycle();

  // usb::virt::VirtualDeviceHandler (transferring thread)
  usb::virt::TransferResult bulkOut(usb::virt::VirtualUsbDevice& device, uint8_t endpoint,
                                    const QByteArray& data) override;
  usb::virt::TransferResult bulkIn(usb::virt::VirtualUsbDevice& device, uint8_t endpoint,
                                   uint32_t maxLength) override;
  void reset(usb::virt::VirtualUsbDevice& device) override;

 private:
  // What a command asks of the bus once the lock is released.
  enum class BusAction { None, Unplug, Restart, Vanish };

  // Command handling (VirtualPrinterCommands.cpp), under the lock.
  BusAction handleFrame(const ReceivedFrame& frame);
  std::optional<QByteArray> answer(const ReceivedFrame& frame, BusAction* action);
  std::optional<QByteArray> answerInUpdateMode(const ReceivedFrame& frame, BusAction* action);
  std::optional<QByteArray> answerTableRead(const ReceivedFrame& frame);
  QByteArray firmwareReply() const;
  void resetCounter(const QByteArray& payload);
  void writeISerial(const QByteArray& payload);
  void writeTable(const ReceivedFrame& frame);
  BusAction rewriteFlash();
  BusAction programFlash(const ReceivedFrame& frame);
  void queueReply(const QByteArray& body, bool late);
  // Puts bytes in the pipe, arriving `afterMs` (device time) from now, or with `afterRead` that
  // long after the next read starts, but never before what is already in it: the printer
  // answers in order.
  void queueBytes(const QByteArray& bytes, uint32_t afterMs, bool afterRead = false);

  // Bus side (VirtualPrinter.cpp), without the lock.
  void perform(usb::virt::VirtualUsbDevice& device, BusAction action);
  usb::virt::VirtualDeviceDescription description() const;
  void forgetTransfers();

  const Model model_;
  const QString serialNumber_;
  std::weak_ptr<usb::virt::VirtualUsbDevice> device_;

  mutable std::mutex mutex_;
  QString firmwareVersion_;
  bool updateMode_ = false;
  QString lastImageProblem_;
  QString lastTableProblem_;
  QStringList statusSequence_;
  qsizetype statusIndex_ = 0;
  Counters counters_;
  bool iSerialEnabled_ = true;
  ColorTableStore tables_;
  uint32_t latencyMs_ = 0;
  uint32_t restartDelayMs_ = 0;

  FrameParser parser_;
  std::vector<ReceivedFrame> frames_;
  // The bulk-in pipe, as on hardware: replies queue up until read, whatever the host sends
  // meanwhile, each arriving at its time (a late one after the host gave up on it); a read
  // before that waits for it. A stall is the next read's answer.
  struct Arrival {
    QByteArray bytes;
    std::chrono::steady_clock::time_point at;
    std::optional<uint32_t> afterReadMs;  // its time is set by the next read
  };
  std::deque<Arrival> pipe_;
  double timeScale_ = 1.0;  // the bus's, noted at each transfer
  uint32_t lateReplyMs_ = 0;
  bool stallNext_ = false;
  bool stallWrite_ = false;  // the bulk write under way stalls
  QString lateReplies_;
  const VirtualPrinterConfig::TableVersionForm tableVersionForm_;
  const bool shortFirmwareVersion_;
  const QString loaderSerial_;
  bool tableReadLate_ = false;  // the next table version read comes late (LateAfterWrite)
  uint64_t commandsReceived_ = 0;
  uint64_t commandsAnswered_ = 0;

  ReplyFault replyFault_ = ReplyFault::None;
  int64_t replyFaultAt_ = -1;  // the answered-command count it hits; -1 every
  int64_t unplugAt_ = 0;       // the received-command count that unplugs; 0 none
  UpdateFault updateFault_ = UpdateFault::None;

  bool stateChanged_ = false;  // by the command being handled
  std::function<void()> stateObserver_;

  std::atomic<bool> inTransfer_{false};  // checks the bus's one-transfer-at-a-time promise
};

}  // namespace sim
