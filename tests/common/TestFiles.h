#pragma once
// Whole-file reads and writes for tests, and an environment variable set for a scope. Any thread.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

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

// Sets an environment variable (as a deployer would: the resource directory, demo mode) until
// the end of the scope, then puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const QByteArray& value)
      : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
    qputenv(name_, value);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() {
    if (had_) qputenv(name_, old_);
    else qunsetenv(name_);
  }

 private:
  const char* name_;
  bool had_;
  QByteArray old_;
};
