// TBUSBPrinterOLM: what a new printer object does first. It takes over the device information
// kept for its device key (so a printer restarted by the update finds its stage) and probes the
// printer: a recorded stage carries the update on to its next phase or closes it; without one, a
// printer found waiting in update mode is offered the upload.

#include <QDebug>
#include <QThread>

#include "support/MainQueue.h"
#include "support/SystemLog.h"
#include "update/UpdateReturnWatch.h"
#include "vendor/TBUSBPrinterOLM.h"

namespace {

constexpr int32_t kCommandStatus = 0;
// A VLA loader that reports this is still busy with the update; the next attach looks again.
const QString kVLAIntermediateFirmware = QStringLiteral("VLA_ALLFWU_2.05");

QString describe(const QVariantMap& map) {
  QString text;
  QDebug(&text).nospace() << map;
  return text;
}

}  // namespace

// ---- Creation ----------------------------------------------------------------------------------

bool TBUSBPrinterOLM::initWithInterfaceInterface(std::shared_ptr<usb::UsbInterface> interface,
                                                 const usb::ServiceHandle& service) {
  Q_ASSERT(pm::isMainQueue());
  if (!TBUSBPrinter::initWithInterfaceInterface(std::move(interface), service)) return false;
  const QString line(64, QLatin1Char('+'));
  for (int i = 0; i < 3; ++i) pm::systemLog(line);
  const QString key = keyUSBdevice();
  pm::systemLog(QStringLiteral("initing device for key %1").arg(key));

  const QVariantMap record = deviceInfoForKey(key)->snapshot();
  pm::systemLog(QStringLiteral("infoDict here is %1").arg(describe(record)));
  deviceInfoDict()->merge(record);
  auto printer = self();
  pm::performAsyncOnMainQueue([printer, record] {
    const QString manufacturer = record.value(QStringLiteral("manufacturer")).toString();
    const QString model = record.value(QStringLiteral("model")).toString();
    // The record only fills what the printer does not know yet.
    if (printer->manufacturer().isEmpty() && !manufacturer.isEmpty()) printer->setManufacturer(manufacturer);
    if (printer->model().isEmpty() && !model.isEmpty()) printer->setModel(model);
  });
  pm::UpdateReturnWatch::arrived(key);
  probeAtInit();
  return true;
}

// ---- Probe -------------------------------------------------------------------------------------

void TBUSBPrinterOLM::probeAtInit() {
  auto printer = self();
  openInterface([printer](IOReturn result) {
    if (result != kIOReturnSuccess) return;
    const QVariant stage = printer->deviceInfoDict()->value(kUpdateStageKey);
    if (!stage.isValid()) {
      printer->getPrinterStatus([printer](const StatusCode& code) {
        if (code && *code == kUpdateModeCode) {
          printer->showUnexpectedUpdateModePrompt();
        } else {
          printer->getDeviceCustomInfo();
        }
      });
      return;  // the interface stays open on this path
    }

    pm::performAsyncOnMainQueue([printer] { printer->setInFirmwareUpdate(true); });
    const std::optional<QString> version = printer->inlineGetFirmwareString();
    printer->storeDeviceInfo(QStringLiteral("firmwareVersion"), version.value_or(QString()));
    pm::systemLog(QStringLiteral("printer firmware is currently reported as \"%1\"")
                      .arg(version.value_or(QStringLiteral("(null)"))));
    switch (stage.toInt()) {
      case 2:
        printer->continueAfterUpload(version);
        break;
      case 1:
        pm::systemLog(QStringLiteral("found a device waiting for firmware update"));
        printer->getPrinterStatus([printer](const StatusCode& code) {
          if (code && *code == kUpdateModeCode) {
            pm::systemLog(QStringLiteral("device is in firmware update mode ... uploading firmware"));
            printer->uploadFirmware();
          } else {
            pm::systemLog(QStringLiteral("Bad Status (%1) while waiting for firmware update")
                              .arg(code.value_or(QStringLiteral("(null)"))));
          }
        });
        break;
      default:
        pm::systemLog(QStringLiteral("found a device finished with firmware update"));
        pm::performAsyncOnMainQueue([printer] { printer->setInFirmwareUpdate(false); });
        printer->deviceInfoDict()->remove(kUpdateStageKey);
        printer->getDeviceCustomInfo();
        break;
    }
    printer->closeInterface(nullptr);
  });
}

// Stage 2: the image was sent and the printer is back.
void TBUSBPrinterOLM::continueAfterUpload(const std::optional<QString>& version) {
  Q_ASSERT(isPrinterCommandQueue());
  pm::systemLog(QStringLiteral("found a device rebooting after firmware update"));
  if (version == kVLAIntermediateFirmware) {
    QThread::msleep(1000);
    return;
  }
  // A printer that lost power while the image arrived comes back in its loader; finishing the
  // update would write tables it ignores and report success. It gets the image again instead.
  auto code = std::make_shared<std::optional<QString>>();
  sendPrinterCommand([this] { sendPrinterCommand(kCommandStatus); }, printerCommandQueue(),
                     [code](const QByteArray& reply) { *code = replyText(reply); });
  if (*code == kUpdateModeCode) {
    pm::systemLog(QStringLiteral("device is still in firmware update mode after the upload ... uploading firmware again"));
    uploadFirmware();
    return;
  }

  const QString previous = deviceInfoDict()->string(QStringLiteral("firmwareVersionPrevious"));
  const QString current = version.value_or(QString());
  if (previous.isNull() || previous == current) {
    pm::systemLog(QStringLiteral("firmware version unchanged at %1").arg(current));
  } else {
    pm::systemLog(QStringLiteral("firmware version changed from %1 to %2").arg(previous, current));
  }
  storeDeviceInfo(QStringLiteral("firmwareVersion"), current);
  finishFirmwareUpdate();
}

// ---- A printer found in update mode without a stage ------------------------------------------------

void TBUSBPrinterOLM::showUnexpectedUpdateModePrompt() {
  auto printer = self();
  showCustomAlert(tr("Attention:"),
                  tr("A printer was unexpectedly found in firmware update mode. Would you like to update "
                     "the firmware? "),
                  {tr("Ignore"), tr("Update Firmware")}, false, pm::AlertStyle::Critical, nullptr,
                  [printer](const pm::AlertAnswer& answer) {
                    if (answer.returnCode == 1001) {
                      pm::systemLog(QStringLiteral("device is in firmware update mode ... uploading firmware"));
                      printer->uploadFirmware();
                      return;
                    }
                    printer->showAlert(tr("Please power-cycle this printer"),
                                       tr("Contact customer support if power-cycling does not resolve the issue."),
                                       {tr("OK")}, nullptr);
                  });
}
