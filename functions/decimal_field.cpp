#include "functions/decimal_field.h"

#include <algorithm>
#include <limits>

namespace orvante::functions {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::int32_t ParseDecimalField(std::string_view text) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();

    std::size_t at = 0;
    while (at < text.size() && IsBlank(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    // Accumulate no further than one past the 32-bit magnitude, so that any number of
    // digits fits in 64 bits.
    std::int64_t magnitude = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) {
        magnitude = std::min(magnitude * 10 + (text[at] - '0'), -kMin);
    }
    return static_cast<std::int32_t>(negative ? std::max(-magnitude, kMin)
                                              : std::min(magnitude, kMax));
}

}  // namespace orvante::functions
