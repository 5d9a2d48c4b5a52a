#pragma once
// The support library's logger. Lines with a level go to standard error and, once a log file is
// open, to that file; before that they collect in an in-memory buffer that is written out when
// the file opens. It can roll an oversized log into a companion "_old" file, redirect standard
// error into the log file, announce every line, and hex-dump data.
//
// Static members only; the state is one set per process, set up on first use. Every member may
// be called from any thread: one process-wide lock serialises logging, opening and rolling, so a
// line is always written whole.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <optional>

#include "support/ZOVRAN_Base.h"

// The announcement's name and its one user-info key.
inline constexpr char kZOVRAN_LogFileDidUpdate[] = "ZOVRAN_LogFileDidUpdate";
inline constexpr char kZOVRAN_LogFileAddedString[] = "ZOVRAN_LogFileAddedString";

// Carries the "ZOVRAN_LogFileDidUpdate" announcement. The signal is emitted on the thread that
// logged, after the logger's lock is released; connect with Qt::QueuedConnection to hear it on
// another thread.
class ZOVRAN_LogNotifier final : public QObject {
  Q_OBJECT
 public:
  static ZOVRAN_LogNotifier* instance();

 signals:
  // `logFilePath`: the path last given to setLogFile (null when none); `userInfo`: one entry,
  // "ZOVRAN_LogFileAddedString" -> the file line just formed, newline included.
  void logFileDidUpdate(const QString& logFilePath, const QVariantMap& userInfo);

 private:
  ZOVRAN_LogNotifier();
};

class ZOVRAN_Log : public ZOVRAN_Base {
 public:
  enum Level : unsigned { Information = 0, Debug = 1, Debug2 = 2, Error = 3, Warning = 4 };

  // Opens `path` for appending (creating its directory), writes the buffered lines into it and
  // from then on writes there; rolls an oversized log first. True only when this call opened the
  // file; a second call records the path but keeps the first file.
  static bool setLogFile(const QString& path);
  // rollLogFile(path, {}, 1 MiB).
  static void rollLogFileIfNecessary(const QString& path);
  // When `path` holds `size` bytes or more, appends it to `oldPath` (default: "<path without
  // extension>_old.<extension or log>"), keeping at most 10 MiB cut at a line boundary, then
  // empties `path`. When the old file cannot be written, `path` is left as it is.
  static void rollLogFile(const QString& path, const QString& oldPath, uint64_t size);

  static void setShouldNotifyForLogUpdates(bool notify);
  // When off while no file is open, nothing is logged until a file opens; when off at the moment
  // the file opens, standard error itself is redirected into the file.
  static void setShouldLogToStdErr(bool toStdErr);
  static void setShouldLogAppName(bool logAppName);
  static void setApplicationName(const QString& name);

  // Now, as "[YYYY/MM/dd HH:mm:ss.SSS Z]" in the local time zone.
  static QString logDateString();

  static void logLevel(unsigned level, const QString& message);
  // Level 1, one line per "\n"-separated piece (empty pieces included).
  static void debug(const QString& message);
  static void err(const QString& message);
  // Level 3, then the process ends at once with exit status 1.
  [[noreturn]] static void fatal(const QString& message);
  // Hex dump at level 1, one line per 16 bytes.
  static void logData(const QByteArray& data);
  // Each byte as "%.2x " (the last one included).
  static QString asciiHexForData(const QByteArray& data);

  // Logs the address to the system log, then checks the lower-cased address against the
  // RFC 5322 pattern, whole.
  static bool validateEmailAddress(const QString& address);

  // The lines not yet written to a file; nullopt once a file is open.
  static std::optional<QString> pendingBuffer();
  static QString logFilePath();
  // Back to the first-use state: closes the file, gives standard error back, empties the buffer,
  // flags and name to their defaults. For tests.
  static void resetToDefaults();
};
