// A clock for the library transfer's reply time-outs that the test moves: time stands
// still until the test says otherwise, so no time-out happens by itself.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

#include "library/library_transfer.h"

namespace orvante::test {

class ManualClock final : public library::TransferClock {
public:
    TimePoint Now() const override;
    void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                   TimePoint deadline) override;

    // The deadline of the wait going on, if one is.
    std::optional<TimePoint> WaitDeadline() const;
    bool IsWaiting() const { return WaitDeadline().has_value(); }
    // Moves the time on (never back); a wait whose deadline has come then times out.
    void AdvanceTo(TimePoint time);
    // Lets the wait going on time out; false when there is none.
    bool ExpireWait();
    // Told whenever a wait begins, on the waiting thread.
    void SetWaitObserver(std::function<void()> observer) { observer_ = std::move(observer); }

private:
    struct Waiter {
        std::condition_variable* wake;
        std::mutex* mutex;
        TimePoint deadline;
    };

    mutable std::mutex mutex_;  //!< Protects now_ and waiter_
    TimePoint now_{};
    std::optional<Waiter> waiter_;
    std::function<void()> observer_;
};

}  // namespace orvante::test
