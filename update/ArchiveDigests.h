#pragma once
// The compiled-in reference digests of the firmware archive (update/ArchiveDigests.cpp, written by
// tools/make_archive.py together with the files it describes). [any]

#include <span>

#include "vendor/PrinterModels.h"

namespace pm {

// The 66-character digests of a model's archive files, in the order of the model's archive row;
// empty for a model without an archive.
std::span<const char* const> archiveReferenceDigests(PrinterModel model);

}  // namespace pm
