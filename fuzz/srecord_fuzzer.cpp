// The S-record check of a firmware file against the check the printer itself makes before it
// flashes an image: an image the printer accepts must pass ours. Input: the first byte chooses
// the printer model, the rest is the file's text.

#include <cstdint>

#include "fuzz/FuzzCheck.h"
#include "olm/update/FirmwareArchive.h"
#include "sim/FirmwareImageCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto model = static_cast<sim::Model>(data[0] % 7);
  // A bare copy, so that a read past the end of the file is caught.
  const QByteArray file(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
  const bool passes = pm::FirmwareArchive::verifySRecData(file);

  // The image the update sends: the file padded to a multiple of 4, its length announced.
  QByteArray image = file;
  image.append((4 - image.size() % 4) % 4, '\0');
  const QByteArray lengthField = QByteArray::number(image.size()).rightJustified(8, '0');
  const sim::FirmwareImageVerdict verdict = sim::checkFirmwareImage(image, lengthField, model);
  if (verdict.accepted) {
    FUZZ_CHECK(passes);
    FUZZ_CHECK(pm::FirmwareArchive::verifySRecData(image));
  }
  return 0;
}
