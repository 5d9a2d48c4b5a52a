#include "support/Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace pm {

QString resourceDirectory() {
  const QByteArray env = qgetenv("PM_RESOURCE_DIR");
  if (!env.isEmpty()) return QString::fromLocal8Bit(env);
  const QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                      : QFileInfo("/proc/self/exe").canonicalPath();
  const QString installed = QDir(appDir).absoluteFilePath("../share/printer-maintenance");
  if (QFileInfo(installed).isDir()) return QDir(installed).canonicalPath();
  return QStringLiteral(PM_SOURCE_RESOURCES);
}

QString resourcePath(const QString& name, const QString& type) {
  const QString file = type.isEmpty() ? name : name + QLatin1Char('.') + type;
  const QString path = QDir(resourceDirectory()).filePath(file);
  return QFileInfo(path).isFile() ? path : QString();
}

QString resourcePathForFileName(const QString& fileName) {
  const int dot = fileName.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return resourcePath(fileName, QString());
  return resourcePath(fileName.left(dot), fileName.mid(dot + 1));
}

QString shortVersionString() { return QStringLiteral(PM_VERSION); }
QString buildNumberString() { return QStringLiteral(PM_BUILD_NUMBER); }

}  // namespace pm
