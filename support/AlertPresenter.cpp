#include "support/AlertPresenter.h"

#include <atomic>

namespace pm {

namespace {
std::atomic<AlertPresenter*> g_presenter{nullptr};
std::atomic<ApplicationControl*> g_application{nullptr};
}  // namespace

AlertPresenter* alertPresenter() { return g_presenter.load(); }
void setAlertPresenter(AlertPresenter* presenter) { g_presenter.store(presenter); }
ApplicationControl* applicationControl() { return g_application.load(); }
void setApplicationControl(ApplicationControl* control) { g_application.store(control); }

}  // namespace pm
