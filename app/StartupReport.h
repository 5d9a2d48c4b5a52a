#pragma once
// A hook for measuring start-up from outside (bench/bench_startup). With the environment variable
// PRINTER_MAINTENANCE_REPORT_SHOWN set, the application writes "shown <µs>" on standard output when
// its main window is first exposed (the time on the system-wide monotonic clock, CLOCK_MONOTONIC)
// and quits the variable's value in milliseconds later (a value that is no number: it stays).
// Without the variable nothing happens.
//
// Threads: [main].

class QWidget;

namespace pm {

// Watches `window` (already shown) when the variable is set; the watcher belongs to the window.
void reportFirstExposure(QWidget& window);

}  // namespace pm
