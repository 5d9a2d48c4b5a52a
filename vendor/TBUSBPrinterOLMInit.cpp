// The creation step of the vendor class while the update code does not yet provide its own:
// weak, so that a definition in update/ replaces it without touching this file.
#include "vendor/TBUSBPrinterOLM.h"

__attribute__((weak)) bool TBUSBPrinterOLM::initWithInterfaceInterface(
    std::shared_ptr<usb::UsbInterface> interface, const usb::ServiceHandle& service) {
  return TBUSBPrinter::initWithInterfaceInterface(std::move(interface), service);
}
