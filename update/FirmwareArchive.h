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
#include <optional>

#include <QByteArray>
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
  // The row's file names when every file present matches its digest and at least one is present;
  // nullopt otherwise. Missing or unreadable files are skipped.
  static std::optional<QStringList> verifyFirmwareArchiveForProductID(uint16_t productID);
  // Path of an archive file ("KTA 01.61.fw") in the resources, or a null QString when missing.
  static QString resourcePathForArchiveFile(const QString& fileName);
  // The whole contents of an archive file; nullopt when it is missing or cannot be read.
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

}  // namespace pm
