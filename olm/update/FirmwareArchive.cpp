// The archive rows (from the model table), the digest and the archive verification. The S-record
// check and the image transformations are in FirmwareImage.cpp.

#include "olm/update/FirmwareArchive.h"

#include <cstring>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <QFile>
#include <QFileInfo>

#include "olm/model/ModelTraits.h"
#include "support/Resources.h"
#include "support/SystemLog.h"

namespace pm {

namespace {

// The archive files live in the resources' "firmware" folder.
const QString kArchiveFolder = QStringLiteral("firmware/");

}  // namespace

QString FirmwareArchive::asciiHexForData(const QByteArray& data) { return QString::fromLatin1(data.toHex()); }

QString FirmwareArchive::verifyBlob(const QByteArray& data) {
  if (data.isEmpty()) return {};
  // The key is the class name's characters, without a terminator.
  const char* key = kDigestKeyClassName;
  systemLog(QStringLiteral("keyed on %1").arg(QLatin1String(key)));
  QByteArray digest(33, '\0');
  unsigned int length = 0;
  if (!HMAC(EVP_sha256(), key, static_cast<int>(std::strlen(key)),
            reinterpret_cast<const unsigned char*>(data.constData()), static_cast<size_t>(data.size()),
            reinterpret_cast<unsigned char*>(digest.data()), &length) ||
      length != 32) {
    systemLog(QStringLiteral("HMAC-SHA256 failed"));
    return {};
  }
  return asciiHexForData(digest);
}

std::optional<ArchiveRow> FirmwareArchive::archiveForProductID(uint16_t productID) {
  const std::optional<PrinterModel> model = modelForProductId(productID);
  if (!model) return std::nullopt;
  ArchiveRow row;
  for (const ArchiveFile& file : modelTraits(*model).archive) {
    row.fileNames.append(QString::fromLatin1(file.name));
    row.digests.append(QLatin1String(file.digest));
  }
  return row;
}

QString FirmwareArchive::resourcePathForArchiveFile(const QString& fileName) {
  // The split into resource name and type happens at the file name's last dot.
  return resourcePathForFileName(kArchiveFolder + fileName);
}

namespace {

// One archive file, bounded before it is read; the problem in words when it cannot be had.
std::optional<QByteArray> readBounded(const QString& fileName, QString* problem) {
  const QString path = FirmwareArchive::resourcePathForArchiveFile(fileName);
  if (path.isNull()) {
    *problem = QStringLiteral("missing");
    return std::nullopt;
  }
  const QFileInfo info(path);
  if (!info.isFile()) {
    *problem = QStringLiteral("not a regular file");
    return std::nullopt;
  }
  if (info.size() > FirmwareArchive::kMaxArchiveFileBytes) {
    *problem = QStringLiteral("%1 bytes, more than an archive file may hold").arg(info.size());
    return std::nullopt;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    *problem = QStringLiteral("cannot be read (%1)").arg(file.errorString());
    return std::nullopt;
  }
  // The file may have grown since it was measured: never more than the bound is read. Read in
  // the size measured first: a read of the bound itself would make (and clear) a buffer that
  // large for every image, the upload's largest cost.
  QByteArray bytes = file.read(info.size());
  if (!file.atEnd()) bytes += file.read(FirmwareArchive::kMaxArchiveFileBytes + 1 - bytes.size());
  if (bytes.size() > FirmwareArchive::kMaxArchiveFileBytes || file.error() != QFileDevice::NoError) {
    *problem = bytes.size() > FirmwareArchive::kMaxArchiveFileBytes
                   ? QStringLiteral("grew beyond the bound while read")
                   : QStringLiteral("cannot be read (%1)").arg(file.errorString());
    return std::nullopt;
  }
  return bytes;
}

}  // namespace

QString LoadedArchive::version() const {
  if (fileNames.isEmpty()) return {};
  const QString& name = fileNames.first();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? name : name.left(dot);
}

std::optional<QByteArray> FirmwareArchive::readArchiveFile(const QString& fileName) {
  QString problem;
  return readBounded(fileName, &problem);
}

std::optional<QStringList> FirmwareArchive::verifyFirmwareArchiveForProductID(uint16_t productID) {
  const ArchiveLoad load = loadArchiveForProductID(productID);
  if (!load.archive) return std::nullopt;
  return load.archive->fileNames;
}

ArchiveLoad FirmwareArchive::loadArchiveForProductID(uint16_t productID) {
  systemLog(QStringLiteral("+[TBUSBPrinterOLM verifyFirmwareArchiveForProductID:]"));
  systemLogf("switching on productID 0x%x", productID);
  ArchiveLoad load;
  const std::optional<ArchiveRow> row = archiveForProductID(productID);
  if (!row || row->fileNames.isEmpty()) {
    load.problem = QStringLiteral("no archive for this product");
    return load;
  }
  auto archive = std::make_shared<LoadedArchive>();
  archive->productID = productID;
  archive->fileNames = row->fileNames;
  const auto refuse = [&load](const QString& name, const QString& problem) {
    systemLog(QStringLiteral("firmware archive file %1 refused: %2").arg(name, problem));
    load.failedFile = name;
    load.problem = problem;
    return load;
  };
  for (qsizetype i = 0; i < row->fileNames.size(); ++i) {
    const QString& name = row->fileNames.at(i);
    // Every file counts: a table left out would be erased by the update and never written.
    QString problem;
    std::optional<QByteArray> contents = readBounded(name, &problem);
    if (!contents) return refuse(name, problem);
    const QString digest = verifyBlob(*contents);
    systemLog(
        QStringLiteral("verifying %1:%2").arg(name, digest.isNull() ? QStringLiteral("(null)") : digest));
    // A null digest (empty file) compares as the empty text, which no reference is.
    if (i >= row->digests.size() || row->digests.at(i) != digest)
      return refuse(name, QStringLiteral("digest mismatch"));
    if (i == 0) {
      if (!verifySRecData(*contents)) return refuse(name, QStringLiteral("not a valid S-record file"));
      archive->image = paddedData(std::move(*contents));
    } else {
      archive->tables.append(std::move(*contents));
    }
  }
  load.archive = std::move(archive);
  return load;
}

}  // namespace pm
