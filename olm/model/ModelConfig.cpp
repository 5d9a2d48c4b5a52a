#include "olm/model/ModelConfig.h"

#include <variant>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "support/SystemLog.h"

namespace pm {

namespace {

constexpr qint64 kMaxConfigBytes = qint64{64} * 1024;
const QString kSettings = QStringLiteral("vendor=, product= or admitted=");

std::optional<uint16_t> parseUsbId(QString text) {
  if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) text = text.mid(2);
  static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{1,4}$"));
  if (!hex.match(text).hasMatch()) return std::nullopt;
  const uint16_t id = static_cast<uint16_t>(text.toUInt(nullptr, 16));
  if (id == 0) return std::nullopt;
  return id;
}

// A word of the file as a reason quotes it: bounded, so a runaway line makes no runaway message.
QString quoted(const QString& word) {
  return QLatin1Char('"') + (word.size() > 40 ? word.left(40) + QStringLiteral("...") : word) +
         QLatin1Char('"');
}

QString knownModels() {
  QStringList names;
  for (const ModelTraits& traits : allModelTraits()) names << QLatin1String(traits.name);
  return names.join(QStringLiteral(", "));
}

using Setting = std::pair<PrinterModel, ModelIds>;

// The line's model and its IDs on top of `current`, or the reason it is refused.
std::variant<Setting, QString> parseLine(const QStringList& words, const ModelIdTable& current) {
  const std::optional<PrinterModel> model = printerModelNamed(words.first());
  if (!model) return QStringLiteral("unknown model %1 (known: %2)").arg(quoted(words.first()), knownModels());
  if (words.size() == 1)
    return QStringLiteral("nothing to set for %1 (expected %2)").arg(words.first(), kSettings);
  ModelIds ids = current[static_cast<std::size_t>(*model)];
  QStringList given;
  for (const QString& word : words.mid(1)) {
    const QString key = word.section(QLatin1Char('='), 0, 0).toLower();
    const QString value = word.section(QLatin1Char('='), 1);
    if (!word.contains(QLatin1Char('=')) ||
        (key != QLatin1String("vendor") && key != QLatin1String("product") &&
         key != QLatin1String("admitted")))
      return QStringLiteral("%1 is not a setting (expected %2)").arg(quoted(word), kSettings);
    if (given.contains(key)) return QStringLiteral("%1 is given twice").arg(key);
    given << key;
    if (key == QLatin1String("admitted")) {
      if (value.compare(QLatin1String("yes"), Qt::CaseInsensitive) != 0 &&
          value.compare(QLatin1String("no"), Qt::CaseInsensitive) != 0)
        return QStringLiteral("admitted %1 is neither yes nor no").arg(quoted(value));
      ids.admitted = value.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
      continue;
    }
    const std::optional<uint16_t> id = parseUsbId(value);
    if (!id)
      return QStringLiteral("%1 %2 is not a USB ID (one to four hex digits, such as 0x04f9)")
          .arg(key, quoted(value));
    (key == QLatin1String("vendor") ? ids.vendorId : ids.productId) = *id;
  }
  for (std::size_t other = 0; other < current.size(); ++other) {
    if (other != static_cast<std::size_t>(*model) && current[other].productId == ids.productId)
      return QStringLiteral("product ID 0x%1 is already %2's (the product ID tells the model)")
          .arg(ids.productId, 4, 16, QLatin1Char('0'))
          .arg(modelName(static_cast<PrinterModel>(other)));
  }
  return Setting{*model, ids};
}

}  // namespace

void applyModelConfig(const QByteArray& text, const QString& fileName, ModelIdTable& ids,
                      QStringList& problems) {
  const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
  static const QRegularExpression blanks(QStringLiteral("\\s+"));
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QString line = lines[i].section(QLatin1Char('#'), 0, 0).trimmed();
    if (line.isEmpty()) continue;
    const auto parsed = parseLine(line.split(blanks, Qt::SkipEmptyParts), ids);
    if (const QString* reason = std::get_if<QString>(&parsed)) {
      problems << QStringLiteral("%1 line %2: %3").arg(fileName).arg(i + 1).arg(*reason);
    } else {
      const auto& [model, set] = std::get<Setting>(parsed);
      ids[static_cast<std::size_t>(model)] = set;
    }
  }
}

ModelConfig readModelConfig(const QStringList& paths) {
  ModelConfig config;
  for (const QString& path : paths) {
    const QFileInfo info(path);
    if (!info.exists()) continue;
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
      config.problems << QStringLiteral("%1: cannot be read (%2)")
                             .arg(path, info.isFile() ? file.errorString() : QStringLiteral("not a file"));
      continue;
    }
    const QByteArray text = file.read(kMaxConfigBytes + 1);
    if (text.size() > kMaxConfigBytes) {
      config.problems
          << QStringLiteral("%1: larger than %2 KiB, not read").arg(path).arg(kMaxConfigBytes / 1024);
      continue;
    }
    applyModelConfig(text, path, config.ids, config.problems);
  }
  return config;
}

QStringList modelConfigPaths() {
  QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (home.isEmpty() || QDir::isRelativePath(home)) home = QDir::homePath() + QStringLiteral("/.config");
  return {QStringLiteral("/etc/printer-maintenance/models.conf"),
          home + QStringLiteral("/printer-maintenance/models.conf")};
}

QStringList loadModelConfig() {
  const ModelConfig config = readModelConfig(modelConfigPaths());
  installEffectiveIds(config.ids);
  for (const QString& problem : config.problems)
    systemLog(QStringLiteral("model configuration: %1; skipped").arg(problem));
  return config.problems;
}

}  // namespace pm
