#include "support/PrintQueues.h"

#include <algorithm>

#include <QCoreApplication>
#include <QUrl>

#include "support/SystemLog.h"
#include "support/ToolProcess.h"

namespace pm {

namespace {

constexpr int kToolTimeoutMs = 30000;
const QByteArray kDevicePrefix = QByteArrayLiteral("device for ");
// A queue name holds no blank, so the first ": " ends it even when the name holds a colon.
const QByteArray kNameEnd = QByteArrayLiteral(": ");

// Runs a tool with the C locale (its output is parsed). The output, or nullopt with `why` set
// when the tool did not run to a successful end.
std::optional<QByteArray> outputOf(const QString& program, const QStringList& arguments,
                                   QString* why = nullptr) {
  const ToolResult result = runTool(program, arguments, kToolTimeoutMs, {QByteArrayLiteral("LC_ALL=C")});
  QString reason;
  if (!result.started) {
    reason = result.error;
    systemLog(QStringLiteral("could not run %1: %2").arg(program, reason));
  } else if (!result.finished) {
    reason = QStringLiteral("%1 did not finish").arg(program);
    systemLog(QStringLiteral("%1 did not finish; stopped it").arg(program));
  } else if (result.exitCode != 0) {
    reason = QString::fromLocal8Bit(result.standardError.trimmed());
    if (reason.isEmpty()) reason = QStringLiteral("%1 ended with code %2").arg(program).arg(result.exitCode);
    systemLog(QStringLiteral("%1 %2 ended with code %3: %4")
                  .arg(program, arguments.join(QLatin1Char(' ')))
                  .arg(result.exitCode)
                  .arg(QString::fromLocal8Bit(result.standardError.trimmed())));
  }
  if (!reason.isEmpty()) {
    if (why != nullptr) *why = reason;
    return std::nullopt;
  }
  QByteArray output = result.standardOutput;
  if (output.isNull()) output = QByteArray("");
  return output;
}

}  // namespace

QList<PrintQueue> printQueuesFromListing(const QByteArray& lpstatOutput) {
  QList<PrintQueue> queues;
  for (const QByteArray& rawLine : lpstatOutput.split('\n')) {
    const QByteArray line = rawLine.endsWith('\r') ? rawLine.chopped(1) : rawLine;
    if (!line.startsWith(kDevicePrefix)) continue;
    const qsizetype nameEnd = line.indexOf(kNameEnd, kDevicePrefix.size());
    if (nameEnd <= kDevicePrefix.size()) continue;
    const QByteArray name = line.mid(kDevicePrefix.size(), nameEnd - kDevicePrefix.size());
    if (name.contains(' ') || name.contains('\t')) continue;
    const QString text = QString::fromUtf8(name);
    if (std::any_of(queues.cbegin(), queues.cend(), [&](const PrintQueue& q) { return q.name == text; }))
      continue;
    queues.append({text, QString::fromUtf8(line.mid(nameEnd + kNameEnd.size()).trimmed())});
  }
  return queues;
}

bool deviceURIPointsAtPrinter(const QString& deviceURI, const QString& usbModel, const QStringList& serials) {
  // usb://MAKE/MODEL?serial=...&interface=...: split by hand, since a model may hold characters
  // that a URL parser would take for structure.
  static const QString kScheme = QStringLiteral("usb://");
  if (usbModel.isEmpty() || !deviceURI.startsWith(kScheme, Qt::CaseInsensitive)) return false;
  const QString rest = deviceURI.mid(kScheme.size());
  const qsizetype queryStart = rest.indexOf(QLatin1Char('?'));
  const QString path = queryStart < 0 ? rest : rest.left(queryStart);
  const QString query = queryStart < 0 ? QString() : rest.mid(queryStart + 1);
  const qsizetype makeEnd = path.indexOf(QLatin1Char('/'));
  if (makeEnd < 0) return false;
  const QString model = QUrl::fromPercentEncoding(path.mid(makeEnd + 1).toUtf8());
  if (model.compare(usbModel, Qt::CaseInsensitive) != 0) return false;
  for (const QString& parameter : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
    if (!parameter.startsWith(QLatin1String("serial="))) continue;
    const QString serial = QUrl::fromPercentEncoding(parameter.mid(7).toUtf8());
    return std::any_of(serials.cbegin(), serials.cend(),
                       [&](const QString& own) { return !own.isEmpty() && own == serial; });
  }
  return false;  // no serial number in the URI: it may reach another printer of the model
}

QStringList printQueuesOfPrinter(const QByteArray& lpstatOutput, const QString& usbModel,
                                 const QStringList& serials) {
  QStringList names;
  for (const PrintQueue& queue : printQueuesFromListing(lpstatOutput))
    if (deviceURIPointsAtPrinter(queue.deviceURI, usbModel, serials)) names.append(queue.name);
  return names;
}

std::optional<QByteArray> listPrintQueues(QString* why) {
  const ToolResult result = runTool(QStringLiteral("lpstat"), {QStringLiteral("-v")}, kToolTimeoutMs,
                                    {QByteArrayLiteral("LC_ALL=C")});
  const auto problem = [why](const QString& reason) -> std::optional<QByteArray> {
    if (why != nullptr) *why = reason;
    return std::nullopt;
  };
  // The two usual reasons in plain words; the rest as the tool says it.
  if (!result.started) {
    systemLog(QStringLiteral("could not run lpstat: %1").arg(result.error));
    return problem(QCoreApplication::translate("PrintQueues", "lpstat is not installed"));
  }
  const QString said = QString::fromLocal8Bit(result.standardError.trimmed());
  if (result.finished && result.exitCode != 0 && said.contains(QLatin1String("not running"))) {
    systemLog(QStringLiteral("could not list the print queues: %1").arg(said));
    return problem(QCoreApplication::translate("PrintQueues", "the print system (CUPS) is not running"));
  }
  if (!result.finished) {
    systemLog(QStringLiteral("lpstat did not finish; stopped it"));
    return problem(QCoreApplication::translate("PrintQueues", "lpstat did not finish"));
  }
  if (result.exitCode != 0) {
    systemLog(QStringLiteral("lpstat -v ended with code %1: %2").arg(result.exitCode).arg(said));
    return problem(said.isEmpty() ? QStringLiteral("lpstat ended with code %1").arg(result.exitCode) : said);
  }
  return result.standardOutput.isNull() ? QByteArray("") : result.standardOutput;
}

PrintQueueRemoval removePrintQueues(const QStringList& names) {
  PrintQueueRemoval removal;
  for (const QString& name : names) {
    systemLog(QStringLiteral("removing print queue \"%1\"").arg(name));
    QString why;
    if (outputOf(QStringLiteral("lpadmin"), {QStringLiteral("-x"), name}, &why)) {
      removal.removed.append(name);
    } else {
      removal.failed.append(name + QStringLiteral(": ") + why);
    }
  }
  return removal;
}

bool printSystemChangesAllowed() { return !qEnvironmentVariableIsSet("PRINTER_MAINTENANCE_SIMULATE"); }

}  // namespace pm
