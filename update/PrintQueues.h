#pragma once
// The print queues that belong to KTC printers, found in the device list of the print system
// (`lpstat -v`) and removed with `lpadmin -x`. Both tools run with an argument vector, never
// through a shell: queue names are chosen by whoever set the queues up.
//
// Threads: printQueuesForDeviceURIMarker is a pure function [any]; removePrintQueuesForDeviceURIMarker
// blocks its caller while the tools run [any, not main].

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace pm {

// The KTC model's USB model string directly followed by the start of the URI's serial part.
inline constexpr const char* kKTCDeviceURIMarker = "RM-KTC?";

// From `lpstat -v` output ("device for NAME: URI" per line), the names of the queues whose device
// URI contains `marker`, in order and once each. Lines of any other form are ignored.
QStringList printQueuesForDeviceURIMarker(const QByteArray& lpstatOutput, const QString& marker);

// Lists the queues and deletes those whose device URI contains `marker`. Returns the names it
// asked the print system to delete; failures are logged only.
QStringList removePrintQueuesForDeviceURIMarker(const QString& marker);

}  // namespace pm
