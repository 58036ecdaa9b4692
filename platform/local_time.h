// The local time of day, as the log entries show it.
#pragma once

namespace orvante::platform {

struct TimeOfDay {
    int hour, minute, second;
};
TimeOfDay LocalTimeOfDay();

}  // namespace orvante::platform
