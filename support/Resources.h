#pragma once
// The application's bundle: its resource directory (firmware and colour-table files, pictures,
// translations) and its version strings. [any] after setup on the main thread.

#include <QString>

namespace pm {

// The resource directory: $PM_RESOURCE_DIR when set; else <exe>/../share/printer-maintenance
// when it exists (installed); else the source tree's resources/ (run from the build tree).
QString resourceDirectory();
// Path of resource `name` of `type` ("KTA 01.61", "fw"), or a null QString when it is missing.
QString resourcePath(const QString& name, const QString& type);
// Splits "KTA 01.61.fw" at its last dot and resolves it.
QString resourcePathForFileName(const QString& fileName);

// "CFBundleShortVersionString" and "CFBundleVersion" of this build (from the CMake project).
QString shortVersionString();
QString buildNumberString();

}  // namespace pm
