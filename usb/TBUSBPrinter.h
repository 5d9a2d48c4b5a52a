#pragma once
// TBUSBPrinter: one attached printer-class USB interface. It holds its interface (device
// access), learns and keeps the printer's identity (USB strings, IEEE 1284 device ID, device key)
// and its device information, and owns the printer's serial command queue on which all its USB
// work runs.
// The maker's printer class TBUSBPrinterOLM (olm/printer/) derives from it.
//
// Its parts: usb::InterfaceAccess (usb/InterfaceAccess.h: open/close, idle release, pipes,
// resets, the gone flag) and usb::IdentityReader (usb/IdentityReader.h: USB strings, device ID);
// the printer keeps what it learns and what it announces. Implementation files: TBUSBPrinter.cpp
// (life cycle, identity, properties, device information), TBUSBPrinterQueue.cpp (command queue,
// exchanges, bulk I/O, probe).
//
// Threads and queues (checked with Q_ASSERT in debug builds):
//  - [main]   the main thread (main queue): creation, observable property changes and their
//             change announcements (propertyChanged), the registry, the interest handler.
//  - [queue]  the printer's command queue: all USB work. It is made at the start of
//             initialisation, before the first transfer, so no transfer ever runs on the main
//             thread (the backends assert it in debug builds).
//  - [any]    any thread.
// The main thread never waits for a command queue; a command queue may wait for the main queue
// (performSyncOnMainQueue).
//
// Lifetime: printers are always held by std::shared_ptr (create<T>()); every block queued for a
// printer holds a reference, so an object removed from the printer list is destroyed only after
// its queue has run dry, and always on the main thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>

#include "support/IOReturn.h"
#include "support/SerialQueue.h"
#include "usb/BulkInPipe.h"
#include "usb/DeviceInfo.h"
#include "usb/IdentityReader.h"
#include "usb/InterfaceAccess.h"
#include "usb/UsbPlatform.h"

// The printer's connection state (`state`).
enum TBUSBPrinterState : int64_t {
  TBUSBPrinterStateNone = 0,
  TBUSBPrinterStateClosed = 1,
  TBUSBPrinterStateOpen = 2,
  TBUSBPrinterStateOpening = 4,
  TBUSBPrinterStateProbed = 8,
};

enum TBUSBInterfaceStatus : int32_t {
  TBUSBInterfaceStatusClosed = 1,
  TBUSBInterfaceStatusOpen = 2,
};

class TBUSBPrinter : public QObject, public std::enable_shared_from_this<TBUSBPrinter> {
  Q_OBJECT

 public:
  using Completion = std::function<void(IOReturn result)>;
  using Block = std::function<void()>;
  using ReplyBlock = std::function<void(const QByteArray& reply)>;  // null QByteArray: no reply

  // Makes a printer of class T (TBUSBPrinter or a subclass) and runs its initialiser
  // initWithInterfaceInterface(). [main] Null when the initialiser yields no object.
  // `registry`: the one the interface came from, where the printer registers for its service's
  // interest messages; it must outlive the printer's queued work.
  template <class T>
  static std::shared_ptr<T> create(usb::UsbRegistry* registry, std::shared_ptr<usb::UsbInterface> interface,
                                   const usb::ServiceHandle& service) {
    std::shared_ptr<T> printer(new T(), &TBUSBPrinter::destroyOnMainThread);
    printer->setRegistry(registry);
    if (!printer->initWithInterfaceInterface(std::move(interface), service)) return nullptr;
    return printer;
  }

  ~TBUSBPrinter() override;

  // ---- Initialisation and hooks for the vendor class ----------------------------------------
  // The initialiser: creates the command queue, stores the interface and queues the identity
  // reads (USB strings, IEEE 1284 device ID and its decoding, then the service object).
  // Subclasses call this first, then add their own steps. [main]
  virtual bool initWithInterfaceInterface(std::shared_ptr<usb::UsbInterface> interface,
                                          const usb::ServiceHandle& service);
  // Whether the interface stays open while idle (an update in progress). False here. [any]
  virtual bool keepsInterfaceOpen() const { return false; }
  // The vendor facts, gathered when the printer is probed. Nothing here. [queue]
  virtual void getDeviceCustomInfo() {}
  // Reads one reply from the printer. Null here. [queue]
  virtual QByteArray printerReply() { return {}; }
  // The model's picture. The stored image here. [main]
  virtual QImage image() const;
  void setImage(const QImage& image);
  // The USB vendor and product IDs this class serves: none here; subclasses hide these.
  static QSet<uint16_t> supportedVendorIDs() { return {}; }
  static QSet<uint16_t> supportedProductIDs() { return {}; }

  // ---- Device and interface access (usb::InterfaceAccess) -------------------------------------
  // How the printer holds and lets go of its interface; reached directly by tests and by the
  // rarer calls (resets, ownership, pipes). [any]
  usb::InterfaceAccess& interfaceAccess() const;
  int64_t state() const;                                          // [any]
  void setState(int64_t state);                                   // [main] announces "state"
  bool isInterfaceOpen() const;                                   // [any]
  std::shared_ptr<usb::UsbInterface> interfaceInterface() const;  // [any]
  // Stores the interface and, when it changed, reads its IDs and USB strings. Queued.
  void setInterfaceInterface(std::shared_ptr<usb::UsbInterface> interface);
  usb::ServiceHandle deviceObject() const;  // [any]

  // Opening, closing and user work: see usb::InterfaceAccess.
  using BusyOpen = usb::InterfaceAccess::BusyOpen;
  IOReturn openInterface(BusyOpen busy = BusyOpen::Retry);                     // [queue]
  void openInterface(Completion completion, BusyOpen busy = BusyOpen::Retry);  // [any]
  void queueUserWork(std::function<void()> work);                              // [any]
  void closeInterface(Completion completion);                                  // always queued [any]
  uint8_t bulkIN() const;                                                      // [queue]
  uint8_t bulkOUT() const;                                                     // [queue]
  void hotPlug();                                                              // queues a re-enumeration
  // How long the open interface may stay unused before it is given back to the system (its
  // printer driver can print again), unless keepsInterfaceOpen() says otherwise; 2000 ms unless
  // the controller or a test shortens it. [any]
  void setIdleReleaseDelay(int ms);
  int idleReleaseDelay() const;
  void prepareForRelease();  // queued: drops every reference
  // At quit: lets go like prepareForRelease, and the work still queued makes no more transfers
  // (each would wait its whole time-out on a printer that answers nothing). [any]
  void prepareForQuit();
  bool hasGone() const;  // the service was terminated [any]

  // ---- Identity (read by usb::IdentityReader) ------------------------------------------------------
  usb::IdentityReader& identityReader() const;  // [any]
  // Decodes a device ID into manufacturer, model, serial number (this printer's USB serial
  // number when the ID has none) and description (pm::usbtext::decodeDeviceId). [any]
  void decodeDeviceID(
      const QString& deviceId,
      const std::function<void(const QString& manufacturer, const QString& model, const QString& serialNumber,
                               const QString& description)>& decoded) const;

  // True once the identity reads have run (whatever they found); identityRead() follows on the
  // main thread. A printer joins the list only then. [any]
  bool isIdentified() const;

  QString keyUSBdevice() const;        // "%.4X%.4X%.8X" [any]
  QByteArray descriptionUTF8() const;  // "manufacturer model serial" [any]
  QString idVendor() const;            // decimal text [any]
  QString idProduct() const;
  uint16_t vendorID() const;  // [any]
  uint16_t productID() const;
  uint32_t locationID() const;

  // Observable identity properties: read [any], written [main] with an announcement.
  QString raw1284DeviceID() const;
  void setRaw1284DeviceID(const QString& v);
  QString deviceID() const;
  void setDeviceID(const QString& v);
  QString manufacturer() const;
  void setManufacturer(const QString& v);
  QString model() const;
  void setModel(const QString& v);
  QString vendorUSB() const;
  void setVendorUSB(const QString& v);
  QString productUSB() const;
  void setProductUSB(const QString& v);
  QString serialNumberUSB() const;
  void setSerialNumberUSB(const QString& v);
  QString status() const;
  void setStatus(const QString& v);  // [any]
  QString statusString() const;
  void setStatusString(const QString& v);
  bool inFirmwareUpdate() const;
  void setInFirmwareUpdate(bool v);

  // ---- Device information -----------------------------------------------------------------------
  const std::shared_ptr<pm::DeviceInfo>& deviceInfoDict() const { return deviceInfo_; }  // [any]
  QString printerStatus() const;                                                         // [any]
  void setPrinterStatus(const QString& status);  // stored and announced on the main queue
  QString firmwareVersion() const;               // [any]
  QString printerSerialNumber() const;           // [any]
  // Stores a device-information value and announces `key` on the main queue. [any]
  void storeDeviceInfo(const QString& key, const QVariant& value);

  // The process-wide device-information registry (by device key, for the life of the process).
  // [main]
  static std::shared_ptr<pm::DeviceInfo> deviceInfoForKey(const QString& key);
  static void setDeviceInfo(const std::shared_ptr<pm::DeviceInfo>& info, const QString& key);
  static void clearDeviceInfoRegistry();  // tests only

  // ---- Command queue and bulk I/O -----------------------------------------------------------------
  pm::SerialQueue* printerCommandQueue() const { return queue_.get(); }  // [any]
  // True on this printer's queue (and while the initialiser has not made it yet). [any]
  bool isPrinterCommandQueue() const;
  void performInlineOnCommandQueue(Block block);              // [any]
  void performAfterOnCommandQueue(int delayMs, Block block);  // [any]
  static void performSyncOnMainQueue(const Block& block);     // [any]
  static bool isMainQueue();                                  // [any]

  void sendNoReplyPrinterCommand(Block command);  // [any]
  // The command and its reply read are one block on the queue. The reply block runs inline when
  // `replyQueue` is this printer's queue, else on `replyQueue` or, when null, the main queue.
  void sendPrinterCommand(Block command, pm::SerialQueue* replyQueue, ReplyBlock reply);  // [any]

  // Both time-outs of every bulk transfer of a command or reply: a printer silent this long has
  // not taken the command or has no reply.
  static constexpr uint32_t kBulkTimeoutMs = 5000;
  bool writeToInterfaceWithData(const QByteArray& data);  // [queue] kBulkTimeoutMs time-outs
  QByteArray interfaceReadDataOfSize(uint32_t size);      // [queue] null on failure
  // Drops what arrived in the bulk-in pipe outside an exchange (a reply that came after its
  // reader gave up, the rest of one not read whole), without waiting, and logs it; after a reply
  // timed out, first waits for the late reply or a quiet pipe (usb/BulkInPipe.h). Vendor code
  // runs it before each command. Answers the number of bytes dropped. [queue], interface open.
  uint32_t drainBulkIn();
  IOReturn readStatus() const { return readStatus_; }    // [queue]
  IOReturn writeStatus() const { return writeStatus_; }  // [queue]

  void probe();       // [any] getDeviceCustomInfo on the queue
  void updateInfo();  // [any]

 signals:
  // An observable fact of this printer changed: "state", "printerStatus", "firmwareVersion",
  // a colour-table key, ... Always emitted on the main thread.
  void propertyChanged(const QString& key);
  // The identity reads have run (see isIdentified). Emitted once, on the main thread.
  void identityRead();

 protected:
  TBUSBPrinter();
  // Emits propertyChanged(key) on the main thread (inline there, else posted). [any]
  void announceChange(const QString& key);
  void setReadStatus(IOReturn status) { readStatus_ = status; }
  // The open interface was just used: the idle release starts counting again. [queue]
  void noteInterfaceUse();
  void setWriteStatus(IOReturn status) { writeStatus_ = status; }
  // The bulk-in pipe's state between exchanges. [queue]
  usb::BulkInPipe& bulkInPipe();
  // Whether the bytes gathered while a late reply is awaited hold a whole reply; until one does,
  // the wait ends only when the pipe goes quiet. Never here. [queue]
  virtual bool isWholeReply(const QByteArray& gathered) const {
    Q_UNUSED(gathered);
    return false;
  }

 private:
  friend class usb::InterfaceAccess;  // announces the connection state it changes

  static void destroyOnMainThread(TBUSBPrinter* printer);
  void setRegistry(usb::UsbRegistry* registry);  // before init [main]
  void createCommandQueue();                     // [main]
  void nameCommandQueue(const QString& manufacturer, const QString& model,
                        const QString& serialNumber);  // [queue]
  void readUsbStrings();                               // [queue] stores them on the main queue
  // Reads the device ID, stores it and what it tells, then sets the service object. [queue]
  void readDeviceID(const usb::ServiceHandle& service);
  void markIdentified();  // [queue]

  struct Private;
  std::unique_ptr<Private> d_;
  std::shared_ptr<pm::DeviceInfo> deviceInfo_;
  std::unique_ptr<pm::SerialQueue> queue_;
  IOReturn readStatus_ = 0;
  IOReturn writeStatus_ = 0;
};

// The interest handler ("IOGeneralInterest" messages of a printer's service): turns device
// messages into the printer's connection state and status text. [main]
void usbDeviceInterest(TBUSBPrinter* printer, const usb::ServiceHandle& service, uint32_t messageType,
                       void* messageArgument);
