#include "usb/virtual/StandardRequests.h"

#include <algorithm>
#include <utility>

namespace usb::virt::detail {

namespace {

constexpr uint8_t kStandardDeviceIn = 0x80;
constexpr uint8_t kClassInterfaceIn = 0xA1;
constexpr uint8_t kClassInterfaceOut = 0x21;
constexpr uint8_t kClassOtherOut = 0x23;
constexpr uint8_t kGetDescriptor = 6;
constexpr uint8_t kStringDescriptorType = 3;
constexpr uint8_t kGetDeviceId = 0;
constexpr uint8_t kSoftReset = 2;
constexpr int kMaxDescriptorLength = 255;

QByteArray languageList(const std::vector<uint16_t>& languageIds) {
  const int count = std::min<int>(static_cast<int>(languageIds.size()), (kMaxDescriptorLength - 2) / 2);
  QByteArray bytes;
  bytes.append(static_cast<char>(2 + 2 * count));
  bytes.append(static_cast<char>(kStringDescriptorType));
  for (int i = 0; i < count; ++i) {
    bytes.append(static_cast<char>(languageIds[i] & 0xFF));
    bytes.append(static_cast<char>(languageIds[i] >> 8));
  }
  return bytes;
}

TransferResult stringAnswer(const VirtualDeviceDescription& description, uint8_t index) {
  if (index == 0) {
    if (description.languageIds.empty()) return TransferResult::stall();
    return TransferResult::ok(languageList(description.languageIds));
  }
  const QString* text = nullptr;
  switch (index) {
    case kManufacturerStringIndex:
      text = &description.manufacturer;
      break;
    case kProductStringIndex:
      text = &description.product;
      break;
    case kSerialNumberStringIndex:
      text = &description.serialNumber;
      break;
    default:
      return TransferResult::stall();
  }
  if (text->isEmpty()) return TransferResult::stall();
  return TransferResult::ok(stringDescriptor(*text));
}

}  // namespace

StandardAnswer answerFromDescription(const VirtualDeviceDescription& description, const SetupPacket& setup) {
  if (setup.bmRequestType == kStandardDeviceIn && setup.bRequest == kGetDescriptor &&
      (setup.wValue >> 8) == kStringDescriptorType) {
    TransferResult answer = stringAnswer(description, setup.wValue & 0xFF);
    answer.latencyMs = description.stringLatencyMs;
    return {std::move(answer), false};
  }
  if (setup.bmRequestType == kClassInterfaceIn && setup.bRequest == kGetDeviceId) {
    return {TransferResult::ok(deviceIdReply(description.deviceId1284)), false};
  }
  if ((setup.bmRequestType == kClassInterfaceOut || setup.bmRequestType == kClassOtherOut) &&
      setup.bRequest == kSoftReset) {
    return {TransferResult::ok(), true};
  }
  return {TransferResult::stall(), false};
}

QByteArray stringDescriptor(const QString& text) {
  const QString fitted = text.left((kMaxDescriptorLength - 2) / 2);
  QByteArray bytes;
  bytes.append(static_cast<char>(2 + 2 * fitted.size()));
  bytes.append(static_cast<char>(kStringDescriptorType));
  for (const QChar c : fitted) {
    bytes.append(static_cast<char>(c.unicode() & 0xFF));
    bytes.append(static_cast<char>(c.unicode() >> 8));
  }
  return bytes;
}

QByteArray deviceIdReply(const QByteArray& deviceId) {
  const QByteArray text = deviceId.left(0xFFFF - 2);
  const int length = static_cast<int>(text.size()) + 2;
  QByteArray bytes;
  bytes.append(static_cast<char>(length >> 8));
  bytes.append(static_cast<char>(length & 0xFF));
  bytes.append(text);
  return bytes;
}

}  // namespace usb::virt::detail
