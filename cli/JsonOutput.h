#pragma once
// The JSON that printer-maintenance-cli writes, one compact object a line, in the shape that
// docs/cli-output.schema.json publishes: a value not known is null (never "" or a placeholder), a
// number is a number, and an update's end is the same object in `update` and in `history`.
//
// Threads: pure [any].

#include <optional>

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

namespace pm {
struct UpdateOutcome;
struct UpdateProgress;
}  // namespace pm

namespace pm::cli {

enum class PrinterResult;

// One line of output, without its newline.
QString jsonLine(const QJsonObject& object);
// null for an empty text.
QJsonValue textOrNull(const QString& text);
QJsonValue textOrNull(const std::optional<QString>& text);
// A count such as the lifetime counter: its digits as a number, else null.
QJsonValue countOrNull(const std::optional<QString>& digits);

// {"printer", "model", "result", "title", "message", "from", "to", "time"}, the result as a word
// of UpdateResults.
QJsonObject outcomeJson(const pm::UpdateOutcome& outcome);
// The same for a printer whose update never began (not connected, or Ctrl+C came first).
QJsonObject unstartedJson(const QString& serial, PrinterResult result);
// {"printer", "event", "phase"?, "bytes"?, "tables"?}
QJsonObject progressJson(const pm::UpdateProgress& event);

}  // namespace pm::cli
