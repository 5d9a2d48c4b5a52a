#pragma once
// The application's translations: printer-maintenance_<language>.qm for the user's locale, found
// in the resource directory's translations/ folder (installed) or beside the executable (build
// tree), and Qt's own texts (dialog buttons) when the system has them. English needs no file: the
// English text is every message's key, so a text without translation shows as written.
//
// Threads: [main] for every member.

#include <QLocale>
#include <QString>
#include <QStringList>

class QCoreApplication;

namespace pm {

// Where translation files are looked for, in order.
QStringList translationDirectories();
// The file that translates the application into `locale`'s languages, or a null QString.
QString translationFile(const QLocale& locale);
// Installs the translators for the system locale on `app`, which owns them. Call before any
// window or printer object is made, so that every tr() already answers in the user's language.
void installTranslations(QCoreApplication& app);

}  // namespace pm
