#pragma once
// A hidden self-check for installers and tests: with the environment variable PM_SELFTEST=1 the
// application prints where it finds its resources, which translation it uses, whether every
// model's firmware archive verifies and whether every model picture is there, then exits (0 when
// all is found, 1 otherwise) before any window or USB access. No user ever needs it.
//
// Threads: [main].

#include <QTextStream>

namespace pm {

bool selfCheckRequested();
// Prints the report to `out`; answers the process exit status.
int runSelfCheck(QTextStream& out);
int runSelfCheck();  // to standard output

}  // namespace pm
