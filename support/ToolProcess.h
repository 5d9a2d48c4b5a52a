#pragma once
// Runs a command-line tool to its end with an argument vector (never through a shell) and
// collects what it wrote.
//
// Tools are started with posix_spawnp(3), not QProcess: Qt starts children with a clone that
// shares the parent's memory until exec, which ThreadSanitizer's clone handling takes for a fork
// and which then loses the ordering between the calling thread and every other thread (it reports
// races that are not there). posix_spawn is a call it follows.
//
// Threads: any thread; runTool blocks its caller while the tool runs, bounded by the time-out.

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QStringList>

namespace pm {

struct ToolResult {
  bool started = false;   // the program was found and started
  bool finished = false;  // it ended on its own within the time-out (else it was killed)
  int exitCode = -1;      // its exit status, or 128 + the signal that ended it
  QByteArray standardOutput;
  QByteArray standardError;
  QString error;  // why it did not start or did not finish; empty otherwise

  bool succeeded() const { return finished && exitCode == 0; }
};

// Runs `program` (looked up on PATH) with `arguments`, standard input from /dev/null, in this
// process's environment with `environment` ("NAME=VALUE" entries) put over it, in a process
// group of its own. A tool still running after `timeoutMs` is killed with its group.
ToolResult runTool(const QString& program, const QStringList& arguments, int timeoutMs,
                   const QByteArrayList& environment = {});

// At quit: kills every tool still running (with its group) and lets no new one start; their
// runTool calls return at once. Answers how many were running.
int endRunningTools();

}  // namespace pm
