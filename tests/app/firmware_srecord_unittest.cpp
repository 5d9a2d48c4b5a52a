// The developer self-test of the shipped firmware: every firmware file among the resources reads
// as Motorola S-records whose count and checksum agree with their bytes.

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

#include "support/Resources.h"

namespace {

int hexPair(const QByteArray& line, int at) {
  bool ok = false;
  const int value = line.mid(at, 2).toInt(&ok, 16);
  return ok ? value : -1;
}

// Count = (length - 4) / 2; checksum = ones' complement of the low byte of the sum of the count
// and the byte pairs between count and checksum.
bool isSRecord(const QByteArray& line) {
  if (line.size() < 6 || line[0] != 'S' || !QChar::isDigit(line[1])) return false;
  const int count = hexPair(line, 2);
  if (count != (line.size() - 4) / 2) return false;
  int sum = count;
  const int checksumAt = line.size() - 2;
  for (int at = 4; at + 2 <= checksumAt; at += 2) {
    const int pair = hexPair(line, at);
    if (pair < 0) return false;
    sum += pair;
  }
  return hexPair(line, checksumAt) == (~sum & 0xFF);
}

bool isSRecordText(QByteArray bytes) {
  if (!bytes.endsWith('\0')) bytes.append('\0');
  const QString text = QString::fromUtf8(bytes.constData());
  static const QRegularExpression lineEnds(QStringLiteral("[\\n\\r\\x{0085}\\x{2028}\\x{2029}]"));
  const QStringList lines = text.split(lineEnds, Qt::SkipEmptyParts);
  if (lines.isEmpty()) return false;
  for (const QString& line : lines)
    if (!isSRecord(line.toUtf8())) return false;
  return true;
}

}  // namespace

class FirmwareSRecordTest : public QObject {
  Q_OBJECT

 private slots:
  void checkerCatchesDamage() {
    const QByteArray good = "S00F000068656C6C6F202020202000003C\r\nS11F00007C0802A6900100049421FFF07C6C1B787C8C23783C6000003863000026\n";
    QVERIFY(isSRecordText(good));
    QByteArray flipped = good;
    flipped[40] = flipped[40] == 'A' ? 'B' : 'A';
    QVERIFY(!isSRecordText(flipped));
    QVERIFY(!isSRecordText(QByteArray("S1130000")));
    QVERIFY(!isSRecordText(QByteArray("\n\r\n")));
  }

  void shippedFirmwareFilesAreSRecords() {
    const QDir resources(pm::resourceDirectory());
    QStringList files;
    for (const QString& folder : {QStringLiteral("."), QStringLiteral("firmware")})
      for (const QString& name : QDir(resources.filePath(folder)).entryList({QStringLiteral("*.fw")}))
        files << resources.filePath(folder + QLatin1Char('/') + name);
    if (files.isEmpty()) QSKIP("no firmware files among the resources");
    for (const QString& path : files) {
      QFile file(path);
      QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
      QVERIFY2(isSRecordText(file.readAll()), qPrintable(path));
    }
  }
};

QTEST_GUILESS_MAIN(FirmwareSRecordTest)
#include "firmware_srecord_unittest.moc"
