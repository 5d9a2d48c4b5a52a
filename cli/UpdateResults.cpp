#include "cli/UpdateResults.h"

#include <QCoreApplication>
#include <QStringList>

#include "olm/update/UpdateHistory.h"

namespace pm::cli {

QString resultWord(PrinterResult result) {
  switch (result) {
    case PrinterResult::Updated:
      return QStringLiteral("updated");
    case PrinterResult::UpToDate:
      return QStringLiteral("up-to-date");
    case PrinterResult::Busy:
      return QStringLiteral("busy");
    case PrinterResult::Declined:
      return QStringLiteral("declined");
    case PrinterResult::Failed:
      return QStringLiteral("failed");
    case PrinterResult::Stopped:
      return QStringLiteral("stopped");
    case PrinterResult::NotFound:
      return QStringLiteral("not-found");
  }
  return QStringLiteral("failed");
}

std::optional<PrinterResult> resultFromWord(const QString& word) {
  for (int i = 0; i < kPrinterResultCount; ++i)
    if (resultWord(static_cast<PrinterResult>(i)) == word) return static_cast<PrinterResult>(i);
  return std::nullopt;
}

PrinterResult resultOf(const pm::UpdateOutcome& outcome) {
  if (outcome.result == QLatin1String("success")) return PrinterResult::Updated;
  // A stop and a busy printer end the same whether anything was written or not.
  if (outcome.reason == QLatin1String("stopped")) return PrinterResult::Stopped;
  if (outcome.reason == QLatin1String("busy")) return PrinterResult::Busy;
  if (outcome.result == QLatin1String("refused")) {
    if (outcome.reason == QLatin1String("up-to-date")) return PrinterResult::UpToDate;
    // A refusal recorded before reasons were (busy, not needed or declined: nothing was written)
    // reads as the mildest of them rather than as a failure a dashboard would alarm on.
    if (outcome.reason == QLatin1String("declined") || outcome.reason.isEmpty())
      return PrinterResult::Declined;
  }
  // Refused for any other reason (the printer not ready, a firmware too old to start from) is
  // not the user's choice: the update did not happen and needs someone's attention.
  return PrinterResult::Failed;
}

QString recordedWord(const pm::UpdateOutcome& outcome) {
  if (outcome.result == QLatin1String("abandoned")) return outcome.result;
  return resultWord(resultOf(outcome));
}

int ResultTally::total() const {
  int sum = 0;
  for (const int n : counts_) sum += n;
  return sum;
}

QJsonObject ResultTally::summaryJson() const {
  QJsonObject counts;
  for (int i = 0; i < kPrinterResultCount; ++i)
    counts.insert(resultWord(static_cast<PrinterResult>(i)), counts_[static_cast<size_t>(i)]);
  return QJsonObject{{QStringLiteral("summary"), counts}};
}

QString ResultTally::summaryText() const {
  // In the order of PrinterResult.
  static const char* const kWords[kPrinterResultCount] = {
      QT_TRANSLATE_NOOP("UpdateResults", "%1 updated"),  QT_TRANSLATE_NOOP("UpdateResults", "%1 up to date"),
      QT_TRANSLATE_NOOP("UpdateResults", "%1 busy"),     QT_TRANSLATE_NOOP("UpdateResults", "%1 declined"),
      QT_TRANSLATE_NOOP("UpdateResults", "%1 failed"),   QT_TRANSLATE_NOOP("UpdateResults", "%1 stopped"),
      QT_TRANSLATE_NOOP("UpdateResults", "%1 not found")};
  QStringList parts;
  for (int i = 0; i < kPrinterResultCount; ++i)
    if (const int n = counts_[static_cast<size_t>(i)]; n > 0)
      parts.append(QCoreApplication::translate("UpdateResults", kWords[i]).arg(n));
  if (parts.isEmpty()) return QCoreApplication::translate("UpdateResults", "no printer");
  return parts.join(QStringLiteral(", "));
}

int ResultTally::exitStatus() const {
  const int notFound = count(PrinterResult::NotFound);
  if (total() == notFound) return kNoPrinter;
  if (count(PrinterResult::Failed) + count(PrinterResult::Stopped) + count(PrinterResult::Busy) + notFound >
      0)
    return kFailed;
  if (count(PrinterResult::Declined) > 0) return kRefused;
  return kDone;
}

}  // namespace pm::cli
