#include "ui/event_log.h"

namespace orvante::ui {

void EventLog::LogEvent(const std::string& text, const std::uint8_t* data, int count) {
    std::string entry = FormatLogEntry(clock_(), text, data, count);
    WindowThread& thread = window_.Thread();
    if (thread.IsWindowThread()) {
        Append(window_, logId_, entry);
        return;
    }
    // Another thread does not wait for the window: the entry goes whole, after the ones
    // handed over before it. The task holds nothing of this log, which may go first.
    thread.Post([&window = window_, logId = logId_, entry = std::move(entry)] {
        Append(window, logId, entry);
    });
}

void EventLog::Append(Window& window, int logId, const std::string& entry) {
    // The length is judged before the entry goes in. An emptied log starts afresh with
    // the whole entry, time and dump included, like the first entry of a new log.
    if (window.TextLength(logId) > kLogCapacity) {
        window.SetText(logId, entry);
    } else {
        window.AppendText(logId, entry);
    }
}

}  // namespace orvante::ui
