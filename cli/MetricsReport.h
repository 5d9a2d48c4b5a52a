#pragma once
// `printer-maintenance-cli metrics`: the listed printers and their last update outcome in the
// Prometheus text exposition format (version 0.0.4), for node_exporter's textfile collector or any
// scraper reading a file. Every per-printer series is labelled {model, serial}; a value not read
// is left out rather than given as a number it is not. The file is replaced whole (a rename), so
// a collector never reads half of it.
//
// Threads: pure [any], but writeAtomically does I/O on the caller's thread.

#include <QList>
#include <QString>

#include "cli/PrinterReport.h"

namespace pm {
struct UpdateOutcome;
}

namespace pm::cli {

// The printer's status code as a number (0 idle, 1000 cover open, ...), -1 in its firmware update
// mode, nullopt when not read or not a status this program knows.
std::optional<int> statusCodeOf(const std::optional<QString>& statusText);

// `history`: every recorded outcome, oldest first; each printer's last one is reported.
QString metricsText(const QList<PrinterFacts>& printers, const QList<pm::UpdateOutcome>& history);

// Writes `text` to `path` by a rename over it; false (and `error` says why) when it could not.
bool writeAtomically(const QString& path, const QString& text, QString* error);

}  // namespace pm::cli
