// Life cycle, USB IDs and model of the vendor printer class.
#include "vendor/TBUSBPrinterOLM.h"

TBUSBPrinterOLM::TBUSBPrinterOLM() = default;
TBUSBPrinterOLM::~TBUSBPrinterOLM() = default;

QSet<uint16_t> TBUSBPrinterOLM::supportedVendorIDs() {
  return {pm::kVendorIdPrimary, pm::kVendorIdSecondary};
}

// Only the PZA model is admitted in this build; the other models' rows still apply to any
// printer object made for them (tests, the demo mode).
QSet<uint16_t> TBUSBPrinterOLM::supportedProductIDs() { return {pm::kProductIdPZA}; }

std::optional<pm::PrinterModel> TBUSBPrinterOLM::printerModel() const {
  return pm::modelForProductId(productID());
}
