// The window thread's inbox, shared by both window backends: other threads hand it
// tasks, the window thread runs them in order.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "ui/window_thread.h"

namespace orvante::ui {

class DeliveryQueue final : public WindowThread {
public:
    // Called from the queuing thread after each task is queued; the Qt backend uses it
    // to have its event loop drain the queue.
    using Notifier = std::function<void()>;

    // The constructing thread is the window thread until BindToCurrentThread.
    DeliveryQueue();
    ~DeliveryQueue() override;

    void SetNotifier(Notifier notifier);
    void BindToCurrentThread();

    bool IsWindowThread() const override;
    void Send(const std::function<void()>& task) override;
    bool SendUnlessAbandoned(std::function<void()> task,
                             const std::function<bool()>& giveUp) override;
    void Post(std::function<void()> task) override;
    void WaitServing(const std::function<bool()>& done) override;
    void Wake() override;

    // Window thread: runs the tasks queued so far; returns how many ran.
    std::size_t RunPending();
    // The same for a window thread that comes back by itself: when it ran something it
    // must call this again soon (a timer), and tasks queued until then do not call the
    // notifier; when it ran nothing, the next task notifies again. A burst of tasks is
    // then run a batch at each return instead of one wake-up a task.
    std::size_t RunPendingAndComeBack();
    // Window thread: waits until a task is queued or the timeout passes; returns
    // whether one is waiting.
    bool WaitForTask(std::chrono::milliseconds timeout);

private:
    struct Task {
        std::function<void()> run;
        std::shared_ptr<bool> done;  // set under mutex_ once run; a Send waits for it
    };

    bool RunOne();
    std::shared_ptr<bool> Enqueue(std::function<void()> task, bool wantDone);
    std::size_t RunQueued(std::size_t queued);

    std::thread::id windowThread_;
    Notifier notifier_;
    mutable std::mutex mutex_;  //!< Protects tasks_, notified_, the done flags and wakeups
    std::condition_variable changed_;
    std::deque<Task> tasks_;
    // The window thread has been notified, or will come back, and runs what is queued:
    // no need to notify it again.
    bool notified_ = false;
};

}  // namespace orvante::ui
