#include "app/Translations.h"

#include <memory>

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

#include "support/MainQueue.h"
#include "support/Resources.h"
#include "support/SystemLog.h"

namespace pm {

namespace {

const QString kCatalogue = QStringLiteral("printer-maintenance");

}  // namespace

QStringList translationDirectories() {
  return {QDir(resourceDirectory()).filePath(QStringLiteral("translations")),
          QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations"))};
}

QString translationFile(const QLocale& locale) {
  for (const QString& dir : translationDirectories()) {
    QTranslator probe;
    if (probe.load(locale, kCatalogue, QStringLiteral("_"), dir)) return probe.filePath();
  }
  return {};
}

void installTranslations(QCoreApplication& app) {
  Q_ASSERT(isMainQueue());
  const QLocale locale;
  const QString file = translationFile(locale);
  if (file.isNull()) return;  // English, or a language without a translation
  auto own = std::make_unique<QTranslator>();
  if (!own->load(file)) {
    systemLog(QStringLiteral("could not load the translation %1").arg(file));
    return;
  }
  own->setParent(&app);
  QCoreApplication::installTranslator(own.release());
  // Qt's own texts follow only when the application itself speaks the language, so that a
  // window never mixes two languages other than English.
  auto qt = std::make_unique<QTranslator>();
  if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    qt->setParent(&app);
    QCoreApplication::installTranslator(qt.release());
  }
}

}  // namespace pm
