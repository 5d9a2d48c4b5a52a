#include "usb/libusb/LibusbHandles.h"

#include <algorithm>
#include <utility>

namespace usb::libusb {

// ---- LibusbContext ----------------------------------------------------------------------------

std::shared_ptr<LibusbContext> LibusbContext::create(int* error) {
  libusb_context* context = nullptr;
  const int result = libusb_init(&context);
  if (error != nullptr) *error = result;
  if (result != LIBUSB_SUCCESS) return nullptr;
  return std::shared_ptr<LibusbContext>(new LibusbContext(context));
}

LibusbContext::~LibusbContext() {
  libusb_exit(context_);
  // keptAlive_ is released after this body, once no libusb callback can run any more.
}

void LibusbContext::keepAlive(std::shared_ptr<void> object) {
  const std::lock_guard lock(mutex_);
  keptAlive_.push_back(std::move(object));
}

// ---- DeviceRef --------------------------------------------------------------------------------

DeviceRef::DeviceRef(std::shared_ptr<LibusbContext> context, libusb_device* device)
    : context_(std::move(context)), device_(device) {
  if (device_ != nullptr) libusb_ref_device(device_);
}

DeviceRef::DeviceRef(const DeviceRef& other) : context_(other.context_), device_(other.device_) {
  if (device_ != nullptr) libusb_ref_device(device_);
}

DeviceRef::DeviceRef(DeviceRef&& other) noexcept
    : context_(std::move(other.context_)), device_(std::exchange(other.device_, nullptr)) {}

DeviceRef& DeviceRef::operator=(DeviceRef other) noexcept {
  std::swap(context_, other.context_);
  std::swap(device_, other.device_);
  return *this;
}

DeviceRef::~DeviceRef() {
  if (device_ != nullptr) libusb_unref_device(device_);
  // context_ goes after the device it belongs to.
}

// ---- DeviceHandle -----------------------------------------------------------------------------

DeviceHandle DeviceHandle::open(const DeviceRef& device, int* error) {
  DeviceHandle handle;
  libusb_device_handle* raw = nullptr;
  const int result = device ? libusb_open(device.get(), &raw) : LIBUSB_ERROR_NO_DEVICE;
  if (error != nullptr) *error = result;
  if (result == LIBUSB_SUCCESS) {
    handle.device_ = device;
    handle.handle_ = raw;
  }
  return handle;
}

DeviceHandle::DeviceHandle(DeviceHandle&& other) noexcept
    : device_(std::move(other.device_)), handle_(std::exchange(other.handle_, nullptr)) {}

DeviceHandle& DeviceHandle::operator=(DeviceHandle&& other) noexcept {
  if (this != &other) {
    close();
    device_ = std::move(other.device_);
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

DeviceHandle::~DeviceHandle() { close(); }

void DeviceHandle::close() {
  if (handle_ != nullptr) libusb_close(std::exchange(handle_, nullptr));
}

// ---- DeviceList -------------------------------------------------------------------------------

DeviceList::DeviceList(const LibusbContext& context) {
  count_ = libusb_get_device_list(context.get(), &list_);
  if (count_ < 0) {
    error_ = static_cast<int>(count_);
    count_ = 0;
    list_ = nullptr;
  }
}

DeviceList::~DeviceList() {
  if (list_ != nullptr) libusb_free_device_list(list_, 1);
}

std::span<libusb_device* const> DeviceList::devices() const { return {list_, static_cast<size_t>(count_)}; }

bool DeviceList::contains(const libusb_device* device) const {
  const auto all = devices();
  return std::find(all.begin(), all.end(), device) != all.end();
}

}  // namespace usb::libusb
