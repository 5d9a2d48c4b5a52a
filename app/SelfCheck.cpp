#include "app/SelfCheck.h"

#include <cstdio>

#include <QFileInfo>
#include <QLocale>

#include "app/Translations.h"
#include "olm/model/ModelTraits.h"
#include "olm/update/FirmwareArchive.h"
#include "support/MainQueue.h"
#include "support/Resources.h"

namespace pm {

bool selfCheckRequested() { return qEnvironmentVariable("PM_SELFTEST") == QLatin1String("1"); }

int runSelfCheck(QTextStream& out) {
  Q_ASSERT(isMainQueue());
  QStringList failed;
  const QString directory = resourceDirectory();
  out << "resource directory: " << directory << '\n';
  const QString translation = translationFile(QLocale());
  out << "translation: "
      << (translation.isNull() ? QStringLiteral("none for %1").arg(QLocale().name()) : translation) << '\n';

  for (const ModelTraits& traits : allModelTraits()) {
    const PrinterModel model = traits.model;
    // The same loader as the update: every file there, intact and within its bound.
    const ArchiveLoad load = FirmwareArchive::loadArchiveForProductID(effectiveIds(model).productId);
    const bool complete = load.archive != nullptr;
    out << "archive " << modelName(model) << ": "
        << (complete ? QStringLiteral("verified (%1 files)").arg(load.archive->fileNames.size())
                     : QStringLiteral("FAILED (%1: %2)").arg(load.failedFile, load.problem))
        << '\n';
    if (!complete) failed << QStringLiteral("archive %1").arg(modelName(model));

    const QString picture =
        resourcePath(QStringLiteral("pictures/") + QLatin1String(traits.picture), QStringLiteral("png"));
    out << "picture " << modelName(model) << ": " << (picture.isNull() ? QStringLiteral("MISSING") : picture)
        << '\n';
    if (picture.isNull()) failed << QStringLiteral("picture %1").arg(modelName(model));
  }
  // The verdict is the last line, with what failed.
  if (failed.isEmpty()) out << "self-check: passed\n";
  else out << "self-check: FAILED: " << failed.join(QStringLiteral(", ")) << '\n';
  out.flush();
  return failed.isEmpty() ? 0 : 1;
}

int runSelfCheck() {
  QTextStream out(stdout);
  return runSelfCheck(out);
}

}  // namespace pm
