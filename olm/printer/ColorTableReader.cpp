// pm::ColorTableReader: one read exchange per table version and checksum of the tables the model
// table names for the model (and, for KTC, its firmware version), each stored under its key.
#include "olm/printer/ColorTableReader.h"
#include "olm/printer/TBUSBPrinterOLM.h"
#include "olm/protocol/Framing.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

namespace pm {
struct ColorTableRead {
  pm::framing::Command code;
  QByteArray payload;  // the media, or none
  QString key;
  QString logPrefix;  // the log line up to the value
};
}  // namespace pm

namespace {

using Read = pm::ColorTableRead;

// "TBL_RD" "CWD<table>_Version" and "CWD<table>_Checksum", tables 300, 310, 600, 610, 620; the
// whole set of the older family has "TBL_RD" "CWD_Version" and "MNT_RD" "CTRLD_CHKSUM".
int32_t tableIndex(int number) {
  return number == 300 ? 0 : number == 310 ? 1 : number == 600 ? 2 : number == 610 ? 3 : 4;
}

QByteArray mediaPayload(pm::TableMedia media) {
  switch (media) {
    case pm::TableMedia::SD:
      return QByteArrayLiteral("0001");
    case pm::TableMedia::PD:
      return QByteArrayLiteral("0002");
    case pm::TableMedia::PP:
      return QByteArrayLiteral("0003");
    case pm::TableMedia::None:
      break;
  }
  return {};
}

std::vector<Read> tableReads(std::span<const pm::ColorTableSlot> tables, bool checksums) {
  std::vector<Read> reads;
  for (const pm::ColorTableSlot& slot : tables) {
    const pm::ColorTableKey& key = pm::colorTableKey(slot.key);
    const bool wholeSet = slot.number == 0;
    if (checksums) {
      const QString name = QLatin1String(key.checksum);
      reads.push_back({wholeSet ? pm::framing::Command::TableSetChecksum
                                : pm::framing::tableChecksumRead(tableIndex(slot.number)),
                       mediaPayload(slot.media), name,
                       QStringLiteral("printer color table CHKSUM ") + name + QStringLiteral(": ")});
    } else {
      const QString label = QLatin1String(slot.label);
      reads.push_back({wholeSet ? pm::framing::Command::TableSetVersion
                                : pm::framing::tableVersionRead(tableIndex(slot.number)),
                       mediaPayload(slot.media), QLatin1String(key.version),
                       QStringLiteral("printer color table version") +
                           (label.isEmpty() ? QString() : QLatin1Char(' ') + label) + QStringLiteral(": ")});
    }
  }
  return reads;
}

}  // namespace

void pm::ColorTableReader::getPrinterColorTableVersion(const Completion& completion) {
  readColorTables(false, completion);
}

void pm::ColorTableReader::getPrinterColorTableChecksum(const Completion& completion) {
  readColorTables(true, completion);
}

void pm::ColorTableReader::readColorTables(bool checksums, const Completion& completion) {
  Q_ASSERT(printer_.isPrinterCommandQueue());
  const std::optional<pm::PrinterModel> model = printer_.printerModel();
  const std::vector<pm::ColorTableRead> reads =
      model ? tableReads(pm::colorTablesAt(pm::modelTraits(*model), printer_.installedFirmwareVersion()),
                         checksums)
            : std::vector<pm::ColorTableRead>{};
  using Values = QList<std::optional<QString>>;
  if (reads.empty()) {
    pm::performAsyncOnMainQueue([completion] { completion(Values{}); });
    return;
  }
  auto printer = printer_.self();
  // Filled inline on this queue, one reply after the other.
  auto values = std::make_shared<Values>();
  const qsizetype expected = static_cast<qsizetype>(reads.size());
  for (const pm::ColorTableRead& read : reads) {
    printer_.exchangeOnQueue(
        read.code, read.payload, [printer, read, values, expected, completion](const QByteArray& reply) {
          std::optional<QString> value = TBUSBPrinterOLM::replyText(reply);
          if (value) value = value->trimmed();
          printer->storeDeviceInfo(read.key, value ? QVariant(*value) : QVariant());
          pm::systemLog(read.logPrefix + value.value_or(QStringLiteral("NULL")));
          values->append(value);
          if (values->size() == expected) {
            pm::performAsyncOnMainQueue([completion, result = *values] { completion(result); });
          }
        });
  }
}

QString pm::ColorTableReader::colorTableValue(const QString& key) const {
  return printer_.deviceInfoDict()->string(key);
}

const QStringList& pm::ColorTableReader::colorTableKeys() {
  static const QStringList keys = [] {
    QStringList all;
    for (const pm::ColorTableKey& key : pm::kColorTableKeys)
      all << QLatin1String(key.version) << QLatin1String(key.checksum);
    return all;
  }();
  return keys;
}
