#include "cli/CliOptions.h"

#include <QCoreApplication>

namespace pm::cli {

namespace {

struct Parser {
  QStringList args;
  int at = 0;

  bool atEnd() const { return at >= args.size(); }
  QString next() { return args.at(at++); }
  // The value of an option: the next argument, or the text after '=' ("--wait=5").
  std::optional<QString> valueOf(const std::optional<QString>& inlineValue) {
    if (inlineValue) return inlineValue;
    if (atEnd()) return std::nullopt;
    return next();
  }
};

UsageError error(const QString& text) { return UsageError{text}; }

}  // namespace

std::variant<Options, UsageError> parseArguments(const QStringList& arguments) {
  Options options;
  if (arguments.isEmpty())
    return error(QCoreApplication::translate("CliOptions", "no command given (try --help)"));

  Parser p{arguments};
  const QString command = p.next();
  if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
      command == QLatin1String("help")) {
    options.command = Command::Help;
    return options;
  }
  if (command == QLatin1String("--version")) {
    options.command = Command::Version;
    return options;
  }
  if (command == QLatin1String("list")) options.command = Command::List;
  else if (command == QLatin1String("update")) options.command = Command::Update;
  else if (command == QLatin1String("reset-counter")) options.command = Command::ResetCounter;
  else if (command == QLatin1String("usb-serial")) options.command = Command::UsbSerial;
  else if (command == QLatin1String("history")) options.command = Command::History;
  else if (command == QLatin1String("metrics")) options.command = Command::Metrics;
  else
    return error(
        QCoreApplication::translate("CliOptions", "unknown command \"%1\" (try --help)").arg(command));

  if (options.command == Command::UsbSerial) {
    if (p.atEnd())
      return error(QCoreApplication::translate("CliOptions", "usb-serial needs \"on\" or \"off\""));
    const QString state = p.next();
    if (state == QLatin1String("on")) options.usbSerialOn = true;
    else if (state == QLatin1String("off")) options.usbSerialOn = false;
    else
      return error(QCoreApplication::translate("CliOptions", "usb-serial needs \"on\" or \"off\", not \"%1\"")
                       .arg(state));
  }

  // Which options each command takes.
  const auto takes = [&](const QString& option) {
    switch (options.command) {
      case Command::List:
        return option == QLatin1String("--json") || option == QLatin1String("--wait");
      case Command::Update:
        return option == QLatin1String("--printer") || option == QLatin1String("--all") ||
               option == QLatin1String("--yes") || option == QLatin1String("--allow-older") ||
               option == QLatin1String("--json");
      case Command::ResetCounter:
        return option == QLatin1String("--printer") || option == QLatin1String("--counter") ||
               option == QLatin1String("--yes");
      case Command::UsbSerial:
        return option == QLatin1String("--printer") || option == QLatin1String("--yes") ||
               option == QLatin1String("--remove-queues") || option == QLatin1String("--keep-queues");
      case Command::History:
        return option == QLatin1String("--json") || option == QLatin1String("--printer") ||
               option == QLatin1String("--since") || option == QLatin1String("--limit");
      case Command::Metrics:
        return option == QLatin1String("--output") || option == QLatin1String("--wait");
      default:
        return false;
    }
  };

  bool queuesGiven = false;
  while (!p.atEnd()) {
    QString option = p.next();
    std::optional<QString> inlineValue;
    if (const qsizetype eq = option.indexOf(QLatin1Char('='));
        option.startsWith(QLatin1String("--")) && eq > 0) {
      inlineValue = option.mid(eq + 1);
      option.truncate(eq);
    }
    if (!takes(option)) {
      return error(option.startsWith(QLatin1Char('-'))
                       ? QCoreApplication::translate("CliOptions", "%1 does not take %2").arg(command, option)
                       : QCoreApplication::translate("CliOptions", "unexpected argument \"%1\"").arg(option));
    }
    const bool flag = option != QLatin1String("--wait") && option != QLatin1String("--printer") &&
                      option != QLatin1String("--counter") && option != QLatin1String("--since") &&
                      option != QLatin1String("--limit") && option != QLatin1String("--output");
    if (flag && inlineValue)
      return error(QCoreApplication::translate("CliOptions", "%1 takes no value").arg(option));

    if (option == QLatin1String("--json")) {
      options.json = true;
    } else if (option == QLatin1String("--yes")) {
      options.yes = true;
    } else if (option == QLatin1String("--all")) {
      options.all = true;
    } else if (option == QLatin1String("--allow-older")) {
      options.allowOlder = true;
    } else if (option == QLatin1String("--remove-queues") || option == QLatin1String("--keep-queues")) {
      if (queuesGiven)
        return error(
            QCoreApplication::translate("CliOptions", "give only one of --remove-queues and --keep-queues"));
      queuesGiven = true;
      options.queues = option == QLatin1String("--remove-queues") ? QueueChoice::Remove : QueueChoice::Keep;
    } else if (option == QLatin1String("--wait")) {
      const std::optional<QString> value = p.valueOf(inlineValue);
      bool ok = false;
      const int seconds = value ? value->toInt(&ok) : 0;
      if (!ok || seconds < 0 || seconds > 3600)
        return error(
            QCoreApplication::translate("CliOptions", "--wait needs a number of seconds from 0 to 3600"));
      options.waitSeconds = seconds;
    } else if (option == QLatin1String("--printer")) {
      const std::optional<QString> value = p.valueOf(inlineValue);
      if (!value || value->trimmed().isEmpty() || value->startsWith(QLatin1String("--")))
        return error(QCoreApplication::translate("CliOptions", "--printer needs a serial number"));
      options.printers.append(value->trimmed());
    } else if (option == QLatin1String("--since")) {
      // A day (from its start) or a moment, in ISO 8601, local time unless it says otherwise.
      const QString value = p.valueOf(inlineValue).value_or(QString());
      const QDate day = QDate::fromString(value, Qt::ISODate);
      options.since = day.isValid() ? day.startOfDay() : QDateTime::fromString(value, Qt::ISODate);
      if (!options.since.isValid())
        return error(QCoreApplication::translate("CliOptions", "--since needs a date such as 2026-12-01"));
    } else if (option == QLatin1String("--limit")) {
      const std::optional<QString> value = p.valueOf(inlineValue);
      bool ok = false;
      const int limit = value ? value->toInt(&ok) : 0;
      if (!ok || limit < 1 || limit > 100000)
        return error(QCoreApplication::translate("CliOptions", "--limit needs a number from 1 to 100000"));
      options.limit = limit;
    } else if (option == QLatin1String("--output")) {
      const std::optional<QString> value = p.valueOf(inlineValue);
      if (!value || value->isEmpty() || value->startsWith(QLatin1String("--")))
        return error(QCoreApplication::translate("CliOptions", "--output needs a file name"));
      options.output = *value;
    } else if (option == QLatin1String("--counter")) {
      const std::optional<QString> value = p.valueOf(inlineValue);
      if (!value || value->size() != 1 || !QStringLiteral("ABM").contains(value->toUpper()))
        return error(QCoreApplication::translate("CliOptions", "--counter needs A, B or M"));
      options.counter = value->toUpper().at(0).toLatin1();
    }
  }

  switch (options.command) {
    case Command::Update:
      if (options.all == !options.printers.isEmpty())
        return error(QCoreApplication::translate(
            "CliOptions", "update needs either --printer SERIAL (one or more) or --all"));
      break;
    case Command::ResetCounter:
      if (options.printers.size() != 1)
        return error(QCoreApplication::translate("CliOptions", "reset-counter needs one --printer SERIAL"));
      if (!options.counter)
        return error(QCoreApplication::translate("CliOptions", "reset-counter needs --counter A, B or M"));
      break;
    case Command::UsbSerial:
      if (options.printers.size() != 1)
        return error(QCoreApplication::translate("CliOptions", "usb-serial needs one --printer SERIAL"));
      break;
    case Command::History:
      if (options.printers.size() > 1)
        return error(QCoreApplication::translate("CliOptions", "history takes one --printer SERIAL"));
      break;
    default:
      break;
  }
  return options;
}

QString usageText() {
  return QCoreApplication::translate(
      "CliOptions",
      "Usage: printer-maintenance-cli COMMAND [OPTIONS]\n"
      "\n"
      "Lists, updates, resets and switches the USB photo printers attached to this machine.\n"
      "\n"
      "Commands:\n"
      "  list [--json] [--wait SECONDS]\n"
      "      Waits until the printers present are read, then lists them.\n"
      "  update (--printer SERIAL ... | --all) [--yes] [--allow-older] [--json]\n"
      "      The whole firmware and colour-table update of each printer, in parallel.\n"
      "  reset-counter --printer SERIAL --counter A|B|M [--yes]\n"
      "  usb-serial on|off --printer SERIAL [--yes] [--remove-queues | --keep-queues]\n"
      "  history [--json] [--printer SERIAL] [--since DATE] [--limit N]\n"
      "      The update outcomes recorded on this machine, newest first (the last 100 unless --limit).\n"
      "  metrics [--output FILE] [--wait SECONDS]\n"
      "      The printers' state in the Prometheus text format; FILE is replaced whole.\n"
      "  --version | --help\n"
      "\n"
      "Options:\n"
      "  --json           machine-readable output on standard output (update: one object a line,\n"
      "                   one result per printer, a summary last)\n"
      "  --wait SECONDS   look that much longer for printers still arriving\n"
      "  --yes            answer yes to every question (print queues are kept)\n"
      "  --allow-older    update also to an older or the same firmware version\n"
      "  --remove-queues  remove this printer's print queues without asking\n"
      "  --keep-queues    keep them without asking\n"
      "  --since DATE     history: only from that day (ISO 8601, e.g. 2026-12-01) on\n"
      "  --limit N        history: at most N entries (1 to 100000)\n"
      "\n"
      "Questions are asked on the terminal (y/N); without one and without --yes, nothing is written.\n"
      "Ctrl+C during an update stops it at the next safe point; running it again finishes it.\n"
      "\n"
      "Each printer's result: updated, up-to-date, busy, declined, failed, stopped or not-found.\n"
      "\n"
      "Exit status: 0 every selected printer updated or up to date (or the command done),\n"
      "1 any failed, stopped, busy or not found, 2 nothing written by your choice (declined,\n"
      "or no terminal to ask), 3 usage error, 4 no printer matched.\n"
      "\n"
      "PRINTER_MAINTENANCE_SIMULATE=PZA runs on virtual printers (demo mode), which keep their\n"
      "state between runs; PRINTER_MAINTENANCE_SIMULATE_RESET=1 starts them afresh.\n");
}

}  // namespace pm::cli
