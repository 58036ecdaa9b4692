// Delivery of work to the window thread: the one thread that may touch controls.
#pragma once

#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

namespace orvante::ui {

class WindowThread {
public:
    virtual ~WindowThread() = default;

    virtual bool IsWindowThread() const = 0;
    // Runs `task` on the window thread and returns once it has run (at once, inline,
    // when called on the window thread itself).
    virtual void Send(const std::function<void()>& task) = 0;
    // Like Send, but the caller stops waiting once `giveUp` holds (checked on every
    // Wake); the task then still runs later, so it must own what it uses. Returns
    // whether the task has run.
    virtual bool SendUnlessAbandoned(std::function<void()> task,
                                     const std::function<bool()>& giveUp) = 0;
    // Queues `task` for the window thread and returns at once.
    virtual void Post(std::function<void()> task) = 0;
    // On the window thread: returns once `done` holds, running delivered tasks while
    // it waits. `done` is checked again after every task and on every Wake.
    virtual void WaitServing(const std::function<bool()>& done) = 0;
    // Makes a WaitServing look at its condition again.
    virtual void Wake() = 0;
};

// Runs `work` on the window thread and returns what it returns: at once when called
// there, otherwise through Send, the way a sent message reaches a control from any
// thread. The window backends reach their controls through it.
template <class Work>
auto RunOnWindowThread(WindowThread& thread, Work&& work) {
    using Result = std::invoke_result_t<Work&>;
    if (thread.IsWindowThread()) return work();
    if constexpr (std::is_void_v<Result>) {
        thread.Send([&] { work(); });
    } else {
        std::optional<Result> result;
        thread.Send([&] { result.emplace(work()); });
        return std::move(*result);
    }
}

}  // namespace orvante::ui
