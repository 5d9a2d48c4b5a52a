#pragma once
// The platform's system log of this code base: every diagnostic line of the application goes
// through here. It writes the line to syslog(3) and to standard error, whole, from any thread.

#include <QByteArray>
#include <QString>

namespace pm {

// Writes one line (a trailing newline is not doubled). Thread-safe.
void systemLog(const QString& line);

// printf-style convenience: systemLogf("removing %s", description). Thread-safe.
void systemLogf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes all of `bytes` to standard error with as few write(2) calls as the kernel allows, so
// that a line is never split by a line from another writer of the same descriptor. Thread-safe.
void writeToStandardError(const QByteArray& bytes);

// Tests capture the lines written here (in addition to syslog and standard error).
using SystemLogSink = void (*)(const QString& line, void* context);
void setSystemLogSink(SystemLogSink sink, void* context);

}  // namespace pm
