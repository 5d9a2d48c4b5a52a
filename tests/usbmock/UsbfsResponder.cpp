#include <umockdev.h>  // first: GLib's headers use the word "signals"

#include "tests/usbmock/UsbfsResponder.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <deque>
#include <tuple>

#include <QtGlobal>

#include "support/MainQueue.h"

namespace usbmock {

using usb::virt::SetupPacket;
using usb::virt::TransferResult;

// Outside the anonymous namespace: the responder's own structs hold them.
struct GObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};
template <typename T>
using GRef = std::unique_ptr<T, GObjectUnref>;

namespace {

// What a current kernel offers: bulk transfers of any size in one URB, reaping after disconnect.
constexpr uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                   USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
constexpr int kSetupSize = 8;
constexpr uint8_t kDirectionIn = 0x80;
// The bus answers control requests at once; this only bounds a handler that gives no answer.
constexpr uint32_t kControlWaitMs = 1000;

using Clock = std::chrono::steady_clock;

// The argument of a request that points to one value of type T; null when it cannot be read.
template <typename T>
GRef<UMockdevIoctlData> resolveValue(UMockdevIoctlData* arg) {
  return GRef<UMockdevIoctlData>(umockdev_ioctl_data_resolve(arg, 0, sizeof(T), nullptr));
}

// A device another program holds is busy; any other refusal is the kernel's EIO.
int errnoOfClaim(IOReturn result) {
  if (result == kIOReturnSuccess) return 0;
  return result == kIOReturnExclusiveAccess ? EBUSY : EIO;
}

// The URB status the kernel reports for a device's answer.
int urbStatusOf(IOReturn result) {
  switch (result) {
    case kIOReturnSuccess:
      return 0;
    case kIOUSBPipeStalled:
      return -EPIPE;
    case kIOReturnNoDevice:
    case kIOReturnAborted:
      return -ESHUTDOWN;
    default:
      return -EPROTO;
  }
}

uint8_t endpointAddress(const usb::PipeProperties& pipe) {
  return static_cast<uint8_t>((pipe.number & 0x0F) | (pipe.direction == kUSBIn ? kDirectionIn : 0));
}

}  // namespace

struct UsbfsResponder::Urb {
  GRef<UMockdevIoctlData> urb;     // the client's struct usbdevfs_urb
  GRef<UMockdevIoctlData> buffer;  // its buffer; empty for a transfer of no bytes
  unsigned long address = 0;       // the URB's address in the client
  uint64_t sequence = 0;
  uint8_t type = 0;
  uint8_t endpoint = 0;   // with direction bit
  int length = 0;         // buffer_length (control: setup included)
  bool answered = false;  // has its result; complete once readyAt has passed
  int status = 0;
  QByteArray in;         // data for the host; control: without the setup
  int actualLength = 0;  // bytes moved, control: without the setup
  Clock::time_point readyAt;

  const char* data() const { return reinterpret_cast<const char*>(buffer->data); }
  void answer(int urbStatus, QByteArray bytes, int actual, uint32_t latencyMs) {
    answered = true;
    status = urbStatus;
    in = std::move(bytes);
    actualLength = actual;
    readyAt = Clock::now() + std::chrono::milliseconds(latencyMs);
  }
  bool isComplete(Clock::time_point now) const { return answered && readyAt <= now; }
};

std::mutex& UsbfsResponder::publication() {
  static std::mutex lock;
  return lock;
}

struct UsbfsResponder::Client {
  GRef<UMockdevIoctlClient> client;
  std::deque<Urb> urbs;  // submitted and not reaped, in submission order
};

UsbfsResponder::UsbfsResponder(usb::virt::VirtualUsbBus& bus, const usb::ServiceHandle& service,
                               std::shared_ptr<usb::virt::VirtualUsbDevice> device,
                               std::shared_ptr<usb::virt::VirtualDeviceHandler> handler,
                               BulkInFraming framing)
    : bus_(bus),
      service_(service),
      device_(std::move(device)),
      deviceHandler_(std::move(handler)),
      interface_(bus.createInterface(service, nullptr)),
      endpoints_(device_->description().endpoints),
      framing_(framing),
      handler_(umockdev_ioctl_base_new()) {
  Q_ASSERT(pm::isMainQueue());
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&UsbfsResponder::onIoctl), this);
  // umockdev hands the object to its worker thread through GLib, which ThreadSanitizer cannot
  // see; this lock (taken again by the worker) makes the hand-over visible.
  const std::lock_guard published(publication());
}

UsbfsResponder::~UsbfsResponder() {
  // Ordered after the worker's last request (see the constructor).
  { const std::lock_guard lock(mutex_); }
  g_signal_handlers_disconnect_by_data(handler_, this);
  g_object_unref(handler_);
}

void UsbfsResponder::disconnect() {
  const std::lock_guard lock(mutex_);
  if (!gone_) endConnection();
}

int UsbfsResponder::onIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client, void* self) {
  auto* responder = static_cast<UsbfsResponder*>(self);
  Q_ASSERT(!pm::isMainQueue());
  { const std::lock_guard published(publication()); }
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
  if (!gone_ && !bus_.isServiceAlive(service_)) endConnection();
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
      *reinterpret_cast<uint32_t*>(caps->data) = kCapabilities;
      return finish(0);
    }
    case USBDEVFS_SUBMITURB:
      return finish(submit(client, arg));
    case USBDEVFS_DISCARDURB:
      return finish(discard(client, arg));
    case USBDEVFS_CLAIMINTERFACE:
      return finish(claim(client));
    case USBDEVFS_RELEASEINTERFACE:
      return finish(release(client));
    case USBDEVFS_DISCONNECT_CLAIM:
      // No kernel driver is bound to the emulated interface: a claim like any other.
      ++detaches_;
      return finish(claim(client));
    case USBDEVFS_IOCTL:
      if (const auto command = resolveValue<usbdevfs_ioctl>(arg);
          command &&
          reinterpret_cast<const usbdevfs_ioctl*>(command->data)->ioctl_code == int(USBDEVFS_CONNECT))
        ++reattaches_;
      return finish(ENODATA);  // no kernel driver to attach
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

// A descriptor that was closed gave up its claim, and nothing of it is left to reap.
void UsbfsResponder::forgetClosedDescriptors() {
  if (claimant_ && !umockdev_ioctl_client_get_connected(claimant_)) release(claimant_);
  std::erase_if(clients_,
                [](const auto& entry) { return !umockdev_ioctl_client_get_connected(entry.first); });
}

UsbfsResponder::Client& UsbfsResponder::clientOf(UMockdevIoctlClient* client) {
  std::unique_ptr<Client>& entry = clients_[client];
  if (!entry) {
    entry = std::make_unique<Client>();
    entry->client.reset(static_cast<UMockdevIoctlClient*>(g_object_ref(client)));
  }
  return *entry;
}

// What was in flight ends as the kernel ends it on a disconnect.
void UsbfsResponder::endConnection() {
  gone_ = true;
  const Clock::time_point now = Clock::now();
  for (auto& [key, client] : clients_) {
    for (Urb& urb : client->urbs) {
      if (!urb.isComplete(now)) urb.answer(-ESHUTDOWN, {}, 0, 0);
    }
  }
  claimant_ = nullptr;
}

// ---- Claims -----------------------------------------------------------------------------------

int UsbfsResponder::claim(UMockdevIoctlClient* client) {
  if (claimant_) return claimant_ == client ? 0 : EBUSY;
  if (const int error = interface_ ? errnoOfClaim(interface_->openSeize()) : ENODEV; error != 0) return error;
  claimant_ = client;
  return 0;
}

int UsbfsResponder::release(UMockdevIoctlClient* client) {
  if (claimant_ != client) return EINVAL;
  claimant_ = nullptr;
  if (interface_) interface_->close();
  return 0;
}

// A standard or class request to an interface needs the interface; the kernel claims it for the
// descriptor when it is free. The printer class's GET_DEVICE_ID is let through unclaimed, so
// that the status of a printer another program holds can still be asked.
int UsbfsResponder::claimForControl(UMockdevIoctlClient* client, const SetupPacket& setup) {
  if ((setup.bmRequestType & 0x1F) != 0x01) return 0;                // not to an interface
  if ((setup.bmRequestType & 0x60) == 0x40) return 0;                // vendor request
  if (setup.bmRequestType == 0xA1 && setup.bRequest == 0) return 0;  // GET_DEVICE_ID
  return claim(client);
}

// A port reset unbinds usbfs from the interface (libusb claims it again afterwards).
void UsbfsResponder::resetPort() {
  if (claimant_) release(claimant_);
  if (!interface_) return;
  if (const auto device = interface_->device()) device->resetDevice();
}

// ---- URBs: submitted, answered by the device, reaped and discarded ----------------------------

int UsbfsResponder::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  GRef<UMockdevIoctlData> urbData(umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr));
  if (!urbData) return EFAULT;
  const auto* raw = reinterpret_cast<const usbdevfs_urb*>(urbData->data);
  if (raw->buffer_length < 0) return EINVAL;

  Urb urb;
  urb.type = raw->type;
  urb.endpoint = raw->endpoint;
  urb.length = raw->buffer_length;
  urb.address = urbData->client_addr;
  if (urb.length > 0) {
    urb.buffer.reset(umockdev_ioctl_data_resolve(urbData.get(), offsetof(usbdevfs_urb, buffer),
                                                 static_cast<gsize>(urb.length), nullptr));
    if (!urb.buffer) return EFAULT;
  }
  urb.urb = std::move(urbData);
  urb.sequence = nextSequence_++;

  if (urb.type == USBDEVFS_URB_TYPE_CONTROL) {
    if (urb.length < kSetupSize) return EINVAL;
    const auto* b = urb.buffer->data;
    const SetupPacket setup{b[0], b[1], uint16_t(b[2] | b[3] << 8), uint16_t(b[4] | b[5] << 8),
                            uint16_t(b[6] | b[7] << 8)};
    if (const int error = claimForControl(client, setup); error != 0) return error;
    runControl(urb, setup);
  } else if (urb.type == USBDEVFS_URB_TYPE_BULK || urb.type == USBDEVFS_URB_TYPE_INTERRUPT) {
    if ((urb.endpoint & kDirectionIn) != 0) {
      runBulkIn(urb);
    } else {
      const QByteArray data = urb.buffer ? QByteArray(urb.data(), urb.length) : QByteArray();
      const TransferResult result = deviceHandler_->bulkOut(*device_, urb.endpoint & 0x0F, data);
      const int status = urbStatusOf(result.status);
      // Without an answer the device never takes it: in flight until discarded.
      if (!result.noAnswer) urb.answer(status, {}, status == 0 ? urb.length : 0, result.latencyMs);
    }
  } else {
    return EINVAL;  // isochronous transfers are not emulated
  }
  clientOf(client).urbs.push_back(std::move(urb));
  return 0;
}

void UsbfsResponder::runControl(Urb& urb, const SetupPacket& setup) {
  const bool deviceToHost = (setup.bmRequestType & kDirectionIn) != 0;
  const int dataRoom = std::min<int>(setup.wLength, urb.length - kSetupSize);
  QByteArray data = deviceToHost ? QByteArray(dataRoom, '\0') : QByteArray(urb.data() + kSetupSize, dataRoom);
  IOReturn result = kIOReturnNoDevice;
  usb::ControlRequest request{setup.bmRequestType,
                              setup.bRequest,
                              setup.wValue,
                              setup.wIndex,
                              static_cast<uint16_t>(data.size()),
                              data.isEmpty() ? nullptr : data.data(),
                              kControlWaitMs,
                              kControlWaitMs,
                              0};
  if (interface_) result = interface_->controlRequest(0, request);
  if (result == kIOReturnTimeout) return;  // in flight until discarded
  const int status = urbStatusOf(result);
  const QByteArray in = status == 0 && deviceToHost ? data.left(request.lengthDone) : QByteArray();
  urb.answer(status, in, deviceToHost ? int(in.size()) : (status == 0 ? dataRoom : 0), 0);
}

// AsRequested: one answer of at most the URB's length. WholePackets: the device sends packets of
// wMaxPacketSize until it has no more or a short packet ends the transfer; the host takes them
// while they fit. A packet that does not fit is babble: -EOVERFLOW, the rest of it is lost.
void UsbfsResponder::runBulkIn(Urb& urb) {
  if (urb.length == 0) return urb.answer(0, {}, 0, 0);
  uint32_t packetSize = uint32_t(urb.length);
  if (framing_ == BulkInFraming::WholePackets) {
    const auto pipe = std::find_if(endpoints_.begin(), endpoints_.end(), [&](const usb::PipeProperties& p) {
      return endpointAddress(p) == urb.endpoint;
    });
    packetSize = pipe != endpoints_.end() ? pipe->maxPacketSize : 64;
  }
  QByteArray received;
  int status = 0;
  uint32_t latencyMs = 0;
  for (bool first = true; received.size() < urb.length; first = false) {
    TransferResult packet = deviceHandler_->bulkIn(*device_, urb.endpoint & 0x0F, packetSize);
    if (first) latencyMs = packet.latencyMs;
    if (packet.noAnswer) {
      if (first) return;  // nothing to send: in flight until discarded
      break;              // the device has said all it had
    }
    if (packet.status != kIOReturnSuccess) {
      status = urbStatusOf(packet.status);
      break;
    }
    const qsizetype room = urb.length - received.size();
    received += packet.data.left(room);
    if (packet.data.size() > room) {
      status = -EOVERFLOW;
      break;
    }
    if (framing_ == BulkInFraming::AsRequested || packet.data.size() < qsizetype(packetSize)) break;
  }
  const int actual = static_cast<int>(received.size());
  urb.answer(status, std::move(received), actual, latencyMs);
}

bool UsbfsResponder::reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  std::deque<Urb>& urbs = clientOf(client).urbs;
  // A read the device had nothing for waits, as on the wire, until the device has something.
  for (Urb& waiting : urbs)
    if (!gone_ && !waiting.answered && waiting.type != USBDEVFS_URB_TYPE_CONTROL &&
        (waiting.endpoint & kDirectionIn))
      runBulkIn(waiting);
  const Clock::time_point now = Clock::now();
  auto next = urbs.end();
  for (auto it = urbs.begin(); it != urbs.end(); ++it) {
    if (it->isComplete(now) &&
        (next == urbs.end() || std::tie(it->readyAt, it->sequence) < std::tie(next->readyAt, next->sequence)))
      next = it;
  }
  if (next == urbs.end()) return false;

  auto* raw = reinterpret_cast<usbdevfs_urb*>(next->urb->data);
  raw->status = next->status;
  raw->actual_length = next->actualLength;
  if (!next->in.isEmpty() && next->buffer) {
    const int offset = next->type == USBDEVFS_URB_TYPE_CONTROL ? kSetupSize : 0;
    std::memcpy(next->buffer->data + offset, next->in.constData(),
                std::min<size_t>(size_t(next->in.size()), size_t(next->length - offset)));
  }
  // The argument points to the caller's URB pointer: make it point to the reaped URB. The
  // URB and its buffer are written back into the caller's memory when the request completes.
  const auto pointer = resolveValue<void*>(arg);
  if (!pointer) {
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return true;
  }
  umockdev_ioctl_data_set_ptr(pointer.get(), 0, next->urb.get());
  urbs.erase(next);
  umockdev_ioctl_client_complete(client, 0, 0);
  return true;
}

int UsbfsResponder::discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  const unsigned long address = *reinterpret_cast<const unsigned long*>(arg->data);
  for (Urb& urb : clientOf(client).urbs) {
    if (urb.address != address) continue;
    if (urb.isComplete(Clock::now())) return EINVAL;  // too late: it completed
    urb.answer(-ENOENT, {}, 0, 0);
    return 0;
  }
  return EINVAL;
}

}  // namespace usbmock
