#include "cli/JsonOutput.h"

#include <QJsonDocument>

#include "cli/UpdateResults.h"
#include "olm/update/UpdateEvents.h"
#include "olm/update/UpdateHistory.h"

namespace pm::cli {

QString jsonLine(const QJsonObject& object) {
  return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonValue textOrNull(const QString& text) {
  return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonValue textOrNull(const std::optional<QString>& text) { return textOrNull(text.value_or(QString())); }

QJsonValue countOrNull(const std::optional<QString>& digits) {
  bool ok = false;
  const qint64 value = digits ? digits->toLongLong(&ok) : 0;
  // Above 2^53 a JSON number loses digits; no printer counts that far.
  return ok && value >= 0 && value < (qint64{1} << 53) ? QJsonValue(value) : QJsonValue(QJsonValue::Null);
}

QJsonObject outcomeJson(const pm::UpdateOutcome& outcome) {
  return QJsonObject{
      {QStringLiteral("printer"), textOrNull(outcome.printer)},
      {QStringLiteral("model"), textOrNull(outcome.model)},
      {QStringLiteral("result"), recordedWord(outcome)},
      {QStringLiteral("title"), textOrNull(outcome.title)},
      {QStringLiteral("message"), textOrNull(outcome.message)},
      {QStringLiteral("from"), textOrNull(outcome.from)},
      {QStringLiteral("to"), textOrNull(outcome.to)},
      {QStringLiteral("time"), outcome.time.isValid() ? QJsonValue(outcome.time.toUTC().toString(Qt::ISODate))
                                                      : QJsonValue(QJsonValue::Null)}};
}

QJsonObject unstartedJson(const QString& serial, PrinterResult result) {
  pm::UpdateOutcome outcome;
  outcome.printer = serial;
  QJsonObject object = outcomeJson(outcome);
  object.insert(QStringLiteral("result"), resultWord(result));
  return object;
}

QJsonObject progressJson(const pm::UpdateProgress& event) {
  QJsonObject object{{QStringLiteral("printer"), event.printer},
                     {QStringLiteral("event"), progressKindName(event.kind)}};
  if (event.phase > 0) object.insert(QStringLiteral("phase"), event.phase);
  if (event.kind == UpdateProgress::Kind::BytesSent) object.insert(QStringLiteral("bytes"), event.count);
  if (event.kind == UpdateProgress::Kind::TablesWritten) object.insert(QStringLiteral("tables"), event.count);
  return object;
}

}  // namespace pm::cli
