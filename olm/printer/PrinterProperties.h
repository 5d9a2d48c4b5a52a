#pragma once
// pm::PrinterProperties: the properties of one of the maker's printers that the window and the
// command line show and the user may change: the property reads that fill the device information
// ("firmwareVersion", "printerSerialNumber", "lifetimeCounter"), the counters and their resets,
// and the USB iSerial setting. One per printer, owned by it (properties()); it lives and dies with
// it. Its texts share the printer class's translations.
//
// Threads: as marked; [main] the main thread, [queue] the printer's command queue, [any] any
// (checked with Q_ASSERT in debug builds).

#include <functional>
#include <optional>

#include <QCoreApplication>
#include <QString>

#include "olm/protocol/Framing.h"
#include "support/Completion.h"

class TBUSBPrinterOLM;

namespace pm {

class PrinterProperties {
  Q_DECLARE_TR_FUNCTIONS(TBUSBPrinterOLM)

 public:
  using Munge = std::function<QString(const QString& value)>;

  explicit PrinterProperties(TBUSBPrinterOLM& printer) : printer_(printer) {}
  PrinterProperties(const PrinterProperties&) = delete;
  PrinterProperties& operator=(const PrinterProperties&) = delete;

  // ---- Property reads ---------------------------------------------------------------------------
  // One read exchange whose text becomes the entry under `key`; without a text the entry stays,
  // holding no value (an invalid QVariant: read, nothing came; see TBUSBPrinterOLM::isUnread).
  // Opens the interface (leaves it open). [any]
  void updatePrinterProperty(const QString& key, framing::Command code, bool trimWhitespace = true,
                             const Munge& munge = nullptr);
  void getPrinterFirmwareVersion();  // "firmwareVersion"     [any]
  void updatePrinterSerialNumber();  // "printerSerialNumber" [any]
  void getPrinterLifetimeCounter();  // "lifetimeCounter", with the "CL" rule [any]
  // The "CL" prefix rule of the lifetime counter. [any]
  static QString mungeLifetimeCounter(const QString& value);
  // A counter reply's value: its digits, after one of the known prefixes ("CL", "CA", "CB", "CM")
  // or none; nullopt for anything else (no digits, other letters, a sign). The window, the
  // command line and the reset's read-back use it alike. [any]
  static std::optional<uint32_t> counterValue(const QString& reply);
  // A synchronous "FVER" exchange; nullopt without a reply. Stores nothing. [queue], open.
  std::optional<QString> inlineGetFirmwareString();
  QString lifetimeCounter() const;  // [any]

  // ---- Counters ---------------------------------------------------------------------------------
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

  // ---- USB iSerial setting ----------------------------------------------------------------------
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

 private:
  TBUSBPrinterOLM& printer_;  // the owner
};

}  // namespace pm
