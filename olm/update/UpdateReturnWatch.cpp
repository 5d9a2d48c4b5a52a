#include "olm/update/UpdateReturnWatch.h"

#include <QCoreApplication>
#include <QHash>
#include <QPointer>
#include <QTimer>

#include "support/AlertPresenter.h"
#include "support/MainQueue.h"
#include "support/SystemLog.h"

namespace pm {

namespace {

constexpr int kDefaultTimeoutMs = 90 * 1000;

// Main thread only. The timers are children of the application, so none outlives it.
struct WatchState {
  QHash<QString, QPointer<QTimer>> timers;
  int timeoutMs = kDefaultTimeoutMs;
};

WatchState& state() {
  static WatchState s;
  return s;
}

void stop(const QString& deviceKey) {
  const QPointer<QTimer> timer = state().timers.take(deviceKey);
  if (timer) timer->deleteLater();
}

// The watch speaks for the printer class: its texts share that class's translations.
struct Texts {
  Q_DECLARE_TR_FUNCTIONS(TBUSBPrinterOLM)
};

void tellUser(UpdateReturnWatch::Step step, const QImage& icon, const QString& printerName) {
  const int seconds = UpdateReturnWatch::timeoutMs() / 1000;
  AlertRequest request;
  request.title = Texts::tr("The printer has not come back");
  request.message =
      (step == UpdateReturnWatch::Step::RewriteRequest
           ? Texts::tr(
                 "The printer was asked to restart into its firmware update mode %1 seconds ago and has "
                 "not returned.")
           : Texts::tr("The new firmware was sent to the printer %1 seconds ago and the printer has not "
                       "restarted."))
          .arg(seconds) +
      QStringLiteral("\n\n") +
      Texts::tr(
          "Please switch the printer off and on again and keep it connected. The update continues "
          "when the printer returns. Contact customer support if it does not return.");
  request.buttons = {Texts::tr("OK")};
  request.icon = icon;
  request.printerName = printerName;
  if (AlertPresenter* presenter = alertPresenter()) presenter->present(request, nullptr);
}

}  // namespace

void UpdateReturnWatch::expect(const QString& deviceKey, Step step, const QImage& icon,
                               const QString& printerName, std::function<void()> timedOut) {
  performAsyncOnMainQueue([deviceKey, step, icon, printerName, timedOut = std::move(timedOut)] {
    stop(deviceKey);
    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, timer, [deviceKey, step, icon, printerName, timedOut] {
      stop(deviceKey);
      systemLog(QStringLiteral("printer %1 has not come back after %2")
                    .arg(deviceKey, step == Step::RewriteRequest ? QStringLiteral("the rewrite request")
                                                                 : QStringLiteral("the upload")));
      tellUser(step, icon, printerName);
      if (timedOut) timedOut();
    });
    state().timers.insert(deviceKey, timer);
    timer->start(state().timeoutMs);
  });
}

void UpdateReturnWatch::arrived(const QString& deviceKey) {
  Q_ASSERT(isMainQueue());
  stop(deviceKey);
}

bool UpdateReturnWatch::isWatching(const QString& deviceKey) {
  Q_ASSERT(isMainQueue());
  return !state().timers.value(deviceKey).isNull();
}

int UpdateReturnWatch::timeoutMs() { return state().timeoutMs; }

void UpdateReturnWatch::setTimeoutMs(int timeoutMs) {
  Q_ASSERT(isMainQueue());
  state().timeoutMs = timeoutMs;
}

}  // namespace pm
