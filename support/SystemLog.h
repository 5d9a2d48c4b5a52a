#pragma once
// The platform's system log of this code base: every diagnostic line of the application goes
// through here. It sends the line, with its priority, to the system log socket (/dev/log) and
// writes warnings and errors to standard error, whole and on one line, from any thread; the
// detailed lines (debug priority: frames, method names, dumps) reach standard error only when
// PRINTER_MAINTENANCE_DEBUG=1 asks for them. When standard error already is the
// journal (JOURNAL_STREAM names it), the line goes to the socket only, so that it is not recorded
// twice and keeps its priority; it falls back to standard error when the socket takes nothing.

#include <QByteArray>
#include <QString>

namespace pm {

// syslog(3)'s numbering, so `journalctl -p err` finds the Error lines.
enum class LogPriority : int { Error = 3, Warning = 4, Info = 6, Debug = 7 };

// The priority a line states by its opening words: "ERROR", "Error", "error", "FAILED", "Bad " ->
// Error;
// "WARN", "failed", "could not", "no permission" -> Warning; anything else Debug.
LogPriority priorityOfLine(const QString& line);

// Writes one line (a trailing newline is not doubled) with the priority its words state, or the
// one given. Thread-safe.
void systemLog(const QString& line);
void systemLog(LogPriority priority, const QString& line);

// printf-style convenience: systemLogf("removing %s", description). Thread-safe.
void systemLogf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes all of `bytes` to standard error with as few write(2) calls as the kernel allows, so
// that a line is never split by a line from another writer of the same descriptor. Thread-safe.
void writeToStandardError(const QByteArray& bytes);

// A line formatted for standard error (newline included) by another logger: written there, or
// sent to the system log with `priority` instead when standard error is the journal. Thread-safe.
void writeStandardErrorLine(LogPriority priority, const QByteArray& line);

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Run first thing in main,
// before anything opens a descriptor: else the first file or connection opened (the X11 display's)
// would become standard error and receive the log lines.
void openClosedStandardDescriptors();

// Looks again at JOURNAL_STREAM and standard error (done once on the first line otherwise), and
// sends the system log lines to the datagram socket at `socketPath` (default /dev/log). For
// start-up after the descriptors are settled, and for tests.
void reviewLogDestinations(const QByteArray& socketPath = "/dev/log");

// Off: diagnostic lines go to the system log only, never to standard error (a command-line
// program, whose standard error carries its own messages to the user). On by default. Thread-safe.
void setDiagnosticsOnStandardError(bool on);

// On: the detailed lines (below warning) are written to standard error too. Off by default unless
// PRINTER_MAINTENANCE_DEBUG is set to a non-zero number. Thread-safe.
void setDetailOnStandardError(bool on);

// Tests capture the lines written here (in addition to syslog and standard error).
using SystemLogSink = void (*)(const QString& line, void* context);
void setSystemLogSink(SystemLogSink sink, void* context);

}  // namespace pm
