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
#include "support/SystemLog.h"

int main(int argc, char** argv) {
  // Started with a standard descriptor closed (`2>&-`), the X11 connection would take it and
  // receive the log lines.
  pm::openClosedStandardDescriptors();
  pm::reviewLogDestinations();
  // The deployer's model IDs and admissions hold for everything from here on.
  const QStringList configProblems = pm::loadModelConfig();
  // The rule for the IDs in force, without a window (and without a display).
  if (argc == 2 && std::strcmp(argv[1], "--print-udev-rule") == 0) {
    std::fputs(pm::udevRule(pm::effectiveIds()).toUtf8().constData(), stdout);
    return 0;
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
