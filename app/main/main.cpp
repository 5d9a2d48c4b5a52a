// Printer Maintenance: finds the maker's USB photo printers, shows their state and updates their
// firmware. Start-up runs in a fixed order: the controller registers for printers (each joins
// the list once its own queue has read its identity), then the window is localised and shown.



#include <QApplication>

#include "app/DemoMode.h"
#include "app/MainWindow.h"
#include "app/NotificationPort.h"
#include "app/PrinterPicture.h"
#include "app/QtAlertPresenter.h"
#include "app/SelfCheck.h"
#include "app/StartupReport.h"
#include "app/Termination.h"
#include "app/TBPrinters.h"
#include "app/Translations.h"
#include "support/SystemLog.h"
#include "vendor/AlertPresenter.h"

int main(int argc, char** argv) {
  // Started with a standard descriptor closed (`2>&-`), the X11 connection would take it and
  // receive the log lines.
  pm::openClosedStandardDescriptors();
  pm::reviewLogDestinations();
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
  pm::NotificationPort::setFactory([demoSpec] { return pm::DemoMode::makeRegistry(demoSpec); });

  int status = 0;
  {
    TBPrinters controller;
    app.setQuitOnLastWindowClosed(controller.applicationShouldTerminateAfterLastWindowClosed());
    MainWindow window(&controller, demoSpec);
    QtAlertPresenter alerts(&window);
    pm::setAlertPresenter(&alerts);
    pm::setApplicationControl(&alerts);

    controller.awakeFromNib();
    // What registration posted runs before launching finishes; the printers found join the list
    // as their own queues read their identities, while the window is already up.
    QCoreApplication::sendPostedEvents();
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
