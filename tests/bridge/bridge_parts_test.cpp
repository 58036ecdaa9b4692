// The air conditioner's state as Home Assistant changes it, and the discovery topics the
// bridge counts as its own.
#include <gtest/gtest.h>

#include "bridge/ac_state.h"
#include "bridge/discovery.h"

namespace orvante::bridge {
namespace {

TEST(AcState, TakesHomeAssistantsValuesAndRefusesTheRest) {
    const struct {
        std::string field;  // empty: the payload is the JSON form
        std::string payload;
        std::string state;  // AcStateJson after it, without "sent"; empty: refused, unchanged
    } kRows[] = {
        {"mode", "cool",
         R"({"power":"on","mode":"cool","temperature":16,"fan":"auto","swing":"vertical"})"},
        {"mode", "fan",
         R"({"power":"on","mode":"fan_only","temperature":16,"fan":"auto","swing":"vertical"})"},
        {"mode", "off",
         R"({"power":"off","mode":"auto","temperature":16,"fan":"auto","swing":"vertical"})"},
        {"mode", "turbo", ""},
        {"temperature", "24.0",
         R"({"power":"off","mode":"auto","temperature":24,"fan":"auto","swing":"vertical"})"},
        {"temperature", "24.5", ""},
        {"temperature", "31", ""},
        {"fan", "5",
         R"({"power":"off","mode":"auto","temperature":16,"fan":"5","swing":"vertical"})"},
        {"fan", "6", ""},
        {"swing", "horizontal",
         R"({"power":"off","mode":"auto","temperature":16,"fan":"auto","swing":"horizontal"})"},
        {"", R"({"power":"on","temperature":20,"swing":"off"})",
         R"({"power":"on","mode":"auto","temperature":20,"fan":"auto","swing":"off"})"},
        {"", R"({"mode":"off","power":"on"})",
         R"({"power":"off","mode":"auto","temperature":16,"fan":"auto","swing":"vertical"})"},
        {"", R"({"temperature":20,"fan":"turbo"})", ""},
        {"", R"({"colour":"red"})", ""},
        {"", "not json", ""},
    };
    for (const auto& row : kRows) {
        AcState state;
        const std::string error = row.field.empty() ? ApplyAcJson(row.payload, &state)
                                                    : ApplyAcField(row.field, row.payload, &state);
        nlohmann::ordered_json shown = AcStateJson(state, true);
        shown.erase("sent");
        if (row.state.empty()) {
            EXPECT_FALSE(error.empty()) << row.field << " " << row.payload;
            EXPECT_EQ(state, AcState{}) << row.field << " " << row.payload;
        } else {
            EXPECT_EQ(error, "") << row.field << " " << row.payload;
            EXPECT_EQ(shown.dump(), row.state) << row.field << " " << row.payload;
        }
    }
}

TEST(Discovery, CountsOnlyItsOwnModulesConfigsAsItsOwn) {
    BridgeConfig config;
    config.name = "room";
    const struct {
        const char* topic;
        bool own;
    } kRows[] = {
        {"homeassistant/button/orvante_1234_slot9/config", true},
        {"homeassistant/climate/orvante_1234_ac_gone/config", true},
        {"homeassistant/button/orvante_4321_slot9/config", false},
        {"homeassistant/button/other_slot9/config", false},
        {"homeassistant/light/orvante_1234_x/config", false},
        {"homeassistant/button/orvante_1234_slot9/extra/config", false},
    };
    for (const auto& row : kRows) {
        EXPECT_EQ(IsOwnDiscoveryTopic(config, "1234", row.topic), row.own) << row.topic;
    }
}

}  // namespace
}  // namespace orvante::bridge
