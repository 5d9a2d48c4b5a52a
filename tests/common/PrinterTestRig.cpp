#include "tests/common/PrinterTestRig.h"

#include <algorithm>

#include <QCoreApplication>
#include <QPointer>
#include <QTest>

#include "support/MainQueue.h"

// ---- ScriptedAlertPresenter ------------------------------------------------------------------------

void ScriptedAlertPresenter::present(const pm::AlertRequest& request,
                                     std::function<void(const pm::AlertAnswer&)> completion) {
  pm::AlertAnswer answer;
  {
    const std::lock_guard guard(lock_);
    requests_.push_back(request);
    if (hold_) {
      if (completion) held_.push_back(std::move(completion));
      return;
    }
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
    }
  }
  if (completion)
    pm::performAsyncOnMainQueue([completion = std::move(completion), answer] { completion(answer); });
}

void ScriptedAlertPresenter::queueAnswer(int returnCode, bool agreed) {
  const std::lock_guard guard(lock_);
  answers_.push_back(pm::AlertAnswer{});
  answers_.back().returnCode = returnCode;
  answers_.back().agreed = agreed;
}

void ScriptedAlertPresenter::setHoldAnswers(bool hold) {
  std::vector<std::function<void(const pm::AlertAnswer&)>> held;
  {
    const std::lock_guard guard(lock_);
    hold_ = hold;
    if (!hold) held.swap(held_);
  }
  for (auto& completion : held) pm::performAsyncOnMainQueue([completion] { completion(pm::AlertAnswer{}); });
}

std::vector<pm::AlertRequest> ScriptedAlertPresenter::requests() const {
  const std::lock_guard guard(lock_);
  return requests_;
}

int ScriptedAlertPresenter::count() const { return static_cast<int>(requests().size()); }

QStringList ScriptedAlertPresenter::titles() const {
  QStringList titles;
  for (const pm::AlertRequest& request : requests()) titles << request.title;
  return titles;
}

void ScriptedAlertPresenter::clear() {
  std::vector<std::function<void(const pm::AlertAnswer&)>> held;  // let go outside the lock
  const std::lock_guard guard(lock_);
  requests_.clear();
  answers_.clear();
  held.swap(held_);
}

// ---- PrinterTestRig -----------------------------------------------------------------------------------

ScriptedSession::ScriptedSession() {
  pm::setAlertPresenter(&alerts_);
  pm::setApplicationControl(&application_);
  TBUSBPrinter::clearDeviceInfoRegistry();
  pm::UpdateJournal::setFilePath(stateDir_.filePath(QStringLiteral("state.db")));
}

ScriptedSession::~ScriptedSession() {
  pm::setAlertPresenter(nullptr);
  pm::setApplicationControl(nullptr);
}

bool ScriptedSession::waitUntilDestroyed(const std::vector<QPointer<TBUSBPrinterOLM>>& printers) {
  const auto gone = [&printers] { return std::ranges::all_of(printers, &QPointer<TBUSBPrinterOLM>::isNull); };
  return PrinterTestRig::waitFor(gone, 10000);
}

PrinterTestRig::PrinterTestRig(double timeScale) {
  Q_ASSERT(pm::isMainQueue());
  bus_.setTimeScale(timeScale);
  bus_.addInterfaceNotifications([this](const usb::ServiceHandle& service) { serviceMatched(service); },
                                 [this](const usb::ServiceHandle& service) { serviceTerminated(service); });
}

PrinterTestRig::~PrinterTestRig() {
  alerts().clear();  // unanswered alerts hold their printers
  bus_.addInterfaceNotifications(nullptr, nullptr);
  std::vector<QPointer<TBUSBPrinterOLM>> leaving;
  for (const Entry& entry : printers_) {
    entry.printer->prepareForRelease();
    leaving.emplace_back(entry.printer.get());
  }
  printers_.clear();
  // Queued work still holds the printers; let it run dry so nothing touches the bus after it.
  waitUntilDestroyed(leaving);
}

void PrinterTestRig::restartApplication() {
  TBUSBPrinter::clearDeviceInfoRegistry();
  pm::UpdateJournal::load();
}

std::shared_ptr<sim::VirtualPrinter> PrinterTestRig::attach(sim::VirtualPrinterConfig config) {
  return sim::VirtualPrinter::attach(bus_, std::move(config));
}

std::shared_ptr<TBUSBPrinterOLM> PrinterTestRig::attachAndWait(sim::VirtualPrinterConfig config,
                                                               std::shared_ptr<sim::VirtualPrinter>* device) {
  std::shared_ptr<sim::VirtualPrinter> virtualPrinter = attach(std::move(config));
  if (device) *device = virtualPrinter;
  std::shared_ptr<TBUSBPrinterOLM> printer;
  waitFor([&] { return (printer = printerFor(*virtualPrinter)) != nullptr; });
  return printer;
}

std::shared_ptr<TBUSBPrinterOLM> PrinterTestRig::printerFor(const sim::VirtualPrinter& device) const {
  const auto busDevice = device.device();
  const auto it = std::find_if(printers_.begin(), printers_.end(), [&](const Entry& e) {
    return busDevice && e.service == busDevice->service();
  });
  return it == printers_.end() ? nullptr : it->printer;
}

std::vector<std::shared_ptr<TBUSBPrinterOLM>> PrinterTestRig::printers() const {
  std::vector<std::shared_ptr<TBUSBPrinterOLM>> printers;
  for (const Entry& entry : printers_) printers.push_back(entry.printer);
  return printers;
}

bool PrinterTestRig::waitFor(const std::function<bool()>& condition, int timeoutMs) {
  return QTest::qWaitFor(condition, timeoutMs);
}

bool PrinterTestRig::settle(const std::shared_ptr<TBUSBPrinter>& printer, int rounds, const Wait& wait) {
  for (int round = 0; round < rounds; ++round) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto markMain = [done] { pm::performAsyncOnMainQueue([done] { done->store(true); }); };
    if (pm::SerialQueue* queue = printer->printerCommandQueue()) queue->async(markMain);
    else markMain();
    if (!wait([done] { return done->load(); }, 10000)) return false;
  }
  return true;
}

void PrinterTestRig::serviceMatched(const usb::ServiceHandle& service) {
  IOReturn result = kIOReturnSuccess;
  std::shared_ptr<usb::UsbInterface> interface = bus_.createInterface(service, &result);
  if (!interface) return;
  std::shared_ptr<TBUSBPrinterOLM> printer =
      TBUSBPrinter::create<TBUSBPrinterOLM>(&bus_, std::move(interface), service);
  if (!printer) return;
  printer->probe();
  printers_.push_back({printer, service});
}

void PrinterTestRig::serviceTerminated(const usb::ServiceHandle& service) {
  const auto it =
      std::find_if(printers_.begin(), printers_.end(), [&](const Entry& e) { return e.service == service; });
  if (it == printers_.end()) return;
  it->printer->prepareForRelease();
  printers_.erase(it);
}
