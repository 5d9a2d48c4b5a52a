#pragma once
// The command line of printer-maintenance-cli, parsed into one value. Scripts depend on these
// names, so they never change meaning:
//
//   list [--json] [--wait SECONDS]
//   update (--printer SERIAL ... | --all) [--yes] [--allow-older] [--json]
//   reset-counter --printer SERIAL --counter A|B|M [--yes]
//   usb-serial on|off --printer SERIAL [--yes] [--remove-queues | --keep-queues]
//   history [--json] [--printer SERIAL] [--since DATE] [--limit N]
//   metrics [--output FILE] [--wait SECONDS]
//   --version | --help
//
// Parsing is pure (no I/O), so every rule is checked by the unit test alone. [any]

#include <optional>
#include <variant>

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace pm::cli {

enum class Command { List, Update, ResetCounter, UsbSerial, History, Metrics, Version, Help };

// What to do with this printer's print queues after a USB serial-number change.
enum class QueueChoice { Ask, Remove, Keep };

struct Options {
  Command command = Command::Help;
  bool json = false;
  int waitSeconds = 0;       // list: how much longer to wait for printers still arriving
  QStringList printers;      // --printer, in the order given (serial numbers); history: at most one
  bool all = false;          // update --all
  bool yes = false;          // answers yes to every warning and confirmation
  bool allowOlder = false;   // update: also an older or the same version
  char counter = 0;          // reset-counter: 'A', 'B' or 'M'
  bool usbSerialOn = false;  // usb-serial on|off
  QueueChoice queues = QueueChoice::Ask;
  QDateTime since;  // history --since: entries from then on (local time); invalid: all
  int limit = 100;  // history --limit: the newest this many
  QString output;   // metrics --output: the file replaced; empty: standard output
};

struct UsageError {
  QString message;  // one line, without the program name
};

// `arguments` excludes the program name.
std::variant<Options, UsageError> parseArguments(const QStringList& arguments);

// The --help text.
QString usageText();

}  // namespace pm::cli
