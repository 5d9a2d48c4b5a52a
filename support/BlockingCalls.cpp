#include "support/BlockingCalls.h"

#include <atomic>

#include "support/MainQueue.h"
#include "support/NameTables.h"

namespace pm {

namespace {

std::atomic<bool> g_blockingAllowedOnMain{false};

struct NotedCause {
  IOReturn code = kIOReturnSuccess;
  const char* cause = nullptr;
};
thread_local NotedCause t_notedCause;

}  // namespace

void enterBlockingCall(const char* call) {
  Q_ASSERT_X(g_blockingAllowedOnMain.load(std::memory_order_relaxed) || !isMainQueue(), call,
             "a blocking USB call on the main thread");
  Q_UNUSED(call);
  t_notedCause = {};
}

void allowBlockingCallsOnMainThread() { g_blockingAllowedOnMain = true; }

void noteFailureCause(IOReturn mapped, const char* cause) { t_notedCause = {mapped, cause}; }

const char* failureCause(IOReturn result) {
  return result != kIOReturnSuccess && t_notedCause.code == result ? t_notedCause.cause : nullptr;
}

QByteArray resultText(IOReturn result) {
  QByteArray text(stringForIOReturn(result));
  if (const char* cause = failureCause(result)) text += QByteArrayLiteral(" (") + cause + ')';
  return text;
}

}  // namespace pm
