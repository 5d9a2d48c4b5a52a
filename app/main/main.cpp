// Printer Maintenance: finds the maker's USB photo printers, shows their state and updates their
// firmware. Start-up runs in a fixed order: the controller registers for printers (each joins
// the list once its own queue has read its identity), then the window is localised and shown.

#include <cstdio>
#include <cstring>
#include <memory>

#include <QApplication>

#include "app/DemoMode.h"
#include "app/MainWindow.h"
#include "app/NotificationPort.h"
#include "app/PrinterPicture.h"
#include "app/QtAlertPresenter.h"
#include "app/SelfCheck.h"
#include "app/StartupReport.h"
#include "app/TBPrinters.h"
#include "app/Termination.h"
#include "app/Translations.h"
#include "olm/model/ModelConfig.h"
#include "olm/model/UdevRule.h"
#include "support/AlertPresenter.h"
#include "support/Resources.h"
#include "support/SystemLog.h"

namespace {

constexpr int kUsageError = 3;  // as the command-line program's
constexpr const char* kUsage =
    "Usage: printer-maintenance [--help | --version | --print-udev-rule]\n"
    "Shows the connected photo printers and updates their firmware.\n"
    "\n"
    "  --help             this text\n"
    "  --version          the version\n"
    "  --print-udev-rule  the udev rule that lets users reach the printers\n"
    "\n"
    "Environment: PRINTER_MAINTENANCE_SIMULATE=PZA (demo mode with virtual printers),\n"
    "PRINTER_MAINTENANCE_DEBUG=1 (the detailed log on standard error too).\n"
    "The command-line program is printer-maintenance-cli.\n";

// Qt's own messages follow the log's rule: its warnings reach the terminal on one line, its
// debug lines only the system log.
void logQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
  switch (type) {
    case QtDebugMsg:
    case QtInfoMsg:
      pm::systemLog(pm::LogPriority::Debug, message);
      return;
    case QtWarningMsg:
      pm::systemLog(pm::LogPriority::Warning, QStringLiteral("WARN: ") + message);
      return;
    case QtCriticalMsg:
    case QtFatalMsg:
      pm::systemLog(pm::LogPriority::Error, QStringLiteral("ERROR: ") + message);
      return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Started with a standard descriptor closed (`2>&-`), the X11 connection would take it and
  // receive the log lines.
  pm::openClosedStandardDescriptors();
  pm::reviewLogDestinations();
  qInstallMessageHandler(logQtMessage);
  // The deployer's model IDs and admissions hold for everything from here on.
  const QStringList configProblems = pm::loadModelConfig();
  // The rule for the IDs in force, without a window (and without a display).
  if (argc == 2 && std::strcmp(argv[1], "--print-udev-rule") == 0) {
    std::fputs(pm::udevRule(pm::effectiveIds()).toUtf8().constData(), stdout);
    return 0;
  }
  // The few options answer without a window; anything else is refused rather than ignored. Qt's
  // own options (one dash: -platform, -style, ...) are Qt's.
  for (int i = 1; i < argc; ++i) {
    const char* option = argv[i];
    if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(option, "--version") == 0) {
      std::printf("printer-maintenance %s\n", qUtf8Printable(pm::shortVersionString()));
      return 0;
    }
    if (std::strncmp(option, "--", 2) == 0 || option[0] != '-') {
      std::fprintf(stderr, "printer-maintenance: unknown option %s (see --help)\n", option);
      return kUsageError;
    }
    if (std::strcmp(option, "-") == 0) break;
    // Qt's options that take a value take the next argument with them.
    static const char* const kWithValue[] = {
        "-platform",    "-platformpluginpath", "-platformtheme", "-plugin",     "-qwindowgeometry",
        "-qwindowicon", "-qwindowtitle",       "-style",         "-stylesheet", "-session",
        "-display",     "-geometry",           "-title",         "-name"};
    for (const char* withValue : kWithValue)
      if (std::strcmp(option, withValue) == 0) ++i;
  }
  QApplication app(argc, argv);
  // The preference keys live under these names (QSettings).
  QCoreApplication::setOrganizationName(QStringLiteral("printer-maintenance"));
  QCoreApplication::setApplicationName(QStringLiteral("printer-maintenance"));
  // The window is matched to its launcher (and its icon) by this name on Wayland and X11.
  QGuiApplication::setDesktopFileName(QStringLiteral("io.github.printermaintenance.PrinterMaintenance"));
  QApplication::setWindowIcon(pm::applicationIcon());
  pm::installTranslations(app);
  if (pm::selfCheckRequested()) return pm::runSelfCheck();

  const QString demoSpec = pm::DemoMode::simulationSpec();
  // Filled when the controller asks for the registry (awakeFromNib).
  auto demoOutcome = std::make_shared<pm::DemoMode::Outcome>();
  int status = 0;
  {
    TBPrinters controller(
        [demoSpec, demoOutcome] { return pm::DemoMode::makeRegistry(demoSpec, demoOutcome.get()); });
    app.setQuitOnLastWindowClosed(controller.applicationShouldTerminateAfterLastWindowClosed());
    MainWindow window(&controller, demoSpec);
    QtAlertPresenter alerts(&window);
    pm::setAlertPresenter(&alerts);
    pm::setApplicationControl(&alerts);

    controller.awakeFromNib();
    // What registration posted runs before launching finishes; the printers found join the list
    // as their own queues read their identities, while the window is already up.
    QCoreApplication::sendPostedEvents();
    window.reportStartup(configProblems, demoOutcome->attached,
                         pm::DemoMode::refusalText(demoOutcome->refused));
    window.applicationDidFinishLaunching();
    window.show();
    pm::reportFirstExposure(window);
    status = app.exec();

    // Termination emptied the list through the main queue; let that and the deletions it caused
    // run before the objects go.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    pm::setAlertPresenter(nullptr);
    pm::setApplicationControl(nullptr);
  }
  return pm::finishTermination(status);
}
