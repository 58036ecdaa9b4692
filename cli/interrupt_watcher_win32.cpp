#include <windows.h>

#include <mutex>

#include "cli/interrupt_watcher.h"
#include "platform/thread_failure.h"

namespace orvante::cli {

namespace {

// The console has one handler list for the process; the handler finds the watcher's
// callback here, and the lock keeps it from running while the watcher goes.
std::mutex watcherLock;
std::function<void()> notifyWatcher;

BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT: {
            std::lock_guard lock(watcherLock);
            if (notifyWatcher) platform::RunGuarded("console control", notifyWatcher);
            return TRUE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)) {
    {
        std::lock_guard lock(watcherLock);
        notifyWatcher = [this] { Watch(); };
    }
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

InterruptWatcher::~InterruptWatcher() {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    std::lock_guard lock(watcherLock);
    notifyWatcher = nullptr;
}

// Called on the console's control thread for each Ctrl+C.
void InterruptWatcher::Watch() {
    // One interrupt ends the command; later ones change nothing.
    if (!interrupted_.exchange(true)) onInterrupt_();
}

}  // namespace orvante::cli
