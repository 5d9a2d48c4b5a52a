#pragma once
// The one table of the maker's printer models: per model its USB IDs, whether this build admits
// it, its picture, its firmware archive (file names and reference digests), its colour tables (the
// read exchanges and the keys their values land under) and its rules (the USB serial-number
// option, the VLA's update thresholds). Every layer reads its model facts here; nothing else
// switches on the model. (The virtual printer of sim/ knows its own IDs as a device does; tests
// check that the two agree.)
//
// The built-in rows are constants. A deployer may override the IDs and the admitted models
// (olm/model/ModelConfig.h); the result is installed once at start-up and read from any thread.
//
// Threads: [any]. installEffectiveIds runs once at start-up, before the first printer is made (the
// window's program calls it before its QApplication exists); tests call it between cases.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include <QSet>
#include <QString>

namespace pm {

enum class PrinterModel { KTA, KTB, VLA, KTBT, KTC, KTD, PZA };
inline constexpr std::size_t kModelCount = 7;

// The media a colour table is made for; None for the models that keep one set of tables.
enum class TableMedia { None, SD, PD, PP };

// The device-information keys of one colour table's version and checksum, and how the window
// names the table. The bare version key is the whole set's (or, on a KTD, SD table 300's); its
// checksum lives under the 300 key.
struct ColorTableKey {
  const char* version;
  const char* checksum;
  const char* display;  // "300 SD"
};
// Every colour-table key, in the order the window lists the tables.
enum class TableKey {
  Set,
  V600,
  V610,
  V620,
  V300SD,
  V300PD,
  V310SD,
  V310PD,
  V600SD,
  V600PD,
  V610SD,
  V610PD,
  V300HD,
  V600HD,
  V610HD,
  V620HD
};
inline constexpr ColorTableKey kColorTableKeys[] = {
    {"colorTableVersion", "colorTableChecksum300", "300"},
    {"colorTableVersion600", "colorTableChecksum600", "600"},
    {"colorTableVersion610", "colorTableChecksum610", "610"},
    {"colorTableVersion620", "colorTableChecksum620", "620"},
    {"colorTableVersion300SD", "colorTableChecksum300SD", "300 SD"},
    {"colorTableVersion300PD", "colorTableChecksum300PD", "300 PD"},
    {"colorTableVersion310SD", "colorTableChecksum310SD", "310 SD"},
    {"colorTableVersion310PD", "colorTableChecksum310PD", "310 PD"},
    {"colorTableVersion600SD", "colorTableChecksum600SD", "600 SD"},
    {"colorTableVersion600PD", "colorTableChecksum600PD", "600 PD"},
    {"colorTableVersion610SD", "colorTableChecksum610SD", "610 SD"},
    {"colorTableVersion610PD", "colorTableChecksum610PD", "610 PD"},
    {"colorTableVersion300HD", "colorTableChecksum300HD", "300 HD"},
    {"colorTableVersion600HD", "colorTableChecksum600HD", "600 HD"},
    {"colorTableVersion610HD", "colorTableChecksum610HD", "610 HD"},
    {"colorTableVersion620HD", "colorTableChecksum620HD", "620 HD"},
};
constexpr const ColorTableKey& colorTableKey(TableKey key) { return kColorTableKeys[static_cast<int>(key)]; }

// One colour table a model reports: one version read and one checksum read.
struct ColorTableSlot {
  int number;        // 300, 310, 600, 610 or 620; 0: the whole set (KTA, KTB, VLA, KTBT)
  TableMedia media;  // the read's payload; None sends none
  TableKey key;
  const char* label;  // the version read's log line: "printer color table version <label>: "
};

// One file of a model's archive, and the HMAC-SHA256 it must have (olm/update/FirmwareArchive.h).
struct ArchiveFile {
  const char* name;
  const char* digest;
};

struct ModelTraits {
  PrinterModel model;
  const char* name;   // "KTA", as the user reads it
  uint16_t vendorId;  // built in; the deployer's configuration may change both IDs
  uint16_t productId;
  bool admitted;                         // listed when plugged in (built in; the configuration may change it)
  const char* picture;                   // resources/pictures/<picture>.png
  std::span<const ArchiveFile> archive;  // the firmware file first, then the colour tables
  std::span<const ColorTableSlot> tables;
  // A model whose firmware before `perMediaTablesFrom` addresses its tables without media and
  // reads `tablesBefore` instead (KTC); 0 when the tables never depend on the firmware.
  double perMediaTablesFrom = 0;
  std::span<const ColorTableSlot> tablesBefore = {};
  // The switchable USB serial-number string: the first firmware that has it (0: every one);
  // nullopt: the model never has it.
  std::optional<double> iSerialFrom = std::nullopt;
  // Below this firmware the update is refused: an intermediate version must be installed first.
  double updateNeedsAtLeast = 0;
  // Below this firmware the update changes the media the printer takes, and its warning says so.
  double mediaChangeBelow = 0;
};

// The built-in rows, one per model in enumerator order.
std::span<const ModelTraits> allModelTraits();
const ModelTraits& modelTraits(PrinterModel model);
QString modelName(PrinterModel model);
// Case-insensitive; nullopt for a name outside the table.
std::optional<PrinterModel> printerModelNamed(const QString& name);

// The IDs and the admission in force for one model.
struct ModelIds {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  bool admitted = false;
  bool operator==(const ModelIds&) const = default;
};
using ModelIdTable = std::array<ModelIds, kModelCount>;
ModelIdTable builtInIds();
ModelIdTable effectiveIds();
ModelIds effectiveIds(PrinterModel model);
// Replaces the IDs in force (a configuration read at start-up; tests restore builtInIds()).
void installEffectiveIds(const ModelIdTable& ids);

// The model a product ID tells, by the IDs in force; nullopt for a product outside the table.
std::optional<PrinterModel> modelForProductId(uint16_t productId);
// Discovery's two sets: the vendor IDs of every model and the product IDs of the admitted ones.
// They are tested independently, so any listed product counts under any listed vendor.
QSet<uint16_t> knownVendorIds();
QSet<uint16_t> admittedProductIds();

// The model's colour tables at that installed firmware.
std::span<const ColorTableSlot> colorTablesAt(const ModelTraits& traits, double installedFirmware);
// Whether the model at that firmware has the USB serial-number option.
bool hasISerialAt(const ModelTraits& traits, double installedFirmware);

}  // namespace pm
