#include "serial/port_list.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <string>

namespace orvante::serial {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The number at the start of `text` read as strtod reads a decimal one, but in the
// C locale whatever the process locale is, and without hex, "inf" or "nan".
struct DecimalNumber {
    bool negative = false;
    std::string digits;           // integer and fraction digits, without the point
    long long pointPosition = 0;  // digits before the point, after applying the exponent
};

void SkipSpaces(std::string_view* text) {
    constexpr std::string_view kSpaces = " \t\n\v\f\r";
    while (!text->empty() && kSpaces.find(text->front()) != std::string_view::npos) {
        text->remove_prefix(1);
    }
}

bool TakeSign(std::string_view* text) {
    if (text->empty() || (text->front() != '+' && text->front() != '-')) return false;
    const bool negative = text->front() == '-';
    text->remove_prefix(1);
    return negative;
}

std::string_view TakeDigits(std::string_view* text) {
    std::size_t n = 0;
    while (n < text->size() && IsDigit((*text)[n])) ++n;
    const std::string_view digits = text->substr(0, n);
    text->remove_prefix(n);
    return digits;
}

// The exponent after the mantissa, 0 when there is none. Its size is capped: anything
// beyond the cap already drives the result to 0 or to the limit of int.
long long TakeExponent(std::string_view text) {
    if (text.empty() || (text.front() != 'e' && text.front() != 'E')) return 0;
    text.remove_prefix(1);
    const bool negative = TakeSign(&text);
    const std::string_view digits = TakeDigits(&text);
    long long value = 0;
    for (char d : digits) value = std::min(value * 10 + (d - '0'), 1'000'000LL);
    return negative ? -value : value;
}

std::optional<DecimalNumber> ReadDecimal(std::string_view text) {
    DecimalNumber number;
    SkipSpaces(&text);
    number.negative = TakeSign(&text);
    const std::string_view whole = TakeDigits(&text);
    std::string_view fraction;
    if (!text.empty() && text.front() == '.') {
        text.remove_prefix(1);
        fraction = TakeDigits(&text);
    }
    if (whole.empty() && fraction.empty()) return std::nullopt;
    number.digits.append(whole).append(fraction);
    number.pointPosition = static_cast<long long>(whole.size()) + TakeExponent(text);
    return number;
}

// The integer part of the number, saturated at the limits of int.
int TruncateToInt(const DecimalNumber& number) {
    const long long limit = number.negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long value = 0;
    for (long long i = 0; i < number.pointPosition; ++i) {
        const std::size_t index = static_cast<std::size_t>(i);
        if (index >= number.digits.size() && value == 0) break;  // only zeros are left
        const int digit = index < number.digits.size() ? number.digits[index] - '0' : 0;
        value = value * 10 + digit;
        if (value >= limit) {
            value = limit;
            break;
        }
    }
    return static_cast<int>(number.negative ? -value : value);
}

}  // namespace

std::optional<int> PortNumberOf(std::string_view digits) {
    constexpr std::size_t kMaxDigits = 4;
    if (digits.empty() || digits.size() > kMaxDigits || digits.front() == '0' ||
        !std::all_of(digits.begin(), digits.end(), IsDigit)) {
        return std::nullopt;
    }
    int number = 0;
    for (char c : digits) number = number * 10 + (c - '0');
    if (number > kMaxPortNumber) return std::nullopt;
    return number;
}

std::optional<int> ComPortNumber(std::string_view name) {
    constexpr std::string_view kPrefix = "COM";
    if (name.size() < kPrefix.size()) return std::nullopt;
    for (std::size_t i = 0; i < kPrefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != kPrefix[i]) return std::nullopt;
    }
    return PortNumberOf(name.substr(kPrefix.size()));
}

std::string PortItemText(int number, const PortEntry& entry) {
    return "COM" + std::to_string(number) + " (" + entry.displayName + ")";
}

int PortNumberFromName(std::string_view text) {
    if (text.size() <= 3) return 0;
    const auto number = ReadDecimal(text.substr(3));
    return number ? TruncateToInt(*number) : 0;
}

int BaudRateTable(int index) {
    static constexpr std::array<int, kBaudRateCount> kRates = {
        300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 43000, 56000, 57600, 115200, 230400};
    if (index < 0 || index >= kBaudRateCount) return 0;
    return kRates[static_cast<std::size_t>(index)];
}

}  // namespace orvante::serial
