// The interest handler: the device messages of a printer's service turned into its connection
// state and its status text. Main thread.

#include <QCoreApplication>

#include "support/MainQueue.h"
#include "support/NameTables.h"
#include "support/SystemLog.h"
#include "usb/TBUSBPrinter.h"

namespace {

QString localized(const char* text) { return QCoreApplication::translate("TBPrinters", text); }

// Another client wants the device.
void serviceIsAttemptingOpen(TBUSBPrinter* printer) {
  if (printer->isInterfaceOpen()) {
    if (!printer->inFirmwareUpdate())
      printer->setStatus(localized(QT_TRANSLATE_NOOP("TBPrinters", "USB Open")));
  } else if (printer->state() != TBUSBPrinterStateProbed) {
    if (!printer->inFirmwareUpdate())
      printer->setStatus(localized(QT_TRANSLATE_NOOP("TBPrinters", "USB Busy")));
  } else {
    // The first open after the service object was set is still waiting for its close.
    printer->setState(TBUSBPrinterStateClosed);
  }
}

}  // namespace

void usbDeviceInterest(TBUSBPrinter* printer, const usb::ServiceHandle& service, uint32_t messageType,
                       void* messageArgument) {
  Q_ASSERT(pm::isMainQueue());
  if (printer == nullptr) return;
  const QByteArray description = printer->descriptionUTF8();
  pm::systemLogf("%s %s(%x); arg = %p\n", description.constData(), pm::stringForIOMessage(messageType),
                 messageType, messageArgument);
  switch (messageType) {
    case kIOMessageServiceIsTerminated:
      pm::systemLogf("%s (device %.8x) was removed\n", description.constData(), service.id());
      // An open still retrying on the printer's queue gives up.
      printer->interfaceAccess().noteServiceTerminated();
      // What was learned survives until the printer comes back.
      TBUSBPrinter::setDeviceInfo(printer->deviceInfoDict(), printer->keyUSBdevice());
      break;
    case kIOMessageServiceIsAttemptingOpen:
      serviceIsAttemptingOpen(printer);
      break;
    case kIOMessageServiceWasClosed:
      if (!printer->deviceInfoDict()->isEmpty() && !printer->inFirmwareUpdate()) {
        printer->setStatus(localized(QT_TRANSLATE_NOOP("TBPrinters", "USB Available")));
      }
      break;
    case kIOMessageServiceBusyStateChange:
      break;
    default:
      printer->setStatus(QStringLiteral("OK"));
      break;
  }
}
