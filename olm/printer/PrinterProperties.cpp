// pm::PrinterProperties: the read exchanges that fill the device information, the counter resets
// and the USB iSerial setting.
#include "olm/printer/PrinterProperties.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/protocol/Framing.h"
#include "support/MainQueue.h"
#include "support/NameTables.h"
#include "support/SystemLog.h"

namespace {

using pm::framing::Command;

const QString kKeyFirmwareVersion = QStringLiteral("firmwareVersion");
const QString kKeySerialNumber = QStringLiteral("printerSerialNumber");
const QString kKeyLifetimeCounter = QStringLiteral("lifetimeCounter");
const QString kKeyISerial = QStringLiteral("ZOVRAN_OLM_USB_ISerialisSet");

}  // namespace

// ---- Property reads ------------------------------------------------------------------------------

void pm::PrinterProperties::updatePrinterProperty(const QString& key, Command code, bool trimWhitespace,
                                                  const Munge& munge) {
  auto printer = printer_.self();
  printer_.openInterface([printer, key, code, trimWhitespace, munge](IOReturn result) {
    if (result != kIOReturnSuccess) return;
    printer->exchangeOnQueue(code, {}, [printer, key, trimWhitespace, munge](const QByteArray& reply) {
      // A reply that is no valid text is no value: the entry is kept without one (an earlier
      // reading must not stand for this one), and only the log and the window show "<NULL>".
      std::optional<QString> value = TBUSBPrinterOLM::replyText(reply);
      if (value && trimWhitespace) value = value->trimmed();
      if (value && munge) value = munge(*value);
      pm::systemLogf("%s: %s", qPrintable(key), qPrintable(value.value_or(TBUSBPrinterOLM::kNotReadText)));
      printer->storeDeviceInfo(key, value ? QVariant(*value) : QVariant());
    });
  });
}

void pm::PrinterProperties::getPrinterFirmwareVersion() {
  updatePrinterProperty(kKeyFirmwareVersion, Command::FirmwareVersion);
}

void pm::PrinterProperties::updatePrinterSerialNumber() {
  updatePrinterProperty(kKeySerialNumber, Command::SerialNumber);
}

void pm::PrinterProperties::getPrinterLifetimeCounter() {
  updatePrinterProperty(kKeyLifetimeCounter, Command::CounterLife, true,
                        &PrinterProperties::mungeLifetimeCounter);
}

QString pm::PrinterProperties::mungeLifetimeCounter(const QString& value) {
  if (!value.startsWith(QLatin1String("CL"))) return value;
  return QString::number(pm::framing::intValue(QStringView(value).sliced(2)));
}

std::optional<uint32_t> pm::PrinterProperties::counterValue(const QString& reply) {
  QStringView digits = QStringView(reply).trimmed();
  static const QString kPrefixes[] = {QStringLiteral("CL"), QStringLiteral("CA"), QStringLiteral("CB"),
                                      QStringLiteral("CM")};
  for (const QString& prefix : kPrefixes)
    if (digits.startsWith(prefix)) {
      digits = digits.sliced(prefix.size());
      break;
    }
  if (digits.isEmpty() || digits.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (const QChar c : digits) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c.unicode() - u'0');
  }
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::optional<QString> pm::PrinterProperties::inlineGetFirmwareString() {
  Q_ASSERT(printer_.isPrinterCommandQueue());
  printer_.sendPrinterCommand(Command::FirmwareVersion);
  const std::optional<QString> text = TBUSBPrinterOLM::replyText(printer_.printerReply());
  if (!text) return std::nullopt;
  return text->trimmed();
}

QString pm::PrinterProperties::lifetimeCounter() const {
  return printer_.deviceInfoDict()->string(kKeyLifetimeCounter);
}

// ---- Counters ------------------------------------------------------------------------------------

namespace {
std::optional<Command> counterReadCommand(char letter) {
  if (letter == 'A') return Command::CounterA;
  if (letter == 'B') return Command::CounterB;
  if (letter == 'M') return Command::CounterM;
  return std::nullopt;
}
}  // namespace

void pm::PrinterProperties::readCounter(char letter, const CounterCompletion& done) {
  auto printer = printer_.self();
  const auto finish = [done](const std::optional<QString>& value) {
    pm::performAsyncOnMainQueue([done, value] { done(value); });
  };
  printer_.openInterface(
      [printer, letter, finish](IOReturn result) {
        const std::optional<Command> command = counterReadCommand(letter);
        if (result != kIOReturnSuccess || !command) {
          finish(std::nullopt);
          return;
        }
        printer->exchangeOnQueue(*command, {}, [finish](const QByteArray& reply) {
          const std::optional<QString> text = TBUSBPrinterOLM::replyText(reply);
          const std::optional<uint32_t> count = text ? counterValue(*text) : std::nullopt;
          finish(count ? std::optional(QString::number(*count)) : std::nullopt);
        });
      },
      TBUSBPrinterOLM::BusyOpen::Report);
}

// "Done" only once the printer reports the counter at zero: the clear command has no reply.
void pm::PrinterProperties::resetCounter(char letter, const CounterResetCompletion& done) {
  auto printer = printer_.self();
  const auto finish = [done](bool reset, const QString& why) {
    if (done) pm::performAsyncOnMainQueue([done, reset, why] { done(reset, why); });
  };
  printer_.openInterface(
      [printer, letter, done, finish](IOReturn result) {
        if (result == kIOReturnExclusiveAccess) {
          printer->dialogs().showPrinterBusyAlert(
              tr("Counter %1 of %2 was not reset: the printer is in use by another program.")
                  .arg(QChar::fromLatin1(letter))
                  .arg(printer->printerName()),
              [printer, letter, done, finish](bool retry) {
                if (retry) printer->properties().resetCounter(letter, done);
                else finish(false, QString());
              });
          return;
        }
        if (result != kIOReturnSuccess) {
          finish(
              false,
              tr("The printer could not be opened (%1).").arg(QLatin1String(pm::stringForIOReturn(result))));
          return;
        }
        const std::optional<Command> readBack = counterReadCommand(letter);
        if (!readBack) {
          finish(false, tr("The printer has no counter %1.").arg(QChar::fromLatin1(letter)));
          return;
        }
        const char payload[4] = {'C', letter, '\r', '\0'};
        printer->sendPrinterCommand(Command::CounterClear, QByteArray(payload, sizeof payload));
        printer->exchangeOnQueue(*readBack, {}, [finish](const QByteArray& reply) {
          const std::optional<QString> text = TBUSBPrinterOLM::replyText(reply);
          const std::optional<uint32_t> count = text ? counterValue(*text) : std::nullopt;
          if (!text) {
            finish(false, tr("The printer did not report the counter afterwards."));
          } else if (!count) {
            pm::systemLogf("counter reply \"%s\" is no count", qUtf8Printable(*text));
            finish(false,
                   tr("The reset could not be confirmed: the printer reports \"%1\".").arg(text->trimmed()));
          } else if (*count != 0) {
            finish(false, tr("The printer still reports %1.").arg(*count));
          } else {
            finish(true, QString());
          }
        });
      },
      TBUSBPrinterOLM::BusyOpen::Report);
}

// ---- USB iSerial setting -------------------------------------------------------------------------

bool pm::PrinterProperties::hasISerialSupport() const {
  const std::optional<pm::PrinterModel> model = printer_.printerModel();
  return model && pm::hasISerialAt(pm::modelTraits(*model), printer_.installedFirmwareVersion());
}

void pm::PrinterProperties::getUSB_ISerial() {
  if (!hasISerialSupport()) return;
  auto printer = printer_.self();
  printer_.openInterface([printer](IOReturn result) {
    if (result != kIOReturnSuccess) return;
    printer->exchangeOnQueue(Command::ISerialRead, {}, [printer](const QByteArray& reply) {
      std::optional<QString> text = TBUSBPrinterOLM::replyText(reply);
      if (!text) return;  // the old value stays
      if (!text->isEmpty()) *text = QString::number(pm::framing::intValue(*text));
      printer->storeDeviceInfo(kKeyISerial, *text);
      printer->announceChange(QStringLiteral("usbISerial"));
      printer->announceChange(QStringLiteral("usbISerialString"));
      pm::systemLogf("usbISerial value: %s", qPrintable(*text));
    });
    printer->closeInterface(nullptr);
  });
}

void pm::PrinterProperties::setUSB_ISerial(bool enabled) {
  if (!hasISerialSupport()) return;
  auto printer = printer_.self();
  printer_.openInterface([printer, enabled](IOReturn result) {
    if (result != kIOReturnSuccess) return;
    const char payload[4] = {'0', enabled ? '1' : '0', '\r', '\0'};
    printer->sendPrinterCommand(Command::ISerialWrite, QByteArray(payload, sizeof payload));
    printer->properties().getUSB_ISerial();
  });
}

void pm::PrinterProperties::setEnabledUSBSerial(bool enabled, const UsbSerialCompletion& done) {
  auto printer = printer_.self();
  const auto finish = [done](bool written, const QString& why) {
    if (done) pm::performAsyncOnMainQueue([done, written, why] { done(written, why); });
  };
  printer_.openInterface(
      [printer, enabled, done, finish](IOReturn result) {
        const QString name = printer->printerName();
        if (result == kIOReturnExclusiveAccess) {
          printer->dialogs().showPrinterBusyAlert(
              tr("The USB serial number of %1 was not changed: the printer is in use by another program.")
                  .arg(name),
              [printer, enabled, done, finish](bool retry) {
                if (retry) printer->properties().setEnabledUSBSerial(enabled, done);
                else finish(false, tr("The Selected Printer is Unavailable. (Busy)"));
              });
          return;
        }
        if (result != kIOReturnSuccess) {
          const QString notDone =
              tr("The USB serial number of %1 was not changed: the printer could not be opened (%2).")
                  .arg(name, QLatin1String(pm::stringForIOReturn(result)));
          PrinterDialogs::tellActionEnded(notDone);
          finish(false, notDone);
          return;
        }
        if (!printer->properties().hasISerialSupport()) {
          printer->closeInterface(nullptr);
          finish(false, tr("The printer has no USB serial-number setting."));
          return;
        }
        printer->properties().setUSB_ISerial(enabled);
        // Read back by the write's own exchange, on this queue.
        const bool written = printer->properties().usbISerial() == enabled;
        // The queues named by the old serial string break only once the printer has the new
        // setting: without its word they stay.
        printer->closeInterface([printer, written, finish](IOReturn) {
          printer->dialogs().showPowerCycleAlert();
          if (!written) return finish(false, tr("The printer does not report the new setting."));
          printer->dialogs().deleteExistingPrinterQueues([finish] { finish(true, QString()); });
        });
      },
      TBUSBPrinterOLM::BusyOpen::Report);
}

void pm::PrinterProperties::setUsbISerial(bool enabled) {
  if (enabled == usbISerial()) return;
  setEnabledUSBSerial(enabled);
}

bool pm::PrinterProperties::usbISerial() const {
  const QString value = printer_.deviceInfoDict()->string(kKeyISerial);
  return !value.isEmpty() && pm::framing::intValue(value) != 0;
}

QString pm::PrinterProperties::usbISerialString() const {
  if (!hasISerialSupport()) return QStringLiteral("Unavailable");
  if (!printer_.deviceInfoDict()->contains(kKeyISerial)) return QString();  // not read yet: unknown
  return usbISerial() ? QStringLiteral("Enabled") : QStringLiteral("Disabled");
}
