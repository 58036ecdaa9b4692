#include "ui/delivery_queue.h"

namespace orvante::ui {

DeliveryQueue::DeliveryQueue() : windowThread_(std::this_thread::get_id()) {}

// Tasks still queued are dropped, not run: what they refer to may already be gone.
// Every thread that delivers here has ended before the window goes.
DeliveryQueue::~DeliveryQueue() = default;

void DeliveryQueue::SetNotifier(Notifier notifier) {
    std::lock_guard lock(mutex_);
    notifier_ = std::move(notifier);
}

void DeliveryQueue::BindToCurrentThread() {
    std::lock_guard lock(mutex_);
    windowThread_ = std::this_thread::get_id();
}

bool DeliveryQueue::IsWindowThread() const {
    std::lock_guard lock(mutex_);
    return std::this_thread::get_id() == windowThread_;
}

std::shared_ptr<bool> DeliveryQueue::Enqueue(std::function<void()> task, bool wantDone) {
    auto done = wantDone ? std::make_shared<bool>(false) : nullptr;
    Notifier notify;
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(Task{std::move(task), done});
        if (notifier_ && !notified_) {
            notified_ = true;
            notify = notifier_;
        }
    }
    changed_.notify_all();
    if (notify) notify();
    return done;
}

void DeliveryQueue::Send(const std::function<void()>& task) {
    if (IsWindowThread()) {
        task();
        return;
    }
    auto done = Enqueue(task, true);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return *done; });
}

bool DeliveryQueue::SendUnlessAbandoned(std::function<void()> task,
                                        const std::function<bool()>& giveUp) {
    if (IsWindowThread()) {
        task();
        return true;
    }
    auto done = Enqueue(std::move(task), true);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return *done || giveUp(); });
    return *done;
}

void DeliveryQueue::Post(std::function<void()> task) {
    Enqueue(std::move(task), false);
}

bool DeliveryQueue::RunOne() {
    Task task;
    {
        std::lock_guard lock(mutex_);
        if (tasks_.empty()) return false;
        task = std::move(tasks_.front());
        tasks_.pop_front();
    }
    // Mark the task done even if it throws, so that its sender does not wait forever.
    struct MarkDone {
        DeliveryQueue* queue;
        std::shared_ptr<bool> done;
        ~MarkDone() {
            if (!done) return;
            {
                std::lock_guard lock(queue->mutex_);
                *done = true;
            }
            queue->changed_.notify_all();
        }
    } markDone{this, std::move(task.done)};
    task.run();
    return true;
}

std::size_t DeliveryQueue::RunPending() {
    std::size_t queued;
    {
        std::lock_guard lock(mutex_);
        notified_ = false;
        queued = tasks_.size();
    }
    return RunQueued(queued);
}

std::size_t DeliveryQueue::RunPendingAndComeBack() {
    std::size_t queued;
    {
        std::lock_guard lock(mutex_);
        queued = tasks_.size();
        notified_ = queued > 0;
    }
    return RunQueued(queued);
}

std::size_t DeliveryQueue::RunQueued(std::size_t queued) {
    // Only what was queued on entry: a task that queues another does not keep us here.
    std::size_t ran = 0;
    while (ran < queued && RunOne()) ++ran;
    return ran;
}

void DeliveryQueue::WaitServing(const std::function<bool()>& done) {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return !tasks_.empty() || done(); });
            if (done()) return;
        }
        RunOne();
    }
}

void DeliveryQueue::Wake() {
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
}

bool DeliveryQueue::WaitForTask(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return !tasks_.empty(); });
}

}  // namespace orvante::ui
