// Ctrl+C for a program with threads, called back in ordinary thread context, where a
// session can be cancelled safely. On Linux SIGINT and SIGTERM are blocked in every
// thread and taken by one watcher thread; on Windows the console's control handler
// (Ctrl+C, Ctrl+Break, the console closing) runs on a thread of its own already.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace orvante::cli {

class InterruptWatcher {
public:
    // Starts watching; on Linux it blocks the signals in the calling thread (threads
    // made later inherit that). Construct it before any other thread is started.
    explicit InterruptWatcher(std::function<void()> onInterrupt);
    // Stops watching; once it returns, no callback runs any more.
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    bool Interrupted() const { return interrupted_.load(); }

private:
    void Watch();

    std::function<void()> onInterrupt_;
    std::atomic<bool> interrupted_{false};
    std::thread thread_;  // the watcher thread on Linux
};

}  // namespace orvante::cli
