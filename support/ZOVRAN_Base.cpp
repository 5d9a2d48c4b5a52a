#include "support/ZOVRAN_Base.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <QtGlobal>

#include "support/SystemLog.h"

namespace {

constexpr long kFallbackPageSize = 4096;

long pageSize() {
  const long size = ::sysconf(_SC_PAGESIZE);
  return size > 0 ? size : kFallbackPageSize;
}

QStandardPaths::StandardLocation locationFor(ZOVRAN_Base::SearchPathDirectory kind) {
  switch (kind) {
    case ZOVRAN_Base::ApplicationDirectory:
      return QStandardPaths::ApplicationsLocation;
    case ZOVRAN_Base::LibraryDirectory:
      return QStandardPaths::GenericDataLocation;
    case ZOVRAN_Base::DocumentDirectory:
      return QStandardPaths::DocumentsLocation;
    case ZOVRAN_Base::DesktopDirectory:
      return QStandardPaths::DesktopLocation;
    case ZOVRAN_Base::CachesDirectory:
      return QStandardPaths::GenericCacheLocation;
    case ZOVRAN_Base::ApplicationSupportDirectory:
      return QStandardPaths::AppDataLocation;
    case ZOVRAN_Base::DownloadsDirectory:
      return QStandardPaths::DownloadLocation;
    case ZOVRAN_Base::MoviesDirectory:
      return QStandardPaths::MoviesLocation;
    case ZOVRAN_Base::MusicDirectory:
      return QStandardPaths::MusicLocation;
    case ZOVRAN_Base::PicturesDirectory:
      return QStandardPaths::PicturesLocation;
  }
  return QStandardPaths::GenericDataLocation;
}

QString readFirstLine(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(file.readLine()).trimmed();
}

}  // namespace

QString ZOVRAN_Base::firstFoundDirectoryType(SearchPathDirectory kind, unsigned domainMask) {
  if (domainMask == 0) domainMask = AllDomainsMask;
  const QStringList locations = QStandardPaths::standardLocations(locationFor(kind));
  // QStandardPaths lists the user's own directory first, then the shared ones.
  for (qsizetype i = 0; i < locations.size(); ++i) {
    const bool user = i == 0 && locations[i].startsWith(QDir::homePath());
    if ((user && (domainMask & UserDomainMask)) ||
        (!user && (domainMask & (LocalDomainMask | NetworkDomainMask | SystemDomainMask)))) {
      return locations[i];
    }
  }
  return QString();
}

std::optional<QVariantMap> ZOVRAN_Base::vmStats() {
  struct sysinfo info {};
  if (::sysinfo(&info) != 0) return std::nullopt;
  const quint64 freeBytesReported = static_cast<quint64>(info.freeram) * info.mem_unit;
  const quint64 size = static_cast<quint64>(pageSize());
  const auto freePages = static_cast<quint32>(freeBytesReported / size);
  const quint64 freeBytes = static_cast<quint64>(freePages) * size;
  return QVariantMap{{QStringLiteral("freePages"), freePages},
                     {QStringLiteral("freeBytes"), freeBytes},
                     {QStringLiteral("freeMB"), freeBytes >> 20}};
}

QString ZOVRAN_Base::hostModelAndArch() {
  struct utsname names {};
  if (::uname(&names) != 0) return QString();
  QString model = readFirstLine(QStringLiteral("/sys/devices/virtual/dmi/id/product_name"));
  if (model.isEmpty()) model = QString::fromUtf8(names.nodename);
  return model + QStringLiteral(" (%1)").arg(QString::fromUtf8(names.machine));
}

QString ZOVRAN_Base::safeTempFile(int* descriptor) {
  QString directory = qEnvironmentVariable("TMPDIR");
  if (directory.isEmpty()) directory = QStringLiteral("/tmp");
  const QString templatePath = QDir(directory).filePath(QStringLiteral("XXXXXXXXXXXXXXXX"));
  QByteArray buffer = QFile::encodeName(templatePath);  // NUL-terminated by QByteArray
  const int fd = ::mkstemp(buffer.data());
  if (fd < 0) {
    const int error = errno;
    pm::systemLog(QStringLiteral("ERROR: failed to create temporary file %1 (Error %2: %3)")
                      .arg(templatePath)
                      .arg(error)
                      .arg(QString::fromLocal8Bit(std::strerror(error))));
    if (descriptor != nullptr) *descriptor = fd;
    return QString();
  }
  if (descriptor != nullptr) {
    *descriptor = fd;
  } else {
    ::close(fd);
  }
  return QFile::decodeName(buffer.constData());
}

QString ZOVRAN_Base::systemVersionInfo() {
  // The Qt run-time version stands where the foundation library's number stood: 6.4.2 -> 6.040.
  const QStringList qt = QString::fromLatin1(qVersion()).split(QLatin1Char('.'));
  const double qtNumber =
      qt.value(0).toDouble() + qt.value(1).toDouble() / 100.0 + qt.value(2).toDouble() / 10000.0;
  const auto physicalMB =
      static_cast<unsigned long long>((static_cast<quint64>(::sysconf(_SC_PHYS_PAGES)) * pageSize()) >> 20);
  const std::optional<QVariantMap> stats = vmStats();
  const long freeMB = stats ? static_cast<long>(stats->value(QStringLiteral("freeMB")).toULongLong()) : 0;
  const auto cpus = static_cast<unsigned long>(::sysconf(_SC_NPROCESSORS_ONLN));
  const char* byteOrder = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "LittleEndian" : "BigEndian";
  const QString host = hostModelAndArch();
  return QString::asprintf("Linux %s foundation (%.3f);\n%lluMB (%ldMB free); %lu CPU; %s (%ld-bit); %s",
                           qUtf8Printable(QSysInfo::prettyProductName()), qtNumber, physicalMB, freeMB, cpus,
                           byteOrder, static_cast<long>(sizeof(void*) * 8),
                           host.isNull() ? "(null)" : qUtf8Printable(host));
}

QString ZOVRAN_Base::startupInfo() {
  return QString(80, QLatin1Char('^')) + QLatin1Char('\n') + processName() +
         QStringLiteral(" starting up\n") + systemVersionInfo();
}

QString ZOVRAN_Base::pathToSelf() {
  // The link's size is unknown beforehand: grow the buffer until the target fits.
  for (size_t size = 256; size <= 65536; size *= 2) {
    std::vector<char> buffer(size);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0) return QString();
    if (static_cast<size_t>(n) < buffer.size()) return QString::fromUtf8(buffer.data(), n);
  }
  return QString();
}

QString ZOVRAN_Base::processName() { return QString::fromLocal8Bit(program_invocation_short_name); }
