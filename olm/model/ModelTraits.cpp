#include "olm/model/ModelTraits.h"

#include <mutex>

#include "olm/model/ModelArchives.h"

namespace pm {

namespace {

using K = TableKey;
using M = TableMedia;

// KTA, KTB, VLA and KTBT keep one set of tables with one version and one checksum.
constexpr ColorTableSlot kWholeSet[] = {{0, M::None, K::Set, ""}};

// From 4.21 on a KTC addresses its tables per media; before, without media, which means PD.
constexpr ColorTableSlot kKTCTables[] = {
    {610, M::SD, K::V610SD, "colorTableVersion610SD"}, {600, M::SD, K::V600SD, "colorTableVersion600SD"},
    {300, M::SD, K::V300SD, "colorTableVersion300SD"}, {610, M::PD, K::V610PD, "colorTableVersion610PD"},
    {600, M::PD, K::V600PD, "colorTableVersion600PD"}, {300, M::PD, K::V300PD, "colorTableVersion300PD"},
};
constexpr ColorTableSlot kKTCTablesBefore[] = {
    {610, M::None, K::V610PD, "colorTableVersion610PD"},
    {600, M::None, K::V600PD, "colorTableVersion600PD"},
    {300, M::None, K::V300PD, "colorTableVersion300PD"},
};

// A KTD's SD table 300 is the bare key, its PP tables the HD ones.
constexpr ColorTableSlot kKTDTables[] = {
    {620, M::SD, K::V620, "620"},     {610, M::SD, K::V610, "610"},     {600, M::SD, K::V600, "600"},
    {300, M::SD, K::Set, "300"},      {620, M::PP, K::V620HD, "620HD"}, {610, M::PP, K::V610HD, "610HD"},
    {600, M::PP, K::V600HD, "600HD"}, {300, M::PP, K::V300HD, "300HD"},
};

constexpr ColorTableSlot kPZATables[] = {
    {300, M::SD, K::V300SD, "300 SD"},
    {310, M::SD, K::V310SD, "310 SD"},
    {300, M::PD, K::V300PD, "300 PD"},
    {310, M::PD, K::V310PD, "310 PD"},
};

// The maker's two vendor IDs: one for the older family, one for the newer models. The numbers are
// placeholders; a deployer sets a real printer's IDs in the configuration (README).
constexpr uint16_t kFamilyVendor = 0x1A2B;
constexpr uint16_t kNewerVendor = 0x2B3C;

// Only the PZA is admitted in this build; the other rows still apply to any printer object made
// for them (tests, a deployer's configuration).
constexpr ModelTraits kTraits[kModelCount] = {
    {.model = PrinterModel::KTA,
     .name = "KTA",
     .vendorId = kFamilyVendor,
     .productId = 0x0011,
     .admitted = false,
     .picture = "OLM_KT_Series",
     .archive = archives::kKTA,
     .tables = kWholeSet},
    {.model = PrinterModel::KTB,
     .name = "KTB",
     .vendorId = kFamilyVendor,
     .productId = 0x0012,
     .admitted = false,
     .picture = "OLM_KT_Series",
     .archive = archives::kKTB,
     .tables = kWholeSet},
    // Below 2.0 the update needs a 2.0x or 2.1x first; below 2.04 it changes the media packs.
    {.model = PrinterModel::VLA,
     .name = "VLA",
     .vendorId = kFamilyVendor,
     .productId = 0x0013,
     .admitted = false,
     .picture = "OLM_VL_Series",
     .archive = archives::kVLA,
     .tables = kWholeSet,
     .iSerialFrom = 2.04,
     .updateNeedsAtLeast = 2.0,
     .mediaChangeBelow = 2.04},
    // The duplex KTB: firmware named KTBW, the KTB colour tables.
    {.model = PrinterModel::KTBT,
     .name = "KTBT",
     .vendorId = kFamilyVendor,
     .productId = 0x0014,
     .admitted = false,
     .picture = "KTBT",
     .archive = archives::kKTBT,
     .tables = kWholeSet},
    {.model = PrinterModel::KTC,
     .name = "KTC",
     .vendorId = kNewerVendor,
     .productId = 0x0015,
     .admitted = false,
     .picture = "KTCM_LSide",
     .archive = archives::kKTC,
     .tables = kKTCTables,
     .perMediaTablesFrom = 4.21,
     .tablesBefore = kKTCTablesBefore,
     .iSerialFrom = 0.0},
    {.model = PrinterModel::KTD,
     .name = "KTD",
     .vendorId = kNewerVendor,
     .productId = 0x0016,
     .admitted = false,
     .picture = "KTD",
     .archive = archives::kKTD,
     .tables = kKTDTables,
     .iSerialFrom = 0.0},
    {.model = PrinterModel::PZA,
     .name = "PZA",
     .vendorId = kNewerVendor,
     .productId = 0x0017,
     .admitted = true,
     .picture = "PZA",
     .archive = archives::kPZA,
     .tables = kPZATables,
     .iSerialFrom = 0.0},
};

// The IDs in force: written once at start-up (and by tests), read by every printer's queue.
std::mutex gIdsLock;
ModelIdTable gIds = builtInIds();

}  // namespace

std::span<const ModelTraits> allModelTraits() { return kTraits; }

const ModelTraits& modelTraits(PrinterModel model) { return kTraits[static_cast<std::size_t>(model)]; }

QString modelName(PrinterModel model) { return QString::fromLatin1(modelTraits(model).name); }

std::optional<PrinterModel> printerModelNamed(const QString& name) {
  for (const ModelTraits& traits : kTraits)
    if (name.compare(QLatin1String(traits.name), Qt::CaseInsensitive) == 0) return traits.model;
  return std::nullopt;
}

ModelIdTable builtInIds() {
  ModelIdTable ids;
  for (const ModelTraits& traits : kTraits)
    ids[static_cast<std::size_t>(traits.model)] = {traits.vendorId, traits.productId, traits.admitted};
  return ids;
}

ModelIdTable effectiveIds() {
  const std::lock_guard guard(gIdsLock);
  return gIds;
}

ModelIds effectiveIds(PrinterModel model) { return effectiveIds()[static_cast<std::size_t>(model)]; }

void installEffectiveIds(const ModelIdTable& ids) {
  const std::lock_guard guard(gIdsLock);
  gIds = ids;
}

std::optional<PrinterModel> modelForProductId(uint16_t productId) {
  const ModelIdTable ids = effectiveIds();
  for (std::size_t i = 0; i < ids.size(); ++i)
    if (ids[i].productId == productId) return static_cast<PrinterModel>(i);
  return std::nullopt;
}

QSet<uint16_t> knownVendorIds() {
  QSet<uint16_t> vendors;
  for (const ModelIds& ids : effectiveIds()) vendors.insert(ids.vendorId);
  return vendors;
}

QSet<uint16_t> admittedProductIds() {
  QSet<uint16_t> products;
  for (const ModelIds& ids : effectiveIds())
    if (ids.admitted) products.insert(ids.productId);
  return products;
}

std::span<const ColorTableSlot> colorTablesAt(const ModelTraits& traits, double installedFirmware) {
  const bool before = traits.perMediaTablesFrom > 0 && installedFirmware < traits.perMediaTablesFrom;
  return before ? traits.tablesBefore : traits.tables;
}

bool hasISerialAt(const ModelTraits& traits, double installedFirmware) {
  return traits.iSerialFrom && (*traits.iSerialFrom == 0 || installedFirmware >= *traits.iSerialFrom);
}

}  // namespace pm
