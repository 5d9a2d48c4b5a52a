#include "sim/VirtualPrinter.h"

#include <cmath>
#include <utility>

#include "support/SystemLog.h"

namespace sim {

namespace {

using usb::virt::TransferResult;
using usb::virt::VirtualDeviceDescription;
using usb::virt::VirtualUsbDevice;

QString initialFirmwareText(const VirtualPrinterConfig& config) {
  const QString name = modelName(config.model);
  if (config.firmwareVersion.isEmpty())
    return name + QLatin1Char(' ') + QLatin1String(traitsOf(config.model).factoryFirmware);
  if (config.firmwareVersion.contains(QLatin1Char(' '))) return config.firmwareVersion;
  return name + QLatin1Char(' ') + config.firmwareVersion;
}

QString initialTableVersion(const VirtualPrinterConfig& config) {
  return config.tableVersion.isEmpty() ? QString::fromLatin1(traitsOf(config.model).factoryTableVersion)
                                       : config.tableVersion;
}

// Marks the span of one transfer; the bus promises never to overlap two on one device.
class TransferScope {
 public:
  explicit TransferScope(std::atomic<bool>& flag) : flag_(flag) {
    const bool wasBusy = flag_.exchange(true);
    Q_ASSERT_X(!wasBusy, "VirtualPrinter", "two transfers at once on one device");
    Q_UNUSED(wasBusy);
  }
  ~TransferScope() { flag_.store(false); }
  TransferScope(const TransferScope&) = delete;
  TransferScope& operator=(const TransferScope&) = delete;

 private:
  std::atomic<bool>& flag_;
};

}  // namespace

std::shared_ptr<VirtualPrinter> VirtualPrinter::attach(usb::virt::VirtualUsbBus& bus,
                                                       const VirtualPrinterConfig& config) {
  auto printer = std::make_shared<VirtualPrinter>(Token{}, config);
  VirtualDeviceDescription description;
  description.vendorId = config.vendorId ? config.vendorId : traitsOf(config.model).vendorId;
  description.productId = config.productId ? config.productId : traitsOf(config.model).productId;
  description.locationId = config.locationId;
  description.manufacturer = manufacturerString();
  description.product = productString(config.model);
  description.serialNumber = config.iSerialEnabled ? config.serialNumber : QString();
  description.deviceId1284 = deviceId1284(config.model, config.serialNumber);
  description.stringLatencyMs = config.identityLatencyMs;
  if (config.inLoader && !config.loaderSerial.isEmpty()) {
    description.serialNumber = config.loaderSerial;
    description.deviceId1284 = deviceId1284(config.model, config.loaderSerial);
  }
  std::shared_ptr<VirtualUsbDevice> device = bus.attach(description, printer);
  {
    std::lock_guard lock(printer->mutex_);
    printer->device_ = device;
  }
  return printer;
}

VirtualPrinter::VirtualPrinter(Token, const VirtualPrinterConfig& config)
    : model_(config.model),
      serialNumber_(config.serialNumber),
      firmwareVersion_(initialFirmwareText(config)),
      statusSequence_(config.statusSequence),
      counters_{config.lifetimeCounter, config.counterA, config.counterB, config.counterM},
      iSerialEnabled_(config.iSerialEnabled),
      tables_(config.model, initialTableVersion(config)),
      latencyMs_(config.latencyMs),
      restartDelayMs_(config.restartDelayMs),
      lateReplyMs_(config.lateReplyMs),
      lateReplies_(config.lateReplies),
      tableVersionForm_(config.tableVersionForm),
      shortFirmwareVersion_(config.shortFirmwareVersion),
      loaderSerial_(config.loaderSerial) {
  updateMode_ = config.inLoader;
}

VirtualPrinter::~VirtualPrinter() = default;

std::shared_ptr<VirtualUsbDevice> VirtualPrinter::device() const {
  std::lock_guard lock(mutex_);
  return device_.lock();
}

// ---------------------------------------------------------------------------------------------
// Received frames

std::vector<ReceivedFrame> VirtualPrinter::frames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}

QStringList VirtualPrinter::frameSummaries() const {
  std::lock_guard lock(mutex_);
  QStringList lines;
  for (const ReceivedFrame& frame : frames_) lines.append(frame.summary);
  return lines;
}

void VirtualPrinter::clearFrames() {
  std::lock_guard lock(mutex_);
  frames_.clear();
}

qsizetype VirtualPrinter::skippedBytes() const {
  std::lock_guard lock(mutex_);
  return parser_.skippedBytes();
}

uint64_t VirtualPrinter::answeredCommands() const {
  std::lock_guard lock(mutex_);
  return commandsAnswered_;
}

// ---------------------------------------------------------------------------------------------
// Identity and state

QString VirtualPrinter::serialNumber() const { return serialNumber_; }

QString VirtualPrinter::firmwareVersion() const {
  std::lock_guard lock(mutex_);
  return firmwareVersion_;
}

void VirtualPrinter::setFirmwareVersion(const QString& versionText) {
  std::lock_guard lock(mutex_);
  firmwareVersion_ = versionText;
}

bool VirtualPrinter::inUpdateMode() const {
  std::lock_guard lock(mutex_);
  return updateMode_;
}

QString VirtualPrinter::lastImageProblem() const {
  std::lock_guard lock(mutex_);
  return lastImageProblem_;
}

void VirtualPrinter::setStatusSequence(const QStringList& codes) {
  std::lock_guard lock(mutex_);
  statusSequence_ = codes;
  statusIndex_ = 0;
}

Counters VirtualPrinter::counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

void VirtualPrinter::setCounters(const Counters& counters) {
  std::lock_guard lock(mutex_);
  counters_ = counters;
}

bool VirtualPrinter::iSerialEnabled() const {
  std::lock_guard lock(mutex_);
  return iSerialEnabled_;
}

QList<ColorTable> VirtualPrinter::colorTables() const {
  std::lock_guard lock(mutex_);
  return tables_.tables();
}

bool VirtualPrinter::setColorTable(TableSlot slot, const QString& version, const QByteArray& data) {
  std::lock_guard lock(mutex_);
  return tables_.setTable(slot, version, data);
}

QString VirtualPrinter::lastTableProblem() const {
  std::lock_guard lock(mutex_);
  return lastTableProblem_;
}

void VirtualPrinter::setRestartDelayMs(uint32_t delayMs) {
  std::lock_guard lock(mutex_);
  restartDelayMs_ = delayMs;
}

// ---------------------------------------------------------------------------------------------
// Faults

void VirtualPrinter::injectReplyFault(ReplyFault kind, int atExchange) {
  std::lock_guard lock(mutex_);
  replyFault_ = kind;
  replyFaultAt_ = atExchange > 0 ? static_cast<int64_t>(commandsAnswered_) + atExchange : -1;
}

void VirtualPrinter::unplugAtCommand(int n) {
  std::lock_guard lock(mutex_);
  unplugAt_ = n > 0 ? static_cast<int64_t>(commandsReceived_) + n : 0;
}

bool VirtualPrinter::unplugPending() const {
  std::lock_guard lock(mutex_);
  return unplugAt_ != 0;
}

void VirtualPrinter::setStateObserver(std::function<void()> observer) {
  std::lock_guard lock(mutex_);
  stateObserver_ = std::move(observer);
}

void VirtualPrinter::setHeldByOtherProgram(bool held) {
  if (const auto dev = device()) dev->setHeldByOtherProgram(held);
}

void VirtualPrinter::setUpdateFault(UpdateFault fault) {
  std::lock_guard lock(mutex_);
  updateFault_ = fault;
}

void VirtualPrinter::powerCycle() {
  const auto dev = device();
  if (!dev) return;
  uint32_t delayMs = 0;
  {
    std::lock_guard lock(mutex_);
    forgetTransfers();
    delayMs = restartDelayMs_;
  }
  dev->setDescription(description());
  if (dev->isAttached()) dev->reEnumerate(delayMs);
  else dev->attach(delayMs);
}

// ---------------------------------------------------------------------------------------------
// Bus handler

TransferResult VirtualPrinter::bulkOut(VirtualUsbDevice& device, uint8_t endpoint, const QByteArray& data) {
  TransferScope scope(inTransfer_);
  Q_UNUSED(endpoint);
  BusAction action = BusAction::None;
  bool stalled = false;
  std::function<void()> observer;
  {
    std::lock_guard lock(mutex_);
    timeScale_ = device.timeScale();
    for (const ReceivedFrame& frame : parser_.feed(data)) {
      action = handleFrame(frame);
      if (action != BusAction::None) break;  // the printer is off the bus for the rest
    }
    stalled = std::exchange(stallWrite_, false);
    if (std::exchange(stateChanged_, false)) observer = stateObserver_;
  }
  if (observer) observer();
  perform(device, action);
  if (action == BusAction::Unplug) return TransferResult::failure(kIOReturnNoDevice);
  return stalled ? TransferResult::stall() : TransferResult::ok();
}

TransferResult VirtualPrinter::bulkIn(VirtualUsbDevice& device, uint8_t endpoint, uint32_t maxLength) {
  TransferScope scope(inTransfer_);
  Q_UNUSED(device);
  Q_UNUSED(endpoint);
  const double scale = device.timeScale();
  std::lock_guard lock(mutex_);
  timeScale_ = scale;
  if (std::exchange(stallNext_, false)) return TransferResult::stall();
  if (pipe_.empty()) return TransferResult::silent();
  // What has arrived goes out together; else the next arrival, as late as it comes.
  const auto now = std::chrono::steady_clock::now();
  auto previous = std::chrono::steady_clock::time_point::min();
  for (Arrival& arrival : pipe_) {
    if (arrival.afterReadMs) {
      arrival.at = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                             std::chrono::duration<double, std::milli>(*arrival.afterReadMs * scale));
      arrival.afterReadMs.reset();
    }
    arrival.at = std::max(arrival.at, previous);
    previous = arrival.at;
  }
  uint32_t latencyMs = 0;
  if (pipe_.front().at > now && scale > 0) {
    const double realMs = std::chrono::duration<double, std::milli>(pipe_.front().at - now).count();
    latencyMs = static_cast<uint32_t>(std::ceil(realMs / scale));
  }
  QByteArray data;
  while (!pipe_.empty() && uint32_t(data.size()) < maxLength && (data.isEmpty() || pipe_.front().at <= now)) {
    QByteArray& bytes = pipe_.front().bytes;
    const qsizetype taken = std::min<qsizetype>(bytes.size(), maxLength - data.size());
    data += bytes.first(taken);
    bytes.remove(0, taken);
    if (bytes.isEmpty()) pipe_.pop_front();
  }
  TransferResult result = TransferResult::ok(std::move(data));
  result.latencyMs = latencyMs;
  return result;
}

void VirtualPrinter::reset(VirtualUsbDevice& device) {
  Q_UNUSED(device);
  std::lock_guard lock(mutex_);
  forgetTransfers();
}

// Runs without the lock: the bus may call back into handlers of its own.
void VirtualPrinter::perform(VirtualUsbDevice& device, BusAction action) {
  uint32_t delayMs = 0;
  {
    std::lock_guard lock(mutex_);
    delayMs = restartDelayMs_;
    if (action != BusAction::None) forgetTransfers();
  }
  switch (action) {
    case BusAction::None:
      return;
    case BusAction::Unplug:
      device.detach();
      return;
    case BusAction::Restart:
      // A restart re-reads the printer's settings, the USB serial-number option among them.
      device.setDescription(description());
      device.reEnumerate(delayMs);
      return;
    case BusAction::Vanish:
      device.setDescription(description());
      device.detach();
      return;
  }
}

VirtualDeviceDescription VirtualPrinter::description() const {
  const auto dev = device();
  VirtualDeviceDescription desc = dev ? dev->description() : VirtualDeviceDescription{};
  std::lock_guard lock(mutex_);
  desc.serialNumber = iSerialEnabled_ ? serialNumber_ : QString();
  desc.deviceId1284 = deviceId1284(model_, serialNumber_);
  if (updateMode_ && !loaderSerial_.isEmpty()) {
    desc.serialNumber = loaderSerial_;
    desc.deviceId1284 = deviceId1284(model_, loaderSerial_);
  }
  return desc;
}

// Under the lock.
void VirtualPrinter::forgetTransfers() {
  parser_.reset();
  pipe_.clear();
  stallNext_ = false;
}

}  // namespace sim
