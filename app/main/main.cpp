// Printer Maintenance: finds the maker's USB photo printers, shows their state and updates their
// firmware. Start-up runs in a fixed order: the controller registers for printers (each joins
// the list once its own queue has read its identity), then the window is localised and shown.

#include <unistd.h>

#include <cstdio>

#include <QApplication>

#include "app/DemoMode.h"
#include "app/MainWindow.h"
#include "app/NotificationPort.h"
#include "app/PrinterPicture.h"
#include "app/QtAlertPresenter.h"
#include "app/SelfCheck.h"
#include "app/StartupReport.h"
#include "app/TBPrinters.h"
#include "app/Translations.h"
#include "support/SerialQueue.h"
#include "support/SystemLog.h"
#include "support/ToolProcess.h"
#include "vendor/AlertPresenter.h"

namespace {
// How long quitting waits for the printers' queues: together with the rest of the teardown, Quit
// ends the process within 200 ms.
constexpr int kQueueShutdownMs = 100;
}  // namespace

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
  // Tools still running (a hanging lpstat) end now; the printers were let go at termination, so
  // their queues end after the block each one runs.
  pm::endRunningTools();
  if (!pm::SerialQueue::shutdownAll(kQueueShutdownMs)) {
    // A queue is still inside a device call (bounded by its time-out, but too long to wait for).
    // Freeing the registry or the main queue under it would crash it: end the process here.
    pm::systemLogf("quitting with a printer queue still in a USB call");
    std::fflush(nullptr);
    ::_exit(status);
  }
  // The printers' deletions were handed to the main queue; they end their registrations before
  // the registry goes.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  pm::NotificationPort::reclaim();
  return status;
}
