#include "support/AlertPresenter.h"

#include <atomic>

namespace pm {

namespace {
std::atomic<AlertPresenter*> g_presenter{nullptr};
std::atomic<ApplicationControl*> g_application{nullptr};
}  // namespace

AlertAnswer decliningAnswer(const AlertRequest& request) {
  AlertAnswer answer;
  if (request.escapeButton >= 0) {
    answer.returnCode = kAlertFirstButtonReturn + request.escapeButton;
  } else if (request.dismissable) {
    answer.dismissed = true;
  } else {
    int button = 0;
    while (button < request.buttons.size() && button == request.acceptButton) ++button;
    answer.returnCode = kAlertFirstButtonReturn + button;
  }
  return answer;
}

AlertPresenter* alertPresenter() { return g_presenter.load(); }
void setAlertPresenter(AlertPresenter* presenter) { g_presenter.store(presenter); }
ApplicationControl* applicationControl() { return g_application.load(); }
void setApplicationControl(ApplicationControl* control) { g_application.store(control); }

}  // namespace pm
