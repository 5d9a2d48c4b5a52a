// The printer's properties and counters: the read exchanges that fill the device information,
// the counter resets, the USB iSerial setting, the model's picture and the attach-time gathering.
#include <QFile>

#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/protocol/Framing.h"
#include "support/MainQueue.h"
#include "support/NameTables.h"
#include "support/Resources.h"
#include "support/SystemLog.h"

namespace {

using pm::framing::Command;

const QString kKeyFirmwareVersion = QStringLiteral("firmwareVersion");
const QString kKeySerialNumber = QStringLiteral("printerSerialNumber");
const QString kKeyLifetimeCounter = QStringLiteral("lifetimeCounter");
const QString kKeyISerial = QStringLiteral("ZOVRAN_OLM_USB_ISerialisSet");

}  // namespace

std::shared_ptr<TBUSBPrinterOLM> TBUSBPrinterOLM::self() {
  return std::static_pointer_cast<TBUSBPrinterOLM>(shared_from_this());
}

// The reply block runs inline on the queue right after the read, so the value is in the
// device information before the next exchange on the queue decides anything from it.
void TBUSBPrinterOLM::exchangeOnQueue(Command code, const QByteArray& payload, ReplyBlock reply) {
  Q_ASSERT(isPrinterCommandQueue());
  sendPrinterCommand([this, code, payload] { sendPrinterCommand(code, payload); }, printerCommandQueue(),
                     std::move(reply));
}

std::optional<QString> TBUSBPrinterOLM::replyText(const QByteArray& reply) {
  if (reply.isEmpty()) return std::nullopt;
  return pm::framing::replyText(reply);
}

// ---- Property reads ------------------------------------------------------------------------------

void TBUSBPrinterOLM::updatePrinterProperty(const QString& key, Command code, bool trimWhitespace,
                                            const Munge& munge) {
  auto printer = self();
  openInterface([printer, key, code, trimWhitespace, munge](IOReturn result) {
    if (result != kIOReturnSuccess) return;
    printer->exchangeOnQueue(code, {}, [printer, key, trimWhitespace, munge](const QByteArray& reply) {
      // A reply that is no valid text is no value: the entry is kept without one (an earlier
      // reading must not stand for this one), and only the log and the window show "<NULL>".
      std::optional<QString> value = replyText(reply);
      if (value && trimWhitespace) value = value->trimmed();
      if (value && munge) value = munge(*value);
      pm::systemLogf("%s: %s", qPrintable(key), qPrintable(value.value_or(kNotReadText)));
      printer->storeDeviceInfo(key, value ? QVariant(*value) : QVariant());
    });
  });
}

void TBUSBPrinterOLM::getPrinterFirmwareVersion() {
  updatePrinterProperty(kKeyFirmwareVersion, Command::FirmwareVersion);
}

void TBUSBPrinterOLM::updatePrinterSerialNumber() {
  updatePrinterProperty(kKeySerialNumber, Command::SerialNumber);
}

void TBUSBPrinterOLM::getPrinterLifetimeCounter() {
  updatePrinterProperty(kKeyLifetimeCounter, Command::CounterLife, true, &mungeLifetimeCounter);
}

QString TBUSBPrinterOLM::mungeLifetimeCounter(const QString& value) {
  if (!value.startsWith(QLatin1String("CL"))) return value;
  return QString::number(pm::framing::intValue(QStringView(value).sliced(2)));
}

std::optional<QString> TBUSBPrinterOLM::inlineGetFirmwareString() {
  Q_ASSERT(isPrinterCommandQueue());
  sendPrinterCommand(Command::FirmwareVersion);
  const std::optional<QString> text = replyText(printerReply());
  if (!text) return std::nullopt;
  return text->trimmed();
}

QString TBUSBPrinterOLM::lifetimeCounter() const { return deviceInfoDict()->string(kKeyLifetimeCounter); }

double TBUSBPrinterOLM::installedFirmwareVersion() const {
  const QString version = firmwareVersion();
  if (version.isEmpty()) return 0.0;
  return pm::framing::doubleValue(version.section(QLatin1Char(' '), -1));
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

void TBUSBPrinterOLM::readCounter(char letter, const CounterCompletion& done) {
  auto printer = self();
  const auto finish = [done](const std::optional<QString>& value) {
    pm::performAsyncOnMainQueue([done, value] { done(value); });
  };
  openInterface(
      [printer, letter, finish](IOReturn result) {
        const std::optional<Command> command = counterReadCommand(letter);
        if (result != kIOReturnSuccess || !command) {
          finish(std::nullopt);
          return;
        }
        printer->exchangeOnQueue(*command, {}, [finish](const QByteArray& reply) {
          const std::optional<QString> text = replyText(reply);
          finish(text ? std::optional(QString::number(pm::framing::intValue(*text))) : std::nullopt);
        });
      },
      BusyOpen::Report);
}

// "Done" only once the printer reports the counter at zero: the clear command has no reply.
void TBUSBPrinterOLM::resetCounter(char letter, const CounterResetCompletion& done) {
  auto printer = self();
  const auto finish = [done](bool reset, const QString& why) {
    if (done) pm::performAsyncOnMainQueue([done, reset, why] { done(reset, why); });
  };
  openInterface(
      [printer, letter, done, finish](IOReturn result) {
        if (result == kIOReturnExclusiveAccess) {
          printer->dialogs().showPrinterBusyAlert(
              tr("Counter %1 of %2 was not reset: the printer is in use by another program.")
                  .arg(QChar::fromLatin1(letter))
                  .arg(QString::fromUtf8(printer->descriptionUTF8())),
              [printer, letter, done, finish](bool retry) {
                if (retry) printer->resetCounter(letter, done);
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
          const std::optional<QString> text = replyText(reply);
          if (!text) {
            finish(false, tr("The printer did not report the counter afterwards."));
          } else if (pm::framing::intValue(*text) != 0) {
            finish(false, tr("The printer still reports %1.").arg(text->trimmed()));
          } else {
            finish(true, QString());
          }
        });
      },
      BusyOpen::Report);
}

// ---- USB iSerial setting -------------------------------------------------------------------------

bool TBUSBPrinterOLM::hasISerialSupport() const {
  const std::optional<pm::PrinterModel> model = printerModel();
  return model && pm::hasISerialAt(pm::modelTraits(*model), installedFirmwareVersion());
}

void TBUSBPrinterOLM::getUSB_ISerial() {
  if (!hasISerialSupport()) return;
  auto printer = self();
  openInterface([printer](IOReturn result) {
    if (result != kIOReturnSuccess) return;
    printer->exchangeOnQueue(Command::ISerialRead, {}, [printer](const QByteArray& reply) {
      std::optional<QString> text = replyText(reply);
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

void TBUSBPrinterOLM::setUSB_ISerial(bool enabled) {
  if (!hasISerialSupport()) return;
  auto printer = self();
  openInterface([printer, enabled](IOReturn result) {
    if (result != kIOReturnSuccess) return;
    const char payload[4] = {'0', enabled ? '1' : '0', '\r', '\0'};
    printer->sendPrinterCommand(Command::ISerialWrite, QByteArray(payload, sizeof payload));
    printer->getUSB_ISerial();
  });
}

void TBUSBPrinterOLM::setEnabledUSBSerial(bool enabled, const UsbSerialCompletion& done) {
  auto printer = self();
  const auto finish = [done](bool written, const QString& why) {
    if (done) pm::performAsyncOnMainQueue([done, written, why] { done(written, why); });
  };
  openInterface(
      [printer, enabled, done, finish](IOReturn result) {
        const QString name = QString::fromUtf8(printer->descriptionUTF8());
        if (result == kIOReturnExclusiveAccess) {
          printer->dialogs().showPrinterBusyAlert(
              tr("The USB serial number of %1 was not changed: the printer is in use by another program.")
                  .arg(name),
              [printer, enabled, done, finish](bool retry) {
                if (retry) printer->setEnabledUSBSerial(enabled, done);
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
        if (!printer->hasISerialSupport()) {
          printer->closeInterface(nullptr);
          finish(false, tr("The printer has no USB serial-number setting."));
          return;
        }
        printer->setUSB_ISerial(enabled);
        // Read back by the write's own exchange, on this queue.
        const bool written = printer->usbISerial() == enabled;
        printer->closeInterface([printer, written, finish](IOReturn) {
          printer->dialogs().showPowerCycleAlert();
          printer->dialogs().deleteExistingPrinterQueues([written, finish] {
            finish(written, written ? QString() : tr("The printer does not report the new setting."));
          });
        });
      },
      BusyOpen::Report);
}

void TBUSBPrinterOLM::setUsbISerial(bool enabled) {
  if (enabled == usbISerial()) return;
  setEnabledUSBSerial(enabled);
}

bool TBUSBPrinterOLM::usbISerial() const {
  const QString value = deviceInfoDict()->string(kKeyISerial);
  return !value.isEmpty() && pm::framing::intValue(value) != 0;
}

QString TBUSBPrinterOLM::usbISerialString() const {
  if (!hasISerialSupport()) return QStringLiteral("Unavailable");
  if (!deviceInfoDict()->contains(kKeyISerial)) return QString();  // not read yet: unknown
  return usbISerial() ? QStringLiteral("Enabled") : QStringLiteral("Disabled");
}

// ---- Picture -------------------------------------------------------------------------------------

// PNG files are loaded (rendered once from the SVG drawings beside them): the Qt SVG module is
// not linked.
QImage TBUSBPrinterOLM::image() const {
  const std::lock_guard guard(imageLock_);
  if (!imageCache_) {
    QImage picture;
    if (const std::optional<pm::PrinterModel> model = printerModel()) {
      const QString base = pm::resourceDirectory() + QStringLiteral("/pictures/") +
                           QLatin1String(pm::modelTraits(*model).picture);
      if (!picture.load(base + QStringLiteral(".png"))) picture.load(base + QStringLiteral(".svg"));
    }
    imageCache_ = picture;
  }
  return *imageCache_;
}

// ---- Attach-time gathering -----------------------------------------------------------------------

void TBUSBPrinterOLM::getDeviceCustomInfo() {
  auto printer = self();
  getPrinterStatus([printer](const StatusCode& code) {
    Q_ASSERT(pm::isMainQueue());
    // A printer that gave no status is not asked for the rest: each read would wait its whole
    // time-out and hold its queue for a minute. Refresh asks again.
    if (!code || *code == kUpdateModeCode) {  // or the update's recognition takes over
      printer->noteAttachReadsDone();
      return;
    }
    printer->openInterface([printer](IOReturn result) {
      if (result != kIOReturnSuccess) {
        printer->noteAttachReadsDone();
        return;
      }
      // Each read issues its exchange at once on this queue, so the printer sees the commands in
      // exactly this order.
      printer->getPrinterFirmwareVersion();
      printer->getPrinterLifetimeCounter();
      printer->colorTables().getPrinterColorTableVersion(nullptr);
      printer->colorTables().getPrinterColorTableChecksum(nullptr);
      printer->updatePrinterSerialNumber();
      printer->getUSB_ISerial();
      printer->closeInterface([printer](IOReturn) { printer->noteAttachReadsDone(); });
    });
  });
}

void TBUSBPrinterOLM::noteAttachReadsDone() {
  attachReadsDone_ = true;
  announceChange(QStringLiteral("attachReadsDone"));
}
