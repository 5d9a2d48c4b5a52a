#include "sim/FirmwareImageCheck.h"

#include <optional>
#include <vector>

namespace sim {

namespace {

struct SRecord {
  int type = 0;
  QByteArray address;
  QByteArray data;
};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int addressSize(int type) {
  switch (type) {
    case 0:
    case 1:
    case 5:
    case 9:
      return 2;
    case 2:
    case 6:
    case 8:
      return 3;
    case 3:
    case 7:
      return 4;
    default:
      return -1;  // S4 is reserved
  }
}

std::optional<SRecord> parseRecord(const QByteArray& line, QString* problem) {
  if (line.size() < 4 || line[0] != 'S' || addressSize(line[1] - '0') < 0) {
    *problem = QStringLiteral("not an S-record");
    return std::nullopt;
  }
  QByteArray bytes;
  if ((line.size() - 2) % 2 != 0) {
    *problem = QStringLiteral("odd number of hex digits");
    return std::nullopt;
  }
  for (qsizetype i = 2; i < line.size(); i += 2) {
    const int high = hexValue(line[i]);
    const int low = hexValue(line[i + 1]);
    if (high < 0 || low < 0) {
      *problem = QStringLiteral("not hexadecimal");
      return std::nullopt;
    }
    bytes.append(static_cast<char>(high * 16 + low));
  }
  const int type = line[1] - '0';
  const int count = static_cast<unsigned char>(bytes[0]);
  if (count != bytes.size() - 1 || count < addressSize(type) + 1) {
    *problem = QStringLiteral("wrong byte count");
    return std::nullopt;
  }
  unsigned sum = 0;
  for (qsizetype i = 0; i < bytes.size() - 1; ++i) sum += static_cast<unsigned char>(bytes[i]);
  if (((~sum) & 0xFFu) != static_cast<unsigned char>(bytes.back())) {
    *problem = QStringLiteral("bad checksum");
    return std::nullopt;
  }
  const int addressBytes = addressSize(type);
  return SRecord{type, bytes.mid(1, addressBytes), bytes.mid(1 + addressBytes, count - addressBytes - 1)};
}

FirmwareImageVerdict refuse(const QString& problem) { return {false, {}, problem}; }

}  // namespace

FirmwareImageVerdict checkFirmwareImage(const QByteArray& payload, const QByteArray& lengthField,
                                        Model model) {
  if (payload.isEmpty()) return refuse(QStringLiteral("no image"));
  if (lengthField != QByteArray::number(payload.size()).rightJustified(8, '0'))
    return refuse(QStringLiteral("length field does not match the image"));
  if (payload.size() % 4 != 0) return refuse(QStringLiteral("image not padded to a multiple of 4"));

  QByteArray text = payload;
  while (text.endsWith('\0')) text.chop(1);
  if (text.contains('\0')) return refuse(QStringLiteral("NUL byte inside the S-record text"));

  std::vector<SRecord> records;
  // Files come with LF, CR LF or CR line ends.
  const QList<QByteArray> lines = text.replace('\r', '\n').split('\n');
  for (const QByteArray& line : lines) {
    if (line.isEmpty()) continue;
    QString problem;
    const std::optional<SRecord> record = parseRecord(line, &problem);
    if (!record) return refuse(QStringLiteral("record %1: %2").arg(records.size() + 1).arg(problem));
    records.push_back(*record);
  }

  if (records.empty() || records.front().type != 0)
    return refuse(QStringLiteral("no S0 header record first"));
  const int last = records.back().type;
  if (last != 7 && last != 8 && last != 9)
    return refuse(QStringLiteral("no termination record at the end (truncated image?)"));
  bool hasData = false;
  for (const SRecord& r : records) hasData = hasData || (r.type >= 1 && r.type <= 3);
  if (!hasData) return refuse(QStringLiteral("no data records"));

  QByteArray header = records.front().data;
  while (header.endsWith('\0')) header.chop(1);
  const QString versionText = QString::fromLatin1(header).trimmed();
  const QString imageModel = versionText.section(QLatin1Char(' '), 0, 0);
  if (!traitsOf(model).imageNames.contains(imageModel) || !versionText.contains(QLatin1Char(' ')))
    return refuse(QStringLiteral("image is for \"%1\", not this model").arg(versionText));
  return {true, versionText, {}};
}

}  // namespace sim
