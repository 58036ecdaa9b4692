#include "functions/ac_code.h"

namespace orvante::functions {

AcCodePayload EncodeAcCode(const AcCodeRequest& request) {
    return {
        static_cast<std::uint8_t>(request.brand >> 8),
        static_cast<std::uint8_t>(request.brand & 0xFF),
        request.power,
        request.mode,
        static_cast<std::uint8_t>(request.temperatureIndex + kLowestAcTemperature),
        request.fan,
        request.swing,
    };
}

std::optional<std::uint8_t> AcIndexOf(std::span<const AcWord> words, std::string_view word) {
    for (const AcWord& entry : words) {
        if (entry.word == word) return entry.index;
    }
    return std::nullopt;
}

std::string_view AcWordOf(std::span<const AcWord> words, std::uint8_t index) {
    for (const AcWord& entry : words) {
        if (entry.index == index) return entry.word;
    }
    return {};
}

}  // namespace orvante::functions
