// UsbfsResponder: URBs submitted, answered by the device, reaped and discarded.

#include "tests/usbmock/UsbfsResponderPrivate.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <tuple>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

namespace usbmock {

namespace {

using usb::virt::SetupPacket;
using usb::virt::TransferResult;

constexpr int kSetupSize = 8;
constexpr uint8_t kDirectionIn = 0x80;
constexpr uint16_t kFallbackPacketSize = 64;

// The URB status the kernel reports for a device's answer.
int urbStatusOf(IOReturn result) {
  switch (result) {
    case kIOReturnSuccess: return 0;
    case kIOUSBPipeStalled: return -EPIPE;
    case kIOReturnNoDevice:
    case kIOReturnAborted: return -ESHUTDOWN;
    case kIOReturnOverrun: return -EOVERFLOW;
    case kIOReturnTimeout:
    case kIOUSBTransactionTimeout: return -ETIMEDOUT;
    default: return -EPROTO;
  }
}

SetupPacket setupOf(const uint8_t* bytes) {
  SetupPacket setup;
  setup.bmRequestType = bytes[0];
  setup.bRequest = bytes[1];
  setup.wValue = static_cast<uint16_t>(bytes[2] | bytes[3] << 8);
  setup.wIndex = static_cast<uint16_t>(bytes[4] | bytes[5] << 8);
  setup.wLength = static_cast<uint16_t>(bytes[6] | bytes[7] << 8);
  return setup;
}

void answer(Urb& urb, int status, QByteArray in, int actualLength, uint32_t latencyMs) {
  urb.answered = true;
  urb.status = status;
  urb.in = std::move(in);
  urb.actualLength = actualLength;
  urb.readyAt = Clock::now() + std::chrono::milliseconds(latencyMs);
}

bool isComplete(const Urb& urb, Clock::time_point now) { return urb.answered && urb.readyAt <= now; }

}  // namespace

// ---- Submit -----------------------------------------------------------------------------------

int UsbfsResponder::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  auto urbData = GRef<UMockdevIoctlData>::adopt(
      umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr));
  if (!urbData) return EFAULT;
  const auto* raw = reinterpret_cast<const usbdevfs_urb*>(urbData.get()->data);
  if (raw->buffer_length < 0) return EINVAL;

  Urb urb;
  urb.type = raw->type;
  urb.endpoint = raw->endpoint;
  urb.length = raw->buffer_length;
  urb.address = urbData.get()->client_addr;
  if (urb.length > 0) {
    urb.buffer = GRef<UMockdevIoctlData>::adopt(umockdev_ioctl_data_resolve(
        urbData.get(), offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb.length), nullptr));
    if (!urb.buffer) return EFAULT;
  }
  urb.urb = std::move(urbData);
  urb.sequence = nextSequence_++;

  switch (urb.type) {
    case USBDEVFS_URB_TYPE_CONTROL: {
      if (urb.length < kSetupSize) return EINVAL;
      const SetupPacket setup = setupOf(urb.buffer.get()->data);
      if (const int error = claimForControl(client, setup); error != 0) return error;
      runControl(urb, setup);
      break;
    }
    case USBDEVFS_URB_TYPE_BULK:
    case USBDEVFS_URB_TYPE_INTERRUPT:
      if ((urb.endpoint & kDirectionIn) != 0) {
        runBulkIn(urb);
      } else {
        runBulkOut(urb);
      }
      break;
    default:
      return EINVAL;  // isochronous transfers are not emulated
  }
  ++counters_.submitted;
  clientOf(client).urbs.push_back(std::move(urb));
  return 0;
}

void UsbfsResponder::runControl(Urb& urb, const SetupPacket& setup) {
  const bool deviceToHost = (setup.bmRequestType & kDirectionIn) != 0;
  const int dataRoom = std::min<int>(setup.wLength, urb.length - kSetupSize);
  const QByteArray out =
      deviceToHost ? QByteArray()
                   : QByteArray(reinterpret_cast<const char*>(urb.buffer.get()->data) + kSetupSize, dataRoom);
  const TransferResult result = device_->control(setup, out);
  if (result.noAnswer) return;  // in flight until discarded
  const int status = urbStatusOf(result.status);
  if (deviceToHost) {
    const QByteArray in = status == 0 ? result.data.left(dataRoom) : QByteArray();
    answer(urb, status, in, static_cast<int>(in.size()), result.latencyMs);
  } else {
    answer(urb, status, {}, status == 0 ? dataRoom : 0, result.latencyMs);
  }
}

void UsbfsResponder::runBulkOut(Urb& urb) {
  const QByteArray data = urb.buffer ? QByteArray(reinterpret_cast<const char*>(urb.buffer.get()->data), urb.length)
                                     : QByteArray();
  const TransferResult result = device_->bulkOut(urb.endpoint & 0x0F, data);
  if (result.noAnswer) return;  // the device never takes it: in flight until discarded
  const int status = urbStatusOf(result.status);
  answer(urb, status, {}, status == 0 ? urb.length : 0, result.latencyMs);
}

void UsbfsResponder::runBulkIn(Urb& urb) {
  if (urb.length == 0) return answer(urb, 0, {}, 0, 0);
  if (device_->framing() == BulkInFraming::WholePackets) return runBulkInPackets(urb);

  const TransferResult result = device_->bulkIn(urb.endpoint & 0x0F, static_cast<uint32_t>(urb.length));
  if (result.noAnswer) return;  // nothing to send: in flight until discarded
  int status = urbStatusOf(result.status);
  QByteArray in = status == 0 ? result.data : QByteArray();
  if (in.size() > urb.length) {
    in.truncate(urb.length);
    status = -EOVERFLOW;
    ++counters_.overflows;
  }
  const int actual = static_cast<int>(in.size());
  answer(urb, status, std::move(in), actual, result.latencyMs);
}

// The device sends packets of wMaxPacketSize until it has no more or a short packet ends the
// transfer; the host takes them while they fit into the URB. A packet that does not fit is
// babble: the URB ends with -EOVERFLOW and the rest of that packet is lost.
void UsbfsResponder::runBulkInPackets(Urb& urb) {
  uint16_t packetSize = device_->maxPacketSize(urb.endpoint);
  if (packetSize == 0) packetSize = kFallbackPacketSize;
  QByteArray received;
  int status = 0;
  uint32_t latencyMs = 0;
  for (bool first = true; received.size() < urb.length; first = false) {
    const TransferResult packet = device_->bulkIn(urb.endpoint & 0x0F, packetSize);
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
    if (packet.data.size() > room) {
      received += packet.data.left(room);
      status = -EOVERFLOW;
      ++counters_.overflows;
      break;
    }
    received += packet.data;
    if (packet.data.size() < packetSize) break;  // a short packet ends the transfer
  }
  const int actual = static_cast<int>(received.size());
  answer(urb, status, std::move(received), actual, latencyMs);
}

// ---- Reap and discard -------------------------------------------------------------------------

bool UsbfsResponder::reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  std::deque<Urb>& urbs = clientOf(client).urbs;
  const Clock::time_point now = Clock::now();
  auto next = urbs.end();
  for (auto it = urbs.begin(); it != urbs.end(); ++it) {
    if (!isComplete(*it, now)) continue;
    if (next == urbs.end() || std::tie(it->readyAt, it->sequence) < std::tie(next->readyAt, next->sequence)) {
      next = it;
    }
  }
  if (next == urbs.end()) return false;

  auto* raw = reinterpret_cast<usbdevfs_urb*>(next->urb.get()->data);
  raw->status = next->status;
  raw->actual_length = next->actualLength;
  if (!next->in.isEmpty() && next->buffer) {
    const int offset = next->type == USBDEVFS_URB_TYPE_CONTROL ? kSetupSize : 0;
    const size_t count = std::min<size_t>(static_cast<size_t>(next->in.size()),
                                          static_cast<size_t>(next->length - offset));
    std::memcpy(next->buffer.get()->data + offset, next->in.constData(), count);
  }
  // The argument points to the caller's URB pointer: make it point to the reaped URB. The
  // URB and its buffer are written back into the caller's memory when the request completes.
  const auto pointer = GRef<UMockdevIoctlData>::adopt(umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr));
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
    if (isComplete(urb, Clock::now())) return EINVAL;  // too late: it completed
    answer(urb, -ENOENT, {}, 0, 0);
    ++counters_.discarded;
    return 0;
  }
  return EINVAL;
}

}  // namespace usbmock
