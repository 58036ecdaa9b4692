// The reading of the whole numbers the virtual module's options and knobs take.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace orvante::sim {

// All of `text` as a whole number in `base` within min..max, or nothing.
inline std::optional<std::int64_t> ParseWholeNumber(std::string_view text, std::int64_t min,
                                                    std::int64_t max, int base = 10) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < min ||
        value > max) {
        return std::nullopt;
    }
    return value;
}

// The longest time an option or knob takes: an hour.
inline constexpr std::int64_t kMaxMilliseconds = 3'600'000;

}  // namespace orvante::sim
