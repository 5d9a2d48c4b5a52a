#include "update/PrintQueues.h"

#include "support/SystemLog.h"
#include "support/ToolProcess.h"

namespace pm {

namespace {

constexpr int kToolTimeoutMs = 30000;
const QByteArray kDevicePrefix = QByteArrayLiteral("device for ");
// A queue name holds no blank, so the first ": " ends it even when the name holds a colon.
const QByteArray kNameEnd = QByteArrayLiteral(": ");

// Runs a tool with the C locale (its output is parsed) and returns its standard output, or a
// null array when it did not run to its end.
QByteArray outputOf(const QString& program, const QStringList& arguments) {
  const ToolResult result = runTool(program, arguments, kToolTimeoutMs, {QByteArrayLiteral("LC_ALL=C")});
  if (!result.started) {
    systemLog(QStringLiteral("could not run %1: %2").arg(program, result.error));
    return {};
  }
  if (!result.finished) {
    systemLog(QStringLiteral("%1 did not finish; stopped it").arg(program));
    return {};
  }
  if (result.exitCode != 0) {
    systemLog(QStringLiteral("%1 %2 ended with code %3: %4")
                  .arg(program, arguments.join(QLatin1Char(' ')))
                  .arg(result.exitCode)
                  .arg(QString::fromLocal8Bit(result.standardError.trimmed())));
  }
  QByteArray output = result.standardOutput;
  if (output.isNull()) output = QByteArray("");
  return output;
}

}  // namespace

QStringList printQueuesForDeviceURIMarker(const QByteArray& lpstatOutput, const QString& marker) {
  const QByteArray wanted = marker.toUtf8();
  QStringList names;
  if (wanted.isEmpty()) return names;
  for (const QByteArray& rawLine : lpstatOutput.split('\n')) {
    const QByteArray line = rawLine.endsWith('\r') ? rawLine.chopped(1) : rawLine;
    if (!line.startsWith(kDevicePrefix)) continue;
    const qsizetype nameEnd = line.indexOf(kNameEnd, kDevicePrefix.size());
    if (nameEnd <= kDevicePrefix.size()) continue;
    const QByteArray name = line.mid(kDevicePrefix.size(), nameEnd - kDevicePrefix.size());
    if (name.contains(' ') || name.contains('\t')) continue;
    const QByteArray uri = line.mid(nameEnd + kNameEnd.size());
    if (!uri.contains(wanted)) continue;
    const QString text = QString::fromUtf8(name);
    if (!names.contains(text)) names.append(text);
  }
  return names;
}

QStringList removePrintQueuesForDeviceURIMarker(const QString& marker) {
  const QByteArray listing = outputOf(QStringLiteral("lpstat"), {QStringLiteral("-v")});
  const QStringList names = printQueuesForDeviceURIMarker(listing, marker);
  for (const QString& name : names) {
    systemLog(QStringLiteral("removing print queue \"%1\"").arg(name));
    outputOf(QStringLiteral("lpadmin"), {QStringLiteral("-x"), name});
  }
  return names;
}

}  // namespace pm
