// Life cycle, USB IDs and model of the vendor printer class.
#include "olm/printer/TBUSBPrinterOLM.h"

TBUSBPrinterOLM::TBUSBPrinterOLM() = default;
TBUSBPrinterOLM::~TBUSBPrinterOLM() = default;

QSet<uint16_t> TBUSBPrinterOLM::supportedVendorIDs() { return pm::knownVendorIds(); }

QSet<uint16_t> TBUSBPrinterOLM::supportedProductIDs() { return pm::admittedProductIds(); }

std::optional<pm::PrinterModel> TBUSBPrinterOLM::printerModel() const {
  return pm::modelForProductId(productID());
}
