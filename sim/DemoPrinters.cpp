#include "sim/DemoPrinters.h"

#include <optional>

#include <QCoreApplication>
#include <QThread>

#include "sim/DemoPrinterMemory.h"
#include "support/SystemLog.h"

namespace sim {

namespace {

constexpr uint32_t kDemoRestartDelayMs = 2500;

struct DemoEntry {
  VirtualPrinterConfig config;
  bool busy = false;
  bool deaf = false;
};

void logSkipped(const QString& what, const QString& entry) {
  pm::systemLog(QStringLiteral("PRINTER_MAINTENANCE_SIMULATE: skipping %1 in \"%2\"").arg(what, entry));
}

std::optional<uint32_t> parseLatency(QString text) {
  uint32_t scale = 1;
  if (text.endsWith(QLatin1String("ms"))) {
    text.chop(2);
  } else if (text.endsWith(QLatin1Char('s'))) {
    text.chop(1);
    scale = 1000;
  }
  bool ok = false;
  const uint32_t value = text.toUInt(&ok);
  if (!ok) return std::nullopt;
  return value * scale;
}

std::optional<DemoEntry> parseEntry(const QString& entry, int index) {
  const QStringList words = entry.split(QLatin1Char(':'));
  const std::optional<Model> model = modelFromName(words.first());
  if (!model) {
    logSkipped(QStringLiteral("unknown model \"%1\"").arg(words.first().trimmed()), entry);
    return std::nullopt;
  }
  DemoEntry demo;
  demo.config.model = *model;
  demo.config.serialNumber = QStringLiteral("SIM%1").arg(index, 4, 10, QLatin1Char('0'));
  demo.config.restartDelayMs = kDemoRestartDelayMs;

  for (qsizetype i = 1; i < words.size(); ++i) {
    const QString word = words[i].trimmed();
    const QString name = word.section(QLatin1Char('='), 0, 0);
    const QString value = word.section(QLatin1Char('='), 1);
    const bool hasValue = word.contains(QLatin1Char('=')) && !value.isEmpty();
    if (word == QLatin1String("busy")) {
      demo.busy = true;
    } else if (word == QLatin1String("deaf")) {
      demo.deaf = true;
    } else if (word == QLatin1String("loader")) {
      demo.config.inLoader = true;
    } else if (name == QLatin1String("fw") && hasValue) {
      demo.config.firmwareVersion = value;
    } else if (name == QLatin1String("serial") && hasValue) {
      demo.config.serialNumber = value;
    } else if (name == QLatin1String("late") && hasValue) {
      demo.config.lateReplies = value;
    } else if (word == QLatin1String("tableversion=name")) {
      demo.config.tableVersionForm = VirtualPrinterConfig::TableVersionForm::Name;
    } else if (word == QLatin1String("tableversion=late")) {
      demo.config.tableVersionForm = VirtualPrinterConfig::TableVersionForm::LateAfterWrite;
    } else if (word == QLatin1String("fwformat=short")) {
      demo.config.shortFirmwareVersion = true;
    } else if (name == QLatin1String("loaderserial") && word.contains(QLatin1Char('='))) {
      demo.config.loaderSerial = value;
    } else if (name == QLatin1String("status") && hasValue) {
      demo.config.statusSequence = QStringList{value};
    } else if (const std::optional<uint32_t> ms = parseLatency(value);
               name == QLatin1String("latency") && ms) {
      demo.config.latencyMs = *ms;
    } else if (const std::optional<uint32_t> ms = parseLatency(value);
               name == QLatin1String("idlatency") && ms) {
      demo.config.identityLatencyMs = *ms;
    } else if (const std::optional<uint32_t> restart = parseLatency(value);
               name == QLatin1String("restart") && restart) {
      demo.config.restartDelayMs = *restart;
    } else if (!word.isEmpty()) {
      logSkipped(QStringLiteral("option \"%1\"").arg(word), entry);
    }
  }
  return demo;
}

// A device with the model's IDs and a printer interface whose every request goes unanswered.
class DeafDevice final : public usb::virt::VirtualDeviceHandler {
 public:
  std::optional<usb::virt::TransferResult> controlRequest(usb::virt::VirtualUsbDevice&,
                                                          const usb::virt::SetupPacket&,
                                                          const QByteArray&) override {
    return usb::virt::TransferResult::silent();
  }
  usb::virt::TransferResult bulkOut(usb::virt::VirtualUsbDevice&, uint8_t, const QByteArray&) override {
    return usb::virt::TransferResult::silent();
  }
  usb::virt::TransferResult bulkIn(usb::virt::VirtualUsbDevice&, uint8_t, uint32_t) override {
    return usb::virt::TransferResult::silent();
  }
};

void attachDeafDevice(usb::virt::VirtualUsbBus& bus, const VirtualPrinterConfig& config) {
  const ModelTraits& traits = traitsOf(config.model);
  // The bus owns the device, which owns its handler.
  usb::virt::VirtualDeviceDescription description;
  description.vendorId = config.vendorId ? config.vendorId : traits.vendorId;
  description.productId = config.productId ? config.productId : traits.productId;
  bus.attach(description, std::make_shared<DeafDevice>());
}

}  // namespace

DemoAttached attachDemoPrinters(usb::virt::VirtualUsbBus& bus, const QString& spec, const DemoAdmit& admit,
                                const QString& memoryFolder) {
  Q_ASSERT(!QCoreApplication::instance() ||
           QThread::currentThread() == QCoreApplication::instance()->thread());
  DemoAttached attached;
  const DemoPrinterMemory memory(memoryFolder);
  int index = 0;
  for (const QString& rawEntry : spec.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    const QString entry = rawEntry.trimmed();
    if (entry.isEmpty()) continue;
    std::optional<DemoEntry> demo = parseEntry(entry, index + 1);
    if (!demo) continue;
    const DemoAdmission admission = admit ? admit(modelName(demo->config.model)) : DemoAdmission{};
    if (!admission.admitted) {
      attached.refused << modelName(demo->config.model);
      continue;
    }
    demo->config.vendorId = admission.vendorId;
    demo->config.productId = admission.productId;
    ++index;
    ++attached.devices;
    if (demo->deaf) {
      attachDeafDevice(bus, demo->config);
      pm::systemLog(
          QStringLiteral("demo device attached: %1 answering nothing").arg(modelName(demo->config.model)));
      continue;
    }
    memory.recall(demo->config);
    std::shared_ptr<VirtualPrinter> printer = VirtualPrinter::attach(bus, demo->config);
    memory.watch(printer);
    if (demo->busy) printer->setHeldByOtherProgram(true);
    pm::systemLog(
        QStringLiteral("demo printer attached: %1 serial %2 firmware \"%3\"")
            .arg(modelName(demo->config.model), demo->config.serialNumber, printer->firmwareVersion()));
    attached.printers.push_back(std::move(printer));
  }
  return attached;
}

}  // namespace sim
