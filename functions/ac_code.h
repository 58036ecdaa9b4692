// An air-conditioner code from the module's built-in library: a brand code and the wanted
// state. Request 26, 7 bytes:
//   0..1  brand code, high byte first (the one field of the protocol in that order)
//   2     power        3  mode        4  temperature in degrees Celsius (16..30)
//   5     fan speed    6  swing
// The module answers 27 only when it could not send; the answer's payload is not read.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "functions/module_functions.h"

namespace orvante::functions {

// The lowest temperature the lists offer: list index i stands for 16 + i degrees.
inline constexpr std::uint8_t kLowestAcTemperature =
    static_cast<std::uint8_t>(kAcTemperatureRange.min);

// The operator's choice: the brand code and the index chosen in each list (power "关"
// "开"; mode "自动" "制冷" "制热" "送风" "去湿"; "16度" to "30度"; fan "自动风",
// "风量1" to "风量5"; swing "上下摆风" "左右摆风" "摆风关闭").
struct AcCodeRequest {
    std::uint16_t brand = 0;
    std::uint8_t power = 0;
    std::uint8_t mode = 0;
    std::uint8_t temperatureIndex = 0;
    std::uint8_t fan = 0;
    std::uint8_t swing = 0;
};

using AcCodePayload = std::array<std::uint8_t, 7>;
AcCodePayload EncodeAcCode(const AcCodeRequest& request);

// The words a list's choices go by in the command line's options and the bridge's
// messages, with the list index each stands for.
struct AcWord {
    std::string_view word;
    std::uint8_t index;
};
inline constexpr AcWord kAcPowerWords[] = {{"off", 0}, {"on", 1}};
inline constexpr AcWord kAcModeWords[] = {
    {"auto", 0}, {"cool", 1}, {"heat", 2}, {"fan", 3}, {"dry", 4}};
inline constexpr AcWord kAcFanWords[] = {{"auto", 0}, {"1", 1}, {"2", 2},
                                         {"3", 3},    {"4", 4}, {"5", 5}};
inline constexpr AcWord kAcSwingWords[] = {{"vertical", 0}, {"horizontal", 1}, {"off", 2}};

// The index `word` stands for in `words`; nothing for a word not there.
std::optional<std::uint8_t> AcIndexOf(std::span<const AcWord> words, std::string_view word);
// The word of `index`; empty for an index not there.
std::string_view AcWordOf(std::span<const AcWord> words, std::uint8_t index);

}  // namespace orvante::functions
