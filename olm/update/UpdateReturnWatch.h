#pragma once
// UpdateReturnWatch: after the update asks a printer to restart (the rewrite request, the
// upload), the printer object that asked is gone until the printer returns as a new one. This
// watch, kept per device key for the life of the process, tells the user when the printer has not
// come back within a generous bound, and what to do. It changes nothing in the update itself: the
// recorded stage still carries the update on whenever the printer returns.
//
// Threads: expect() [any]; everything else [main].

#include <functional>

#include <QImage>
#include <QString>

namespace pm {

class UpdateReturnWatch {
 public:
  UpdateReturnWatch() = delete;

  enum class Step { RewriteRequest, Upload };

  // Starts (or restarts) the watch for a device key. [any]
  // `printerName` names the printer in the alert; `timedOut` (may be null) runs on the main thread
  // when the alert is raised (the asking printer object, if it never left, stops showing a phase).
  static void expect(const QString& deviceKey, Step step, const QImage& icon, const QString& printerName = {},
                     std::function<void()> timedOut = nullptr);
  // The printer of that key is back: the watch ends silently. [main]
  static void arrived(const QString& deviceKey);
  // Whether a watch runs for the key. [main]
  static bool isWatching(const QString& deviceKey);

  // The bound, 90 s unless a test shortens it. [main]
  static int timeoutMs();
  static void setTimeoutMs(int timeoutMs);
};

}  // namespace pm
