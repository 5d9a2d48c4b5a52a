#pragma once
// Whole-file reads and writes for tests. Any thread.

#include <QByteArray>
#include <QFile>
#include <QString>

// The file's bytes; empty when it cannot be read.
inline QByteArray readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the file's contents (making it if needed); `executable` adds the owner's execute bit.
inline bool writeFile(const QString& path, const QByteArray& bytes, bool executable = false) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
    return false;
  return !executable || file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}
