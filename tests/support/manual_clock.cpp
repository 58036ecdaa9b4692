#include "tests/support/manual_clock.h"

namespace orvante::test {

ManualClock::TimePoint ManualClock::Now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

void ManualClock::WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                            TimePoint deadline) {
    {
        std::lock_guard own(mutex_);
        if (now_ >= deadline) return;
        waiter_ = Waiter{&wake, lock.mutex(), deadline};
    }
    if (observer_) observer_();
    wake.wait(lock);
    std::lock_guard own(mutex_);
    waiter_.reset();
}

std::optional<ManualClock::TimePoint> ManualClock::WaitDeadline() const {
    std::lock_guard lock(mutex_);
    if (!waiter_) return std::nullopt;
    return waiter_->deadline;
}

void ManualClock::AdvanceTo(TimePoint time) {
    std::optional<Waiter> expired;
    {
        std::lock_guard lock(mutex_);
        if (time > now_) now_ = time;
        if (waiter_ && waiter_->deadline <= now_) expired = waiter_;
    }
    if (!expired) return;
    // Through the waiter's mutex, so that the wake-up cannot fall between its look at
    // the time and its wait.
    { std::lock_guard lock(*expired->mutex); }
    expired->wake->notify_all();
}

bool ManualClock::ExpireWait() {
    const std::optional<TimePoint> deadline = WaitDeadline();
    if (deadline) AdvanceTo(*deadline);
    return deadline.has_value();
}

}  // namespace orvante::test
