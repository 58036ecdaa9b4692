#include "ui/event_log.h"

#include <ctime>

namespace orvante::ui {

TimeOfDay LocalTimeOfDay() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_hour, local.tm_min, local.tm_sec};
}

std::string FormatLogEntry(const TimeOfDay& time, const std::string& text, const std::uint8_t* data,
                           int count) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    auto twoDigits = [](int value) {
        return std::string{static_cast<char>('0' + value / 10 % 10),
                           static_cast<char>('0' + value % 10)};
    };
    std::string entry = "\r\n" + twoDigits(time.hour) + ":" + twoDigits(time.minute) + ":" +
                        twoDigits(time.second) + " " + text;
    if (data != nullptr && count > 0) {
        entry.reserve(entry.size() + 3 * static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            entry += kHex[data[i] >> 4];
            entry += kHex[data[i] & 0x0F];
            entry += ' ';
        }
    }
    return entry;
}

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
