// UsbfsResponder: set-up, the dispatch of usbdevfs requests, claims and disconnect.

#include "tests/usbmock/UsbfsResponderPrivate.h"

#include <cerrno>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <QtGlobal>

#include "support/MainQueue.h"

namespace usbmock {

namespace {

// What a current kernel offers: bulk transfers of any size in one URB, reaping after disconnect.
constexpr uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                   USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                   USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

constexpr uint8_t kRecipientMask = 0x1F;
constexpr uint8_t kRecipientInterface = 0x01;
constexpr uint8_t kTypeMask = 0x60;
constexpr uint8_t kTypeVendor = 0x40;
constexpr uint8_t kPrinterGetDeviceIdType = 0xA1;
constexpr uint8_t kPrinterGetDeviceId = 0;

// The argument of a request that points to one value of type T; null when it cannot be read.
template <typename T>
GRef<UMockdevIoctlData> resolveValue(UMockdevIoctlData* arg) {
  return GRef<UMockdevIoctlData>::adopt(umockdev_ioctl_data_resolve(arg, 0, sizeof(T), nullptr));
}

}  // namespace

UsbfsResponder::UsbfsResponder(std::shared_ptr<EmulatedDevice> device)
    : device_(std::move(device)), handler_(umockdev_ioctl_base_new()) {
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&UsbfsResponder::onIoctl), this);
}

UsbfsResponder::~UsbfsResponder() {
  g_signal_handlers_disconnect_by_data(handler_, this);
  g_object_unref(handler_);
}

void UsbfsResponder::disconnect() {
  const std::lock_guard lock(mutex_);
  if (!gone_) endConnection();
}

UsbfsResponder::Counters UsbfsResponder::counters() const {
  const std::lock_guard lock(mutex_);
  return counters_;
}

int UsbfsResponder::onIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client, void* self) {
  auto* responder = static_cast<UsbfsResponder*>(self);
  Q_ASSERT(!pm::isMainQueue());
  const std::lock_guard lock(responder->mutex_);
  responder->handle(client);
  return TRUE;
}

// ---- Dispatch ---------------------------------------------------------------------------------

void UsbfsResponder::handle(UMockdevIoctlClient* client) {
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  forgetClosedDescriptors();
  clientOf(client);
  noticeDeparture();
  const auto finish = [client](int error) {
    umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
  };

  // Reaping is allowed after a disconnect; everything else then answers ENODEV.
  if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB) {
    if (!reap(client, arg)) finish(gone_ ? ENODEV : EAGAIN);  // nothing has completed
    return;
  }
  if (gone_) return finish(ENODEV);

  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      const auto caps = resolveValue<uint32_t>(arg);
      if (!caps) return finish(EFAULT);
      *reinterpret_cast<uint32_t*>(caps.get()->data) = kCapabilities;
      return finish(0);
    }
    case USBDEVFS_SUBMITURB:
      return finish(submit(client, arg));
    case USBDEVFS_DISCARDURB:
      return finish(discard(client, arg));
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
      const auto number = resolveValue<uint32_t>(arg);
      if (!number) return finish(EFAULT);
      const uint32_t interface = *reinterpret_cast<uint32_t*>(number.get()->data);
      return finish(request == USBDEVFS_CLAIMINTERFACE ? claim(client, interface)
                                                       : release(client, interface));
    }
    case USBDEVFS_DISCONNECT_CLAIM: {
      // No kernel driver is bound to the emulated interfaces: a claim like any other.
      const auto claimRequest = resolveValue<usbdevfs_disconnect_claim>(arg);
      if (!claimRequest) return finish(EFAULT);
      const auto* fields = reinterpret_cast<const usbdevfs_disconnect_claim*>(claimRequest.get()->data);
      return finish(claim(client, fields->interface));
    }
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
      return finish(ENODATA);  // no kernel driver to name, detach or attach
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
      return finish(0);
    case USBDEVFS_RESET:
      resetPort();
      return finish(0);
    default:
      return finish(ENOTTY);
  }
}

// A descriptor that was closed gave up its claims, and nothing of it is left to reap.
void UsbfsResponder::forgetClosedDescriptors() {
  for (auto it = claims_.begin(); it != claims_.end();) {
    if (umockdev_ioctl_client_get_connected(it->second)) {
      ++it;
      continue;
    }
    device_->releaseInterface(static_cast<uint8_t>(it->first));
    it = claims_.erase(it);
  }
  std::erase_if(clients_, [](const auto& entry) {
    return !umockdev_ioctl_client_get_connected(entry.first);
  });
}

UsbfsResponder::Client& UsbfsResponder::clientOf(UMockdevIoctlClient* client) {
  std::unique_ptr<Client>& entry = clients_[client];
  if (!entry) {
    entry = std::make_unique<Client>();
    entry->client = GRef<UMockdevIoctlClient>::retain(client);
  }
  return *entry;
}

void UsbfsResponder::noticeDeparture() {
  if (!gone_ && !device_->isPresent()) endConnection();
}

// What was in flight ends as the kernel ends it on a disconnect.
void UsbfsResponder::endConnection() {
  gone_ = true;
  const Clock::time_point now = Clock::now();
  for (auto& [key, client] : clients_) {
    for (Urb& urb : client->urbs) {
      if (urb.answered && urb.readyAt <= now) continue;
      urb.answered = true;
      urb.status = -ESHUTDOWN;
      urb.in.clear();
      urb.actualLength = 0;
      urb.readyAt = now;
    }
  }
  claims_.clear();
}

// ---- Claims -----------------------------------------------------------------------------------

int UsbfsResponder::claim(UMockdevIoctlClient* client, uint32_t interface) {
  const auto held = claims_.find(interface);
  if (held != claims_.end()) return held->second == client ? 0 : EBUSY;
  if (const int error = device_->claimInterface(static_cast<uint8_t>(interface)); error != 0) {
    return error;
  }
  claims_[interface] = client;
  return 0;
}

int UsbfsResponder::release(UMockdevIoctlClient* client, uint32_t interface) {
  const auto held = claims_.find(interface);
  if (held == claims_.end() || held->second != client) return EINVAL;
  claims_.erase(held);
  device_->releaseInterface(static_cast<uint8_t>(interface));
  return 0;
}

// A standard or class request to an interface needs the interface; the kernel claims it for the
// descriptor when it is free. The printer class's GET_DEVICE_ID is let through unclaimed, so
// that the status of a printer another program holds can still be asked.
int UsbfsResponder::claimForControl(UMockdevIoctlClient* client, const usb::virt::SetupPacket& setup) {
  if ((setup.bmRequestType & kRecipientMask) != kRecipientInterface) return 0;
  if ((setup.bmRequestType & kTypeMask) == kTypeVendor) return 0;
  if (setup.bmRequestType == kPrinterGetDeviceIdType && setup.bRequest == kPrinterGetDeviceId) return 0;
  return claim(client, setup.wIndex & 0xFF);
}

// A port reset unbinds usbfs from the interfaces (libusb claims them again afterwards).
void UsbfsResponder::resetPort() {
  for (const auto& [interface, client] : claims_) device_->releaseInterface(static_cast<uint8_t>(interface));
  claims_.clear();
  device_->resetPort();
}

}  // namespace usbmock
