// An air conditioner's wanted state as the bridge keeps it: the last one sent, changed
// by what Home Assistant (or anyone) sends, and the code request made from it.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "functions/ac_code.h"

namespace orvante::bridge {

// The window's start-up choice: off, auto, 16 degrees, auto fan, vertical swing.
struct AcState {
    bool power = false;
    std::uint8_t mode = 0;  // index in functions::kAcModeWords
    int temperature = 16;
    std::uint8_t fan = 0;
    std::uint8_t swing = 0;

    bool operator==(const AcState&) const = default;
};

// Home Assistant's modes: auto, cool, heat, fan_only (fan is taken too), dry, and off,
// which turns the unit off and keeps its mode; any other mode turns it on.
// Each applies one field given as text ("mode", "temperature", "fan", "swing"; and
// "power" for the JSON form): the error text, or empty when the state took it.
std::string ApplyAcField(const std::string& field, const std::string& value, AcState* state);
// A JSON object with any of those fields: all taken, or none (the error).
std::string ApplyAcJson(const std::string& payload, AcState* state);

nlohmann::ordered_json AcStateJson(const AcState& state, bool sent);
functions::AcCodeRequest AcRequestFor(std::uint16_t brand, const AcState& state);

}  // namespace orvante::bridge
