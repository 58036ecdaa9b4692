#include <pthread.h>

#include <csignal>

#include "cli/interrupt_watcher.h"
#include "platform/thread_failure.h"

namespace orvante::cli {

namespace {

// SIGUSR2 is how the destructor ends the watcher's wait.
sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR2);
    return set;
}

}  // namespace

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)) {
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::thread([this] { platform::RunGuarded("signal watcher", [this] { Watch(); }); });
}

InterruptWatcher::~InterruptWatcher() {
    pthread_kill(thread_.native_handle(), SIGUSR2);
    thread_.join();
}

void InterruptWatcher::Watch() {
    const sigset_t set = WatchedSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        if (signal == SIGUSR2) return;
        // One interrupt ends the command; later ones change nothing.
        if (!interrupted_.exchange(true)) onInterrupt_();
    }
}

}  // namespace orvante::cli
