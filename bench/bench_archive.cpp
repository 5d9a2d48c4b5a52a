// Archive authentication and the S-record check, each beside standard tools on the same bytes:
//  - verifyBlob (HMAC-SHA256) over the largest shipped archive file and over 64 MiB, beside
//    `openssl dgst -sha256 -hmac` run on a file holding the same bytes;
//  - verifySRecData over a generated 10 MB S-record file, beside `srec_info` and
//    `objcopy -I srec -O binary` on that file.
// A tool's time is its whole process: start, loading, reading the file (from the page cache) and
// its work, nothing subtracted. Usage: bench_archive <firmware directory>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QtEndian>

#include "bench/BenchSupport.h"
#include "olm/update/FirmwareArchive.h"

namespace {

constexpr double kMB = 1e6;
constexpr double kBlobGoal = 0.70;  // of OpenSSL's figure
constexpr double kSRecGoal = 10;    // × srec_info
constexpr qsizetype kSRecBytes = 10'000'000;

QString writeScratch(const QString& name, const QByteArray& bytes) {
  const QString path = bench::scratchDirectory() + QLatin1Char('/') + name;
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
    qFatal("cannot write %s", qPrintable(path));
  return path;
}

// MB/s of a child process over `bytes` bytes; fails loudly when the tool fails.
double toolRate(const QStringList& argv, qsizetype bytes, std::vector<double>* runs,
                QByteArray* output = nullptr) {
  bench::runChild(argv);  // the file into the page cache, the tool's libraries too
  return bench::medianOfRuns(
      [&] {
        const bench::ChildRun run = bench::runChild(argv);
        if (run.exitStatus != 0) qFatal("%s failed (%d)", qPrintable(argv.join(' ')), run.exitStatus);
        if (output) *output = run.output;
        return bytes / kMB / run.seconds;
      },
      runs);
}

void authentication(const QString& label, const QByteArray& bytes, const QString& fileName) {
  QString digest;
  std::vector<double> ours, theirs;
  const double rate = bench::medianOfRuns(
      [&] {
        return bytes.size() / kMB /
               bench::secondsOf([&] { digest = pm::FirmwareArchive::verifyBlob(bytes); });
      },
      &ours);
  const QString path = writeScratch(fileName, bytes);
  QByteArray output;
  const double openssl =
      toolRate({QStringLiteral("openssl"), QStringLiteral("dgst"), QStringLiteral("-sha256"),
                QStringLiteral("-hmac"), QLatin1String(pm::FirmwareArchive::kDigestKeyClassName), path},
               bytes.size(), &theirs, &output);
  if (!output.trimmed().endsWith(digest.left(64).toLatin1()))
    qFatal("verifyBlob and openssl disagree on %s", qPrintable(label));
  bench::printRow(QStringLiteral("Archive authentication: verifyBlob, %1").arg(label),
                  QStringLiteral("%1 MB/s; openssl %2 MB/s (%3 %)")
                      .arg(rate, 0, 'f', 0)
                      .arg(openssl, 0, 'f', 0)
                      .arg(100 * rate / openssl, 0, 'f', 0),
                  QStringLiteral("≥ %1 % of openssl").arg(kBlobGoal * 100), rate >= kBlobGoal * openssl,
                  QStringLiteral("runs: %1 MB/s; openssl (whole process on a file): %2 MB/s")
                      .arg(bench::listOf(ours, 0), bench::listOf(theirs, 0)));
}

// A well-formed S-record file of about `size` bytes: a header, S3 records of 32 data bytes with
// 32-bit addresses, and an S7 end record.
QByteArray sRecordFile(qsizetype size) {
  auto record = [](char type, const QByteArray& fields) {
    unsigned sum = unsigned(fields.size() + 1);
    for (char c : fields) sum += uint8_t(c);
    QByteArray line =
        "S" + QByteArray(1, type) + QByteArray::number(fields.size() + 1, 16).rightJustified(2, '0');
    line += fields.toHex() + QByteArray::number(~sum & 0xFF, 16).rightJustified(2, '0');
    return line.toUpper() + '\n';
  };
  QByteArray file = record('0', QByteArray("\0\0bench", 7));
  QRandomGenerator random(42);
  for (uint32_t address = 0; file.size() < size - 100; address += 32) {
    QByteArray fields(4 + 32, '\0');
    qToBigEndian(address, fields.data());
    random.fillRange(reinterpret_cast<quint32*>(fields.data() + 4), 8);
    file += record('3', fields);
  }
  file += record('7', QByteArray(4, '\0'));
  return file;
}

void sRecordCheck() {
  const QByteArray file = sRecordFile(kSRecBytes);
  const QString path = writeScratch(QStringLiteral("bench.srec"), file);
  bool ok = true;
  std::vector<double> ours, info, objcopy;
  const double rate = bench::medianOfRuns(
      [&] {
        return file.size() / kMB /
               bench::secondsOf([&] { ok = ok && pm::FirmwareArchive::verifySRecData(file); });
      },
      &ours);
  if (!ok) qFatal("the generated S-record file did not pass");
  const double infoRate = toolRate({QStringLiteral("srec_info"), path}, file.size(), &info);
  const double objcopyRate =
      toolRate({QStringLiteral("objcopy"), QStringLiteral("-I"), QStringLiteral("srec"), QStringLiteral("-O"),
                QStringLiteral("binary"), path, path + QStringLiteral(".bin")},
               file.size(), &objcopy);
  bench::printRow(
      QStringLiteral("S-record check: verifySRecData, %1 MB file").arg(file.size() / kMB, 0, 'f', 1),
      QStringLiteral("%1 MB/s; srec_info %2 MB/s (× %3); objcopy %4 MB/s (× %5)")
          .arg(rate, 0, 'f', 0)
          .arg(infoRate, 0, 'f', 0)
          .arg(rate / infoRate, 0, 'f', 0)
          .arg(objcopyRate, 0, 'f', 0)
          .arg(rate / objcopyRate, 0, 'f', 0),
      QStringLiteral("faster than both, ≥ %1 × srec_info").arg(kSRecGoal),
      rate >= kSRecGoal * infoRate && rate > objcopyRate,
      QStringLiteral("runs: %1 MB/s; srec_info: %2; objcopy: %3 (whole processes on a file)")
          .arg(bench::listOf(ours, 0), bench::listOf(info, 0), bench::listOf(objcopy, 0)));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) qFatal("usage: bench_archive <firmware directory>");
  bench::redirectStandardErrorTo(bench::scratchDirectory() + QStringLiteral("/archive.log"));

  const QFileInfoList files = QDir(QString::fromLocal8Bit(argv[1])).entryInfoList(QDir::Files, QDir::Size);
  if (files.isEmpty()) qFatal("no archive files in %s", argv[1]);
  QFile largest(files.first().filePath());
  if (!largest.open(QIODevice::ReadOnly)) qFatal("cannot read %s", qPrintable(largest.fileName()));
  authentication(QStringLiteral("largest archive file (%1, %2 MB)")
                     .arg(files.first().fileName())
                     .arg(largest.size() / kMB, 0, 'f', 1),
                 largest.readAll(), QStringLiteral("archive.bin"));

  QByteArray big(64 << 20, Qt::Uninitialized);
  QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(big.data()), big.size() / 4);
  authentication(QStringLiteral("64 MiB buffer"), big, QStringLiteral("64mib.bin"));
  big.clear();

  sRecordCheck();
  return 0;
}
