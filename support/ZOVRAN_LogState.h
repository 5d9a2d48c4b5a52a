#pragma once
// The logger's process-wide state, shared by the files that implement ZOVRAN_Log. Every field is
// guarded by `lock`.

#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>

#include <QString>

namespace pm::logging {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

struct LogState {
  LogState();  // the first-use state

  // Recursive: opening a file reports its failure through debug(), and both take the lock.
  std::recursive_mutex lock;
  QString applicationName;
  QString logFilePath;
  std::unique_ptr<std::FILE, FileCloser> file;
  std::optional<QString> pendingBuffer = QString();
  bool notify = false;
  bool logToStdErr = true;
  bool logAppName = false;
  // The original standard error while it is redirected into the log file, else -1.
  int savedStdErr = -1;
};

LogState& state();

}  // namespace pm::logging
