#include "serial/line_settings.h"

#include <cctype>
#include <charconv>

namespace orvante::serial {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

void SkipBlanks(std::string_view* text) {
    while (!text->empty() && IsBlank(text->front())) text->remove_prefix(1);
}

// Takes `key` followed by '=' at the front of *text.
bool TakeKey(std::string_view* text, std::string_view key) {
    if (text->size() <= key.size() || text->substr(0, key.size()) != key ||
        (*text)[key.size()] != '=') {
        return false;
    }
    text->remove_prefix(key.size() + 1);
    return true;
}

// A field ends at a blank or at the end of the text.
bool AtFieldEnd(std::string_view text) {
    return text.empty() || IsBlank(text.front());
}

// Takes an unsigned decimal number (no sign, no blanks) that fills the whole field.
std::optional<int> TakeNumber(std::string_view* text) {
    if (text->empty() || !std::isdigit(static_cast<unsigned char>(text->front()))) {
        return std::nullopt;
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc()) return std::nullopt;  // too large for int
    text->remove_prefix(static_cast<std::size_t>(end - text->data()));
    if (!AtFieldEnd(*text)) return std::nullopt;
    return value;
}

std::optional<char> TakeParity(std::string_view* text) {
    if (text->empty()) return std::nullopt;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text->front())));
    text->remove_prefix(1);
    if (!AtFieldEnd(*text)) return std::nullopt;
    if (letter != 'N' && letter != 'O' && letter != 'E') return std::nullopt;
    return letter;
}

std::optional<int> TakeNumberField(std::string_view* text, std::string_view key) {
    SkipBlanks(text);
    if (!TakeKey(text, key)) return std::nullopt;
    return TakeNumber(text);
}

}  // namespace

std::string FormatLineDefinition(int baud, char parity, int dataBits, int stopBits) {
    return "baud=" + std::to_string(baud) + " parity=" + std::string(1, parity) +
           " data=" + std::to_string(dataBits) + " stop=" + std::to_string(stopBits);
}

std::optional<LineSettings> ParseLineDefinition(std::string_view text, const LineSettings& base) {
    const auto baud = TakeNumberField(&text, "baud");
    if (!baud || *baud <= 0) return std::nullopt;

    SkipBlanks(&text);
    if (!TakeKey(&text, "parity")) return std::nullopt;
    const auto parity = TakeParity(&text);
    if (!parity) return std::nullopt;

    const auto dataBits = TakeNumberField(&text, "data");
    if (!dataBits || *dataBits < 5 || *dataBits > 8) return std::nullopt;

    const auto stopBits = TakeNumberField(&text, "stop");
    if (!stopBits || (*stopBits != 1 && *stopBits != 2)) return std::nullopt;

    SkipBlanks(&text);
    if (!text.empty()) return std::nullopt;

    LineSettings settings = base;
    settings.baudRate = *baud;
    settings.parity = *parity;
    settings.dataBits = *dataBits;
    settings.stopBits = *stopBits;
    return settings;
}

}  // namespace orvante::serial
