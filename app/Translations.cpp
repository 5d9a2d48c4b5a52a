#include "app/Translations.h"

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
  auto* own = new QTranslator(&app);
  if (!own->load(file) || !QCoreApplication::installTranslator(own)) {
    systemLog(QStringLiteral("could not load the translation %1").arg(file));
    delete own;
    return;
  }
  // Qt's own texts follow only when the application itself speaks the language, so that a
  // window never mixes two languages other than English.
  auto* qt = new QTranslator(&app);
  if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(qt);
  } else {
    delete qt;
  }
}

}  // namespace pm
