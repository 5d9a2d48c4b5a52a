#include "app/StartupReport.h"

#include <time.h>

#include <cstdio>

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace pm {

namespace {

class ExposureWatcher final : public QObject {
 public:
  ExposureWatcher(QWidget& window, int quitAfterMs) : QObject(&window), quitAfterMs_(quitAfterMs) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* window = qobject_cast<QWindow*>(watched);
    if (event->type() == QEvent::Expose && window && window->isExposed()) {
      timespec now{};
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      std::printf("shown %lld\n", static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
      std::fflush(stdout);
      window->removeEventFilter(this);
      if (quitAfterMs_ >= 0) QTimer::singleShot(quitAfterMs_, qApp, &QCoreApplication::quit);
    }
    return false;
  }

 private:
  const int quitAfterMs_;
};

}  // namespace

void reportFirstExposure(QWidget& window) {
  if (!qEnvironmentVariableIsSet("PRINTER_MAINTENANCE_REPORT_SHOWN") || !window.windowHandle()) return;
  bool isNumber = false;
  const int quitAfterMs = qEnvironmentVariableIntValue("PRINTER_MAINTENANCE_REPORT_SHOWN", &isNumber);
  window.windowHandle()->installEventFilter(new ExposureWatcher(window, isNumber ? quitAfterMs : -1));
}

}  // namespace pm
