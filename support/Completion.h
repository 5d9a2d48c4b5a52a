#pragma once
// The completion of an asynchronous operation, called exactly once with what the operation
// ended in. Copies share one state (the blocks it travels in are std::function, which copies),
// so the rule holds for the operation, not for one copy: a second call is dropped, and debug
// builds assert on it; debug builds also assert when the last copy goes away never called (an
// operation that ended in silence). An empty completion (the caller wants no answer) is
// allowed and checked the same way.
//
// The one deliberate exception is work a queue gives up as it ends (at exit, when shutting down
// quits it, or once its owner has let it go): the blocks still waiting, and the completions they
// carry, go unrun. Answering them with a failure instead would run the callers' code on a
// controller that is being torn down, and queue more work on queues that are gone. The queue
// says so while it drops them (AbandonedWork); any other uncalled completion is still a fault.
//
// Threads: [any]; a completion is called on whichever thread the operation ends on, which the
// operation's own header names. AbandonedWork: on the thread that drops the work.
#include <atomic>
#include <functional>
#include <memory>
#include <utility>

#include <QCoreApplication>

namespace pm {

// Marks the blocks a queue drops as it ends: completions whose last copy goes on this thread
// meanwhile are given up with their work, not dropped by an operation. A scope, or the rest of a
// queue thread's life once its loop has ended (its timers and objects go after that).
class AbandonedWork {
 public:
  AbandonedWork() { ++depth(); }
  ~AbandonedWork() { --depth(); }
  AbandonedWork(const AbandonedWork&) = delete;
  AbandonedWork& operator=(const AbandonedWork&) = delete;

  static void forRestOfThread() { ++depth(); }
  static bool active() { return depth() > 0; }

 private:
  static int& depth() {
    thread_local int abandoning = 0;
    return abandoning;
  }
};

template <typename... Args>
class Completion {
 public:
  Completion() : state_(std::make_shared<State>()) {}
  template <typename F,
            typename = std::enable_if_t<std::is_constructible_v<std::function<void(Args...)>, F> &&
                                        !std::is_same_v<std::decay_t<F>, Completion>>>
  Completion(F&& block) : state_(std::make_shared<State>()) {  // NOLINT(google-explicit-constructor)
    state_->block = std::function<void(Args...)>(std::forward<F>(block));
  }

  // Runs the block once; a later call runs nothing.
  void operator()(Args... args) const {
    const bool first = !state_->called.exchange(true);
    Q_ASSERT_X(first, "pm::Completion", "completion called twice");
    if (!first) return;
    if (state_->block) {
      // The block may be the last owner of what it captured: it goes once it has run.
      std::function<void(Args...)> block = std::move(state_->block);
      block(std::forward<Args>(args)...);
    }
  }
  bool called() const { return state_->called.load(); }

 private:
  struct State {
    std::function<void(Args...)> block;
    std::atomic<bool> called{false};
    ~State() {
      Q_ASSERT_X(called.load() || AbandonedWork::active() || QCoreApplication::instance() == nullptr ||
                     QCoreApplication::closingDown(),
                 "pm::Completion", "completion dropped without a call");
    }
  };
  std::shared_ptr<State> state_;
};

}  // namespace pm
