// Ctrl+C (SIGINT) and SIGTERM for a program with threads: the signals are blocked in
// every thread and taken by one watcher thread, which calls back in ordinary thread
// context, where a session can be cancelled safely.
#pragma once

#include <pthread.h>

#include <atomic>
#include <functional>
#include <thread>

namespace orvante::cli {

class InterruptWatcher {
public:
    // Blocks the signals in the calling thread (threads made later inherit that), and
    // starts watching. Construct it before any other thread is started.
    explicit InterruptWatcher(std::function<void()> onInterrupt);
    // Stops watching and joins the watcher thread.
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    bool Interrupted() const { return interrupted_.load(); }

private:
    void Watch();

    std::function<void()> onInterrupt_;
    std::atomic<bool> interrupted_{false};
    std::thread thread_;
};

}  // namespace orvante::cli
