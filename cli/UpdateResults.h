#pragma once
// The verdict of printer-maintenance-cli for scripts: how each selected printer ended, in one word
// of a fixed vocabulary, a count of those words (the last JSON line and the last line on standard
// error), and the process's exit status derived from them:
//   0 every selected printer updated or already up to date;
//   1 any failed, stopped, busy (held by another program), or named but not connected;
//   2 nothing was written by the user's choice (declined, or no terminal to ask);
//   3 a usage error;
//   4 no printer matched (none connected, or none of the named ones).
// A printer's word comes from the update's outcome: its result ("success", "failed", "refused")
// and, where it did not go ahead, its reason (UpdateOutcome::reason).
//
// Threads: pure [any].

#include <array>
#include <optional>

#include <QJsonObject>
#include <QString>

namespace pm {
struct UpdateOutcome;
}

namespace pm::cli {

enum ExitStatus { kDone = 0, kFailed = 1, kRefused = 2, kUsage = 3, kNoPrinter = 4 };

enum class PrinterResult { Updated, UpToDate, Busy, Declined, Failed, Stopped, NotFound };
constexpr int kPrinterResultCount = 7;

// "updated", "up-to-date", "busy", "declined", "failed", "stopped", "not-found".
QString resultWord(PrinterResult result);
std::optional<PrinterResult> resultFromWord(const QString& word);
PrinterResult resultOf(const pm::UpdateOutcome& outcome);
// The word of a recorded outcome: resultOf's, or "abandoned" for an update whose printer never
// came back (the history has it; no run ends in it).
QString recordedWord(const pm::UpdateOutcome& outcome);

class ResultTally {
 public:
  void add(PrinterResult result) { ++counts_[static_cast<size_t>(result)]; }
  int count(PrinterResult result) const { return counts_[static_cast<size_t>(result)]; }
  int total() const;
  // {"summary":{"updated":N,"up-to-date":N,...}}, every word present.
  QJsonObject summaryJson() const;
  // "2 updated, 1 up to date, 1 busy" in the user's language; the words with a count only.
  QString summaryText() const;
  int exitStatus() const;

 private:
  std::array<int, kPrinterResultCount> counts_{};
};

}  // namespace pm::cli
