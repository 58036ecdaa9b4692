#include "protocol/log_entry.h"

namespace orvante::protocol {

std::string FormatLogEntry(const platform::TimeOfDay& time, const std::string& text,
                           const std::uint8_t* data, int count) {
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

}  // namespace orvante::protocol
