#pragma once
// What the virtual printer knows about itself per model: its USB identity, its factory firmware,
// the names its firmware images carry and the colour tables it holds. These are the device's own
// numbers, kept apart from the printer code on purpose: the simulator must not share what it
// checks.
//
// Threading: plain constant data and pure functions; any thread.

#include <cstdint>
#include <optional>

#include <QString>
#include <QStringList>

namespace sim {

enum class Model { KTA, KTB, VLA, KTBT, KTC, KTD, PZA };
inline constexpr Model kAllModels[] = {Model::KTA, Model::KTB, Model::VLA, Model::KTBT,
                                       Model::KTC, Model::KTD, Model::PZA};

// Media a colour table is made for; None for the models that keep one set of tables.
enum class Media { None, SD, PD, PP };

struct ModelTraits {
  Model model;
  const char* name;  // "KTA", ..., as in the product string "RM-<name>"
  uint16_t vendorId;
  uint16_t productId;
  const char* factoryFirmware;  // version text after the model name, "01.50"
  const char* factoryTableVersion;
  QStringList imageNames;  // first word of an acceptable firmware image's S0 text
};

const ModelTraits& traitsOf(Model model);
QString modelName(Model model);
// Case-insensitive; std::nullopt for an unknown name.
std::optional<Model> modelFromName(const QString& name);

// The manufacturer's USB strings and IEEE 1284 device ID of a printer.
QString manufacturerString();
QString productString(Model model);
QByteArray deviceId1284(Model model, const QString& serialNumber);

// The decimal number of the last blank-separated word of a firmware version text ("KTC 04.21"
// gives 4.21); 0 when the word is not a number.
double firmwareNumber(const QString& versionText);

// Whether the model (at that firmware) has the switchable USB serial-number string.
bool hasISerialOption(Model model, const QString& firmwareText);
// Whether the combined family (KTA, KTB, VLA, KTBT): one version and one checksum for all tables.
bool isCombinedFamily(Model model);

// A colour table slot of a model: table number and media.
struct TableSlot {
  int number = 0;
  Media media = Media::None;
  bool operator==(const TableSlot&) const = default;
};
// The slots the model holds, in a fixed order.
QList<TableSlot> tableSlotsOf(Model model);

QString mediaName(Media media);                                    // "SD", "PD", "PP", "" for None
std::optional<Media> mediaFromPayload(const QByteArray& payload);  // "0001" SD, "0002" PD, "0003" PP

}  // namespace sim
