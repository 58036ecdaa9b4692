// The operator's running record: every frame and every step, each on its own line
// behind the local time, in the log edit of the main window.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "protocol/log_entry.h"
#include "ui/framework.h"

namespace orvante::ui {

using platform::LocalTimeOfDay;
using platform::TimeOfDay;
using protocol::FormatLogEntry;
using TimeSource = std::function<TimeOfDay()>;

// The log keeps below this many code-page-936 bytes plus one entry: an entry that
// starts while it holds more empties it first.
inline constexpr std::size_t kLogCapacity = 29999;

class EventLog {
public:
    EventLog(Window& window, int logId, TimeSource clock = LocalTimeOfDay)
        : window_(window), logId_(logId), clock_(std::move(clock)) {}

    // Appends an entry; a count of 0 or less means no dump. Callable from any thread:
    // from another one the entry is handed to the window thread whole, without waiting,
    // so entries never interleave and each thread's stay in order.
    void LogEvent(const std::string& text, const std::uint8_t* data = nullptr, int count = 0);

private:
    static void Append(Window& window, int logId, const std::string& entry);

    Window& window_;
    int logId_;
    TimeSource clock_;
};

}  // namespace orvante::ui
