#include "sim/SimModels.h"

#include <array>

namespace sim {

namespace {

constexpr uint16_t kFamilyVendorId = 0x1A2B;
constexpr uint16_t kNewerVendorId = 0x2B3C;

const std::array<ModelTraits, 7>& allTraits() {
  static const std::array<ModelTraits, 7> table{{
      {Model::KTA, "KTA", kFamilyVendorId, 0x0011, "01.50", "0150", {"KTA"}},
      {Model::KTB, "KTB", kFamilyVendorId, 0x0012, "01.20", "0120", {"KTB"}},
      {Model::VLA, "VLA", kFamilyVendorId, 0x0013, "02.10", "0200", {"KT-VLA", "VLA"}},
      // The duplex KTB runs firmware named KTBW.
      {Model::KTBT, "KTBT", kFamilyVendorId, 0x0014, "1.30PRN", "0120", {"KTBW", "KTBT"}},
      {Model::KTC, "KTC", kNewerVendorId, 0x0015, "04.21", "0110", {"KTC"}},
      {Model::KTD, "KTD", kNewerVendorId, 0x0016, "01.10", "0100", {"KTD"}},
      {Model::PZA, "PZA", kNewerVendorId, 0x0017, "01.00", "0090", {"PZA"}},
  }};
  return table;
}

}  // namespace

const ModelTraits& traitsOf(Model model) { return allTraits()[static_cast<size_t>(model)]; }

QString modelName(Model model) { return QString::fromLatin1(traitsOf(model).name); }

std::optional<Model> modelFromName(const QString& name) {
  for (const ModelTraits& traits : allTraits()) {
    if (name.trimmed().compare(QLatin1String(traits.name), Qt::CaseInsensitive) == 0) return traits.model;
  }
  return std::nullopt;
}

QString manufacturerString() { return QStringLiteral("Varnholt Printing"); }

QString productString(Model model) { return QStringLiteral("RM-") + modelName(model); }

QByteArray deviceId1284(Model model, const QString& serialNumber) {
  const QString product = productString(model);
  return QStringLiteral("MFG:%1;MDL:%2;SERN:%3;DES:%1 %2;")
      .arg(manufacturerString(), product, serialNumber)
      .toLatin1();
}

double firmwareNumber(const QString& versionText) {
  const QStringList words = versionText.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  if (words.isEmpty()) return 0.0;
  bool ok = false;
  const double value = words.last().toDouble(&ok);
  return ok ? value : 0.0;
}

bool hasISerialOption(Model model, const QString& firmwareText) {
  switch (model) {
    case Model::KTC:
    case Model::KTD:
    case Model::PZA:
      return true;
    case Model::VLA:
      // The option came with VLA firmware 2.04; compare in hundredths to avoid float edges.
      return qRound(firmwareNumber(firmwareText) * 100) >= 204;
    default:
      return false;
  }
}

bool isCombinedFamily(Model model) {
  return model == Model::KTA || model == Model::KTB || model == Model::VLA || model == Model::KTBT;
}

QList<TableSlot> tableSlotsOf(Model model) {
  auto cross = [](std::initializer_list<int> numbers, std::initializer_list<Media> media) {
    QList<TableSlot> result;
    for (Media m : media)
      for (int n : numbers) result.append(TableSlot{n, m});
    return result;
  };
  switch (model) {
    case Model::KTC:
      return cross({300, 600, 610}, {Media::SD, Media::PD});
    case Model::KTD:
      return cross({300, 600, 610, 620}, {Media::SD, Media::PP});
    case Model::PZA:
      return cross({300, 310}, {Media::SD, Media::PD});
    default:
      return cross({300, 600}, {Media::None});
  }
}

QString mediaName(Media media) {
  switch (media) {
    case Media::SD:
      return QStringLiteral("SD");
    case Media::PD:
      return QStringLiteral("PD");
    case Media::PP:
      return QStringLiteral("PP");
    case Media::None:
      break;
  }
  return {};
}

std::optional<Media> mediaFromPayload(const QByteArray& payload) {
  if (payload == "0001") return Media::SD;
  if (payload == "0002") return Media::PD;
  if (payload == "0003") return Media::PP;
  return std::nullopt;
}

}  // namespace sim
