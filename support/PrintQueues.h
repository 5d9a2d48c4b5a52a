#pragma once
// The print queues that point at one USB printer, found in the device list of the print system
// (`lpstat -v`) and removed with `lpadmin -x`. Both tools run with an argument vector, never
// through a shell: queue names are chosen by whoever set the queues up.
//
// A queue points at a printer when its device URI is a USB one ("usb://MAKE/MODEL?...") whose
// model is the printer's USB model string and whose serial number ("serial=...") is one of the
// printer's. A USB URI without a serial number reaches whichever printer of the model comes first,
// so it is not this printer's to remove. Network queues (ipp:, dnssd:, socket:, lpd:, ...) are
// never candidates: they do not depend on the printer's USB serial number.
//
// Threads: the parsers are pure functions [any]; listPrintQueues and removePrintQueues block
// their caller while the tools run [any, not main].

#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace pm {

struct PrintQueue {
  QString name;
  QString deviceURI;
};

// From `lpstat -v` output ("device for NAME: URI" per line), the queues in order and once each.
// Lines of any other form, and names with blanks, are ignored.
QList<PrintQueue> printQueuesFromListing(const QByteArray& lpstatOutput);

// Whether `deviceURI` points at the USB printer with `usbModel` and serial numbers `serials`
// (empty entries ignored). Percent-encoding in the URI is decoded; the model compares without
// regard to case, the serial number exactly.
bool deviceURIPointsAtPrinter(const QString& deviceURI, const QString& usbModel, const QStringList& serials);

// The names of the listed queues that point at the printer, in order.
QStringList printQueuesOfPrinter(const QByteArray& lpstatOutput, const QString& usbModel,
                                 const QStringList& serials);

// `lpstat -v`'s output; nullopt (and the reason logged) when it could not be listed, with the
// reason in the user's words in `why` ("lpstat is not installed", "the print system (CUPS) is
// not running", else the tool's own).
std::optional<QByteArray> listPrintQueues(QString* why = nullptr);

struct PrintQueueRemoval {
  QStringList removed;
  QStringList failed;  // "NAME: reason"
};

// Deletes each named queue with `lpadmin -x NAME` and says which went and which did not.
PrintQueueRemoval removePrintQueues(const QStringList& names);

// False in demo mode (PRINTER_MAINTENANCE_SIMULATE set): the virtual printers have no queues, and
// trying the application out must not change the system's print configuration.
bool printSystemChangesAllowed();

}  // namespace pm
