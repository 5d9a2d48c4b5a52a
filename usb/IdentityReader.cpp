// usb::IdentityReader: the enumeration IDs, language IDs, string descriptors, USB strings and the
// printer class's GET_DEVICE_ID request.

#include "usb/IdentityReader.h"

#include <algorithm>

#include "support/NameTables.h"
#include "support/SystemLog.h"
#include "usb/InterfaceAccess.h"
#include "usb/UsbTextDecoding.h"

namespace usb {

namespace {

constexpr uint8_t kGetDescriptor = 6;
constexpr uint8_t kStringDescriptorType = 3;
constexpr uint16_t kDescriptorBufferSize = 256;
constexpr uint32_t kDeviceIdBufferSize = 65535;

QByteArrayView receivedBytes(const void* buffer, uint32_t done, uint32_t size) {
  return {static_cast<const char*>(buffer), std::min(done, size)};
}

}  // namespace

void IdentityReader::noteIdentifiers(UsbInterface* interface) {
  if (interface == nullptr) return;
  uint32_t location = 0;
  uint16_t vendor = 0;
  uint16_t product = 0;
  IOReturn result = interface->locationID(&location);
  if (result == kIOReturnSuccess) locationID_ = location;
  else pm::systemLogf("GetLocationID() returned %s [%.8x]\n", pm::stringForIOReturn(result), result);
  result = interface->deviceVendor(&vendor);
  if (result == kIOReturnSuccess) vendorID_ = vendor;
  else pm::systemLogf("GetDeviceVendor() returned %s [%.8x]\n", pm::stringForIOReturn(result), result);
  result = interface->deviceProduct(&product);
  if (result == kIOReturnSuccess) productID_ = product;
  else pm::systemLogf("GetDeviceProduct() returned %s [%.8x]\n", pm::stringForIOReturn(result), result);
}

// ---- Language and string descriptors ---------------------------------------------------------------

std::optional<QSet<uint16_t>> IdentityReader::langIds() {
  Q_ASSERT(access_.isOnCommandQueue());
  {
    const std::lock_guard guard(lock_);
    if (langIds_) return langIds_;
  }
  const std::shared_ptr<UsbInterface> interface = access_.interface();
  // Nothing more is asked of a printer once quitting.
  if (!interface || access_.abandoned()) return std::nullopt;
  uint8_t buffer[kDescriptorBufferSize] = {};
  ControlRequest request;
  request.bmRequestType = 0x80;  // standard, device-to-host, device
  request.bRequest = kGetDescriptor;
  request.wValue = kStringDescriptorType << 8;
  request.wIndex = 0;
  request.wLength = sizeof buffer;
  request.data = buffer;
  request.noDataTimeoutMs = 500;
  request.completionTimeoutMs = 2000;
  if (interface->controlRequest(0, request) != kIOReturnSuccess || request.lengthDone < 4) {
    return std::nullopt;
  }
  const pm::usbtext::LanguageList list =
      pm::usbtext::languageList(receivedBytes(buffer, request.lengthDone, sizeof buffer));
  const std::lock_guard guard(lock_);
  langIds_ = list.ids;
  langId_ = list.choice;
  return langIds_;
}

uint16_t IdentityReader::langId() {
  {
    const std::lock_guard guard(lock_);
    if (langId_ != 0) return langId_;
  }
  langIds();
  const std::lock_guard guard(lock_);
  return langId_;
}

void IdentityReader::setLangId(uint16_t langId) {
  const std::optional<QSet<uint16_t>> offered = langIds();
  if (!offered || !offered->contains(langId)) return;
  const std::lock_guard guard(lock_);
  langId_ = langId;
}

QString IdentityReader::descriptorStringAtIndex(uint8_t index) {
  Q_ASSERT(access_.isOnCommandQueue());
  const std::shared_ptr<UsbInterface> interface = access_.interface();
  if (index == 0 || !interface || access_.abandoned()) return {};
  uint8_t buffer[kDescriptorBufferSize] = {};
  ControlRequest request;
  request.bmRequestType = 0x80;
  request.bRequest = kGetDescriptor;
  request.wValue = static_cast<uint16_t>(kStringDescriptorType << 8 | index);
  request.wIndex = langId();
  request.wLength = sizeof buffer;
  request.data = buffer;
  request.noDataTimeoutMs = 500;
  request.completionTimeoutMs = 1000;
  if (interface->controlRequest(0, request) != kIOReturnSuccess || request.lengthDone < 2) {
    return {};
  }
  const uint8_t type = buffer[1];
  if (type != kStringDescriptorType) {
    pm::systemLogf(
        "The device returned a string descriptor with the incorrect descriptor "
        "type(returned %x (should be %x))\n",
        type, kStringDescriptorType);
    return {};
  }
  return pm::usbtext::stringDescriptorText(receivedBytes(buffer, request.lengthDone, sizeof buffer));
}

// ---- The USB strings ----------------------------------------------------------------------------------

std::optional<QString> IdentityReader::usbString(UsbString which) {
  Q_ASSERT(access_.isOnCommandQueue());
  struct Kind {
    IOReturn (UsbDevice::*index)(uint8_t*);
    const char* indexCall;  // the platform call named in the failure line
  };
  static constexpr Kind kKinds[] = {{&UsbDevice::manufacturerStringIndex, "USBGetManufacturerStringIndex"},
                                    {&UsbDevice::productStringIndex, "USBGetProductStringIndex"},
                                    {&UsbDevice::serialNumberStringIndex, "USBGetSerialNumberStringIndex"}};
  const Kind& kind = kKinds[static_cast<int>(which)];
  const std::shared_ptr<UsbDevice> device = access_.deviceInterface();
  if (!device) return std::nullopt;
  uint8_t index = 0;
  const IOReturn result = (device.get()->*kind.index)(&index);
  if (result != kIOReturnSuccess) {
    pm::systemLogf("%s() returned %s\n", kind.indexCall, pm::stringForIOReturn(result));
    return std::nullopt;
  }
  const QString text = descriptorStringAtIndex(index);
  return which == UsbString::Vendor && !text.isNull() ? pm::usbtext::normalizedVendorString(text) : text;
}

// ---- The IEEE 1284 device ID ---------------------------------------------------------------------------

std::optional<QString> IdentityReader::read1284DeviceID() {
  Q_ASSERT(access_.isOnCommandQueue());
  const std::shared_ptr<UsbInterface> interface = access_.interface();
  if (!interface || access_.abandoned()) return std::nullopt;
  uint8_t configuration = 0;
  uint8_t interfaceNumber = 0;
  uint8_t alternate = 0;
  IOReturn result = interface->configurationValue(&configuration);
  if (result != kIOReturnSuccess) {
    pm::systemLogf("%s returned %s [%x]\n", "GetConfigurationValue()", pm::stringForIOReturn(result), result);
    return std::nullopt;
  }
  result = interface->interfaceNumber(&interfaceNumber);
  if (result != kIOReturnSuccess) {
    pm::systemLogf("ERROR: %s returned %s [%x]\n", "GetInterfaceNumber()", pm::stringForIOReturn(result),
                   result);
    return std::nullopt;
  }
  result = interface->alternateSetting(&alternate);
  if (result != kIOReturnSuccess) {
    pm::systemLogf("ERROR: %s returned %s [%x]\n", "GetAlternateSetting()", pm::stringForIOReturn(result),
                   result);
    return std::nullopt;
  }

  QByteArray reply(kDeviceIdBufferSize, '\0');
  ControlRequest request;
  request.bmRequestType = 0xA1;                               // class, device-to-host, interface
  request.bRequest = 0;                                       // GET_DEVICE_ID
  request.wValue = static_cast<uint16_t>(configuration - 1);  // zero-based configuration index
  request.wIndex = static_cast<uint16_t>(interfaceNumber << 8 | alternate);
  request.wLength = 0xFFFF;
  request.data = reply.data();
  request.noDataTimeoutMs = 100;
  request.completionTimeoutMs = 100;
  if (interface->controlRequest(0, request) != kIOReturnSuccess) return std::nullopt;

  const QByteArrayView bytes = receivedBytes(reply.constData(), request.lengthDone, kDeviceIdBufferSize);
  pm::systemLogf("Found a %u character device ID ... \n", pm::usbtext::deviceIdPrefix(bytes));
  QString text = pm::usbtext::deviceIdText(bytes);
  if (text.isNull()) return std::nullopt;
  return text;
}

}  // namespace usb
