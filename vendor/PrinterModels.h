#pragma once
// The maker's printer models and their USB IDs: the one place these numbers live in the vendor
// layer. (The virtual printer of sim/ knows its own IDs as a device does; tests check that the two
// agree.) [any]

#include <cstdint>
#include <optional>

#include <QString>

namespace pm {

enum class PrinterModel { KTA, KTB, VLA, KTBT, KTC, KTD, PZA };

// The maker's two USB vendor IDs.
inline constexpr uint16_t kVendorIdPrimary = 0x1A2B;    // KTA, KTB, VLA, KTBT
inline constexpr uint16_t kVendorIdSecondary = 0x2B3C;  // KTC, KTD, PZA

inline constexpr uint16_t kProductIdKTA = 0x0011;
inline constexpr uint16_t kProductIdKTB = 0x0012;
inline constexpr uint16_t kProductIdVLA = 0x0013;
inline constexpr uint16_t kProductIdKTBT = 0x0014;
inline constexpr uint16_t kProductIdKTC = 0x0015;
inline constexpr uint16_t kProductIdKTD = 0x0016;
inline constexpr uint16_t kProductIdPZA = 0x0017;

inline std::optional<PrinterModel> modelForProductId(uint16_t productId) {
  switch (productId) {
    case kProductIdKTA: return PrinterModel::KTA;
    case kProductIdKTB: return PrinterModel::KTB;
    case kProductIdVLA: return PrinterModel::VLA;
    case kProductIdKTBT: return PrinterModel::KTBT;
    case kProductIdKTC: return PrinterModel::KTC;
    case kProductIdKTD: return PrinterModel::KTD;
    case kProductIdPZA: return PrinterModel::PZA;
  }
  return std::nullopt;
}

inline uint16_t productIdForModel(PrinterModel model) {
  switch (model) {
    case PrinterModel::KTA: return kProductIdKTA;
    case PrinterModel::KTB: return kProductIdKTB;
    case PrinterModel::VLA: return kProductIdVLA;
    case PrinterModel::KTBT: return kProductIdKTBT;
    case PrinterModel::KTC: return kProductIdKTC;
    case PrinterModel::KTD: return kProductIdKTD;
    case PrinterModel::PZA: return kProductIdPZA;
  }
  return 0;
}

inline uint16_t vendorIdForModel(PrinterModel model) {
  switch (model) {
    case PrinterModel::KTC:
    case PrinterModel::KTD:
    case PrinterModel::PZA: return kVendorIdSecondary;
    default: return kVendorIdPrimary;
  }
}

inline QString modelName(PrinterModel model) {
  switch (model) {
    case PrinterModel::KTA: return QStringLiteral("KTA");
    case PrinterModel::KTB: return QStringLiteral("KTB");
    case PrinterModel::VLA: return QStringLiteral("VLA");
    case PrinterModel::KTBT: return QStringLiteral("KTBT");
    case PrinterModel::KTC: return QStringLiteral("KTC");
    case PrinterModel::KTD: return QStringLiteral("KTD");
    case PrinterModel::PZA: return QStringLiteral("PZA");
  }
  return {};
}

// The model's picture: resources/pictures/<name>.png (drawn from the .svg beside it). KTA and KTB
// share one.
inline QString pictureName(PrinterModel model) {
  switch (model) {
    case PrinterModel::KTA:
    case PrinterModel::KTB: return QStringLiteral("OLM_KT_Series");
    case PrinterModel::VLA: return QStringLiteral("OLM_VL_Series");
    case PrinterModel::KTBT: return QStringLiteral("KTBT");
    case PrinterModel::KTC: return QStringLiteral("KTCM_LSide");
    case PrinterModel::KTD: return QStringLiteral("KTD");
    case PrinterModel::PZA: return QStringLiteral("PZA");
  }
  return {};
}

}  // namespace pm
