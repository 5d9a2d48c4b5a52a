#pragma once
// System information for diagnostics: directories, memory, host model, temporary files, a system
// summary and a start-up banner. Static members only, no state; every member may be called from
// any thread.

#include <QString>
#include <QVariantMap>

#include <optional>

class ZOVRAN_Base {
 public:
  // Directory kinds with the numbers the original platform gives them; each maps onto the
  // nearest QStandardPaths location.
  enum SearchPathDirectory {
    ApplicationDirectory = 1,
    LibraryDirectory = 5,
    DocumentDirectory = 9,
    DesktopDirectory = 12,
    CachesDirectory = 13,
    ApplicationSupportDirectory = 14,
    DownloadsDirectory = 15,
    MoviesDirectory = 17,
    MusicDirectory = 18,
    PicturesDirectory = 19,
  };
  // Domains: the user's home ones, or the machine's shared ones (QStandardPaths' later entries).
  enum SearchPathDomainMask {
    UserDomainMask = 1,
    LocalDomainMask = 2,
    NetworkDomainMask = 4,
    SystemDomainMask = 8,
    AllDomainsMask = 0xFFFF,
  };

  ZOVRAN_Base() = delete;

  // The first directory of `kind` in `domainMask` (0 means all domains), without tilde; a null
  // QString when there is none.
  static QString firstFoundDirectoryType(SearchPathDirectory kind, unsigned domainMask);

  // {"freePages": quint32, "freeBytes": quint64, "freeMB": quint64}; nullopt when the kernel
  // cannot be asked.
  static std::optional<QVariantMap> vmStats();

  // "model (arch)": the DMI product name when readable, else the host name; the architecture from
  // uname. A null QString when uname fails.
  static QString hostModelAndArch();

  // Creates an empty file with a unique name in $TMPDIR (else /tmp). When `descriptor` is given,
  // the open descriptor is stored there and the caller owns it (a negative value on failure);
  // otherwise it is closed. The file's path, or a null QString on failure (logged).
  static QString safeTempFile(int* descriptor);

  // "Linux <distribution> foundation (<Qt version>);\n<n>MB (<n>MB free); <n> CPU; LittleEndian
  // (64-bit); <hostModelAndArch>".
  static QString systemVersionInfo();
  // A line of 80 carets, "<process> starting up", then systemVersionInfo.
  static QString startupInfo();

  // The running executable's path (/proc/self/exe); a null QString when it cannot be read.
  static QString pathToSelf();
  // The executable's name as the process was started.
  static QString processName();
};
