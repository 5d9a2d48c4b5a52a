#include "support/Resources.h"

#include <mutex>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace pm {

namespace {
std::mutex g_mutex;
QString g_override;  // set by tests; guarded by g_mutex
}  // namespace

QString resourceDirectory() {
  {
    std::lock_guard lock(g_mutex);
    if (!g_override.isEmpty()) return g_override;
  }
  const QByteArray env = qgetenv("PM_RESOURCE_DIR");
  if (!env.isEmpty()) return QString::fromLocal8Bit(env);
  const QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                      : QFileInfo("/proc/self/exe").canonicalPath();
  const QString installed = QDir(appDir).absoluteFilePath("../share/printer-maintenance");
  if (QFileInfo(installed).isDir()) return QDir(installed).canonicalPath();
  return QStringLiteral(PM_SOURCE_RESOURCES);
}

void setResourceDirectory(const QString& path) {
  std::lock_guard lock(g_mutex);
  g_override = path;
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
