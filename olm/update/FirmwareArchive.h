#pragma once
// FirmwareArchive: each printer model's firmware archive (one Motorola S-record firmware file and
// its colour-table files among the application's resources, under "firmware/"), its
// authentication against the compiled-in digests, the S-record check of the firmware file and the
// padding of the image that the upload sends. TBUSBPrinterOLM's class operations forward here.
//
// Threads: every member is [any]: none touches shared state beyond the resource directory
// look-up (support/Resources.h), which is itself safe from any thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace pm {

// One model's archive: file names with the firmware file first, and the reference digest of each
// file at the same position.
struct ArchiveRow {
  QStringList fileNames;
  QStringList digests;
};

// One model's archive as read and checked once: the update sends these bytes and no others.
struct LoadedArchive {
  uint16_t productID = 0;
  QStringList fileNames;     // firmware file first, then the colour tables
  QByteArray image;          // the firmware file, S-record checked and padded to a multiple of 4
  QList<QByteArray> tables;  // the colour-table files as shipped, in the order of fileNames.mid(1)
  // The version the firmware file installs: its name without the extension ("KTA 01.61").
  QString version() const;
};

// The result of loading an archive: the archive, or the file that failed and why.
struct ArchiveLoad {
  std::shared_ptr<const LoadedArchive> archive;
  QString failedFile;  // empty for a product without an archive
  QString problem;     // "missing", "not a regular file", ... ; empty on success
};

class FirmwareArchive {
 public:
  FirmwareArchive() = delete;

  // The HMAC key of the digests: the name of the printer class that owns the archive.
  static constexpr const char* kDigestKeyClassName = "TBUSBPrinterOLM";

  // Two lower-case hex digits per byte; empty for empty input.
  static QString asciiHexForData(const QByteArray& data);
  // HMAC-SHA256 keyed on kDigestKeyClassName as 64 hex digits and "00"; a null QString for empty
  // input. Logs "keyed on <class name>".
  static QString verifyBlob(const QByteArray& data);

  // The archive row of a USB product ID, or nullopt for a product without one.
  static std::optional<ArchiveRow> archiveForProductID(uint16_t productID);
  // The row's file names when the whole archive loads (loadArchiveForProductID); nullopt otherwise.
  static std::optional<QStringList> verifyFirmwareArchiveForProductID(uint16_t productID);
  // Reads every file of the model's archive into memory and checks it: each file present, a
  // regular file, readable, at most kMaxArchiveFileBytes (a larger one is refused before it is
  // read), matching its digest; the firmware file also as S-records. Any failure refuses the whole
  // archive and is logged with the file's name. Reads up to the archive's size: never call it on
  // the main thread.
  static ArchiveLoad loadArchiveForProductID(uint16_t productID);
  static constexpr qint64 kMaxArchiveFileBytes = qint64{64} * 1024 * 1024;
  // Path of an archive file ("KTA 01.61.fw") in the resources, or a null QString when missing.
  static QString resourcePathForArchiveFile(const QString& fileName);
  // The whole contents of an archive file; nullopt when it is missing, cannot be read, is not a
  // regular file or is larger than kMaxArchiveFileBytes.
  static std::optional<QByteArray> readArchiveFile(const QString& fileName);

  // The firmware file check, from bytes, a file URL or a file path (anything unreadable is no
  // data and fails).
  static bool verifyMotorolaSFile(const QByteArray& data);
  static bool verifyMotorolaSFile(const QUrl& fileUrl);
  static bool verifyMotorolaSFileAtPath(const QString& path);
  // S-record syntax and checksums, line by line (see FirmwareImage.cpp for the exact rules).
  static bool verifySRecData(const QByteArray& data);
  static bool verifySRecData(const char* data, std::size_t size);

  // Extended with zero bytes to a multiple of 4 (logged); otherwise the input itself, so a null
  // array stays null and an empty one empty.
  static QByteArray paddedData(QByteArray data);
  // One's complement of the byte sum, low 16 bits (logs both the unsigned and the signed sums).
  static uint16_t checksumForData(const QByteArray& data);
};

// The number of a firmware version text: the leading decimal number of its last space-separated
// piece ("KTBW 1.40PRN" -> 1.4, "KTA 01.61" -> 1.61); 0.0 when that piece holds no number.
double firmwareVersionNumber(const QString& versionText);

// How a shipped firmware version stands to the installed one: the one comparison the window,
// the update and the command line use. Versions have two decimals ("01.10"), so they are
// compared in hundredths; nullopt while either number is unknown (0 or less).
enum class ShippedFirmware { Newer, Same, Older };
std::optional<ShippedFirmware> compareShippedFirmware(double installed, double shipped);
// The same for two version texts, by their numbers: "PZA 1.10" is "PZA 01.10".
std::optional<ShippedFirmware> compareShippedFirmware(const QString& installed, const QString& shipped);

}  // namespace pm
