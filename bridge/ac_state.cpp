#include "bridge/ac_state.h"

#include <charconv>
#include <cmath>

namespace orvante::bridge {

namespace {

using json = nlohmann::ordered_json;

constexpr std::uint8_t kFanMode = 3;  // "送风", Home Assistant's fan_only

std::string ModeWord(std::uint8_t mode) {
    return mode == kFanMode ? "fan_only"
                            : std::string(functions::AcWordOf(functions::kAcModeWords, mode));
}

std::string ApplyMode(const std::string& value, AcState* state) {
    if (value == "off") {
        state->power = false;
        return {};
    }
    const std::optional<std::uint8_t> mode =
        value == "fan_only" ? std::optional<std::uint8_t>(kFanMode)
                            : functions::AcIndexOf(functions::kAcModeWords, value);
    if (!mode) return "mode '" + value + "' is not one of auto, cool, heat, fan_only, dry, off";
    state->mode = *mode;
    state->power = true;
    return {};
}

// 16 to 30, whole degrees: "24" and "24.0" are taken, "24.5" is not.
std::string ApplyTemperature(const std::string& value, AcState* state) {
    double degrees = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), degrees);
    if (ec != std::errc() || end != value.data() + value.size() || degrees != std::floor(degrees) ||
        degrees < 16 || degrees > 30) {
        return "temperature '" + value + "' is not a whole number of degrees from 16 to 30";
    }
    state->temperature = static_cast<int>(degrees);
    return {};
}

std::string ApplyWord(std::span<const functions::AcWord> words, const std::string& field,
                      const std::string& value, std::uint8_t* out, const std::string& allowed) {
    const std::optional<std::uint8_t> index = functions::AcIndexOf(words, value);
    if (!index) return field + " '" + value + "' is not one of " + allowed;
    *out = *index;
    return {};
}

// A JSON value as the text a plain topic carries: strings as they are, numbers printed.
std::string TextOf(const json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

}  // namespace

std::string ApplyAcField(const std::string& field, const std::string& value, AcState* state) {
    if (field == "mode") return ApplyMode(value, state);
    if (field == "temperature") return ApplyTemperature(value, state);
    if (field == "fan") {
        return ApplyWord(functions::kAcFanWords, field, value, &state->fan, "auto, 1 to 5");
    }
    if (field == "swing") {
        return ApplyWord(functions::kAcSwingWords, field, value, &state->swing,
                         "vertical, horizontal, off");
    }
    if (field == "power") {
        std::uint8_t power = 0;
        std::string error = ApplyWord(functions::kAcPowerWords, field, value, &power, "on, off");
        if (error.empty()) state->power = power != 0;
        return error;
    }
    return "'" + field + "' is not one of power, mode, temperature, fan, swing";
}

std::string ApplyAcJson(const std::string& payload, AcState* state) {
    const json object = json::parse(payload, nullptr, /*allow_exceptions=*/false);
    if (object.is_discarded() || !object.is_object()) return "not a JSON object";
    AcState changed = *state;
    // The power first, so that a mode in the same message decides over it.
    if (const auto power = object.find("power"); power != object.end()) {
        if (std::string error = ApplyAcField("power", TextOf(*power), &changed); !error.empty()) {
            return error;
        }
    }
    for (const auto& [field, value] : object.items()) {
        if (field == "power") continue;
        if (std::string error = ApplyAcField(field, TextOf(value), &changed); !error.empty()) {
            return error;
        }
    }
    *state = changed;
    return {};
}

json AcStateJson(const AcState& state, bool sent) {
    return {{"power", state.power ? "on" : "off"},
            {"mode", ModeWord(state.mode)},
            {"temperature", state.temperature},
            {"fan", std::string(functions::AcWordOf(functions::kAcFanWords, state.fan))},
            {"swing", std::string(functions::AcWordOf(functions::kAcSwingWords, state.swing))},
            {"sent", sent}};
}

functions::AcCodeRequest AcRequestFor(std::uint16_t brand, const AcState& state) {
    return {.brand = brand,
            .power = static_cast<std::uint8_t>(state.power ? 1 : 0),
            .mode = state.mode,
            .temperatureIndex =
                static_cast<std::uint8_t>(state.temperature - functions::kLowestAcTemperature),
            .fan = state.fan,
            .swing = state.swing};
}

}  // namespace orvante::bridge
