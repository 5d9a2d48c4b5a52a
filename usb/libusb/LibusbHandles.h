#pragma once
// RAII owners of libusb's native objects: the context, device references, open device handles
// and the device list.
//
// Threading: any thread; libusb is thread-safe for these calls. Every device reference and handle
// keeps its context alive, so objects that outlive the registry (a printer still holding its
// interface while the application shuts down) never reach a context that libusb_exit has freed.

#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include <libusb.h>

namespace usb::libusb {

class LibusbContext {
 public:
  // Starts libusb. Null, with *error set to the libusb error, when it cannot start.
  static std::shared_ptr<LibusbContext> create(int* error);
  ~LibusbContext();  // libusb_exit, then releases what keepAlive holds
  LibusbContext(const LibusbContext&) = delete;
  LibusbContext& operator=(const LibusbContext&) = delete;

  libusb_context* get() const { return context_; }

  // Holds `object` until after libusb_exit. For the user data of libusb callbacks: libusb may
  // call them on any thread that handles events, even just after they were deregistered.
  void keepAlive(std::shared_ptr<void> object);

 private:
  explicit LibusbContext(libusb_context* context) : context_(context) {}

  libusb_context* const context_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<void>> keptAlive_;
};

// One counted reference to a libusb_device (libusb_ref_device / libusb_unref_device).
class DeviceRef {
 public:
  DeviceRef() = default;
  DeviceRef(std::shared_ptr<LibusbContext> context, libusb_device* device);  // takes a reference
  DeviceRef(const DeviceRef& other);
  DeviceRef(DeviceRef&& other) noexcept;
  DeviceRef& operator=(DeviceRef other) noexcept;
  ~DeviceRef();

  libusb_device* get() const { return device_; }
  const std::shared_ptr<LibusbContext>& context() const { return context_; }
  explicit operator bool() const { return device_ != nullptr; }

 private:
  std::shared_ptr<LibusbContext> context_;
  libusb_device* device_ = nullptr;
};

// An open libusb_device_handle (libusb_open / libusb_close). Move-only.
class DeviceHandle {
 public:
  // Opens the device; an empty handle with *error set to the libusb error on failure.
  static DeviceHandle open(const DeviceRef& device, int* error);

  DeviceHandle() = default;
  DeviceHandle(DeviceHandle&& other) noexcept;
  DeviceHandle& operator=(DeviceHandle&& other) noexcept;
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;
  ~DeviceHandle();

  libusb_device_handle* get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  void close();

  DeviceRef device_;  // kept so that the device and its context outlive the handle
  libusb_device_handle* handle_ = nullptr;
};

// The devices libusb knows of now (libusb_get_device_list / libusb_free_device_list).
class DeviceList {
 public:
  explicit DeviceList(const LibusbContext& context);
  ~DeviceList();
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;

  int error() const { return error_; }  // 0, or the libusb error of the listing
  std::span<libusb_device* const> devices() const;
  bool contains(const libusb_device* device) const;

 private:
  libusb_device** list_ = nullptr;
  ssize_t count_ = 0;
  int error_ = 0;
};

}  // namespace usb::libusb
