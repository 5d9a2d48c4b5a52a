// printer-maintenance-cli: the window's work without a window, for fleets of printers run over SSH
// and from configuration management. The same controller, printer objects and update run here;
// questions go to the terminal (or are answered by --yes), results to standard output.

#include <signal.h>

#include <cstdio>

#include <QCoreApplication>

#include "app/DemoMode.h"
#include "app/NotificationPort.h"
#include "app/Termination.h"
#include "app/Translations.h"
#include "cli/CliOptions.h"
#include "cli/CliRun.h"
#include "olm/model/ModelConfig.h"
#include "support/AlertPresenter.h"
#include "support/Resources.h"
#include "support/SerialQueue.h"
#include "support/SystemLog.h"

int main(int argc, char** argv) {
  pm::openClosedStandardDescriptors();
  // A reader that went away (`update --json | head -1`, a dropped SSH session) must not end a
  // change half-way: writes to it fail and are dropped, the work goes on to its end.
  ::signal(SIGPIPE, SIG_IGN);
  // Diagnostics go to the system log (journalctl -t printer-maintenance-cli); standard error
  // carries this program's own words. PRINTER_MAINTENANCE_DEBUG=1 shows them there too.
  pm::setDiagnosticsOnStandardError(qEnvironmentVariableIntValue("PRINTER_MAINTENANCE_DEBUG") != 0);
  QCoreApplication app(argc, argv);
  // The preferences and state are the window's: both programs run the same updates.
  QCoreApplication::setOrganizationName(QStringLiteral("printer-maintenance"));
  QCoreApplication::setApplicationName(QStringLiteral("printer-maintenance"));
  QCoreApplication::setApplicationVersion(pm::shortVersionString());
  // The window's catalogue, chosen by the locale as the window chooses it (LANG=de_DE.UTF-8).
  pm::installTranslations(app);

  QStringList arguments = QCoreApplication::arguments();
  arguments.removeFirst();
  const auto parsed = pm::cli::parseArguments(arguments);
  if (const auto* usage = std::get_if<pm::cli::UsageError>(&parsed)) {
    std::fprintf(stderr, "printer-maintenance-cli: %s\n", qUtf8Printable(usage->message));
    return pm::cli::kUsage;
  }

  // The deployer's model IDs and admissions; a problem is in the log, and said here once.
  for (const QString& problem : pm::loadModelConfig())
    std::fprintf(stderr, "printer-maintenance-cli: model configuration: %s; skipped\n",
                 qUtf8Printable(problem));

  int status = 0;
  {
    pm::cli::CliRun run(std::get<pm::cli::Options>(parsed));
    status = run.exec();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  return pm::finishTermination(status);
}
