#include "bridge/discovery.h"

#include <nlohmann/json.hpp>

namespace orvante::bridge {

namespace {

using json = nlohmann::ordered_json;

std::string ObjectPrefix(const std::string& address) {
    return "orvante_" + address + "_";
}

json Device(const BridgeConfig& config, const std::string& address) {
    return {{"identifiers", json::array({"orvante_" + address})},
            {"name", "Orvante " + config.name},
            {"manufacturer", "Orvante"},
            {"model", "infrared learning and transmitting module"},
            {"sw_version", ORVANTE_VERSION}};
}

DiscoveryConfig Button(const BridgeConfig& config, const std::string& address, int slot,
                       const std::string& name) {
    const std::string id = ObjectPrefix(address) + "slot" + std::to_string(slot);
    const json payload = {
        {"name", name},
        {"unique_id", id},
        {"command_topic", config.Topic("slot/" + std::to_string(slot) + "/send")},
        {"availability_topic", config.Topic("availability")},
        {"device", Device(config, address)},
    };
    return {config.discoveryPrefix + "/button/" + id + "/config", payload.dump()};
}

DiscoveryConfig Climate(const BridgeConfig& config, const std::string& address,
                        const AirConditioner& ac) {
    const std::string id = ObjectPrefix(address) + "ac_" + ac.id;
    const std::string base = "ac/" + ac.id + "/";
    const std::string state = config.Topic(base + "state");
    const json payload = {
        {"name", ac.name},
        {"unique_id", id},
        {"modes", {"off", "auto", "cool", "heat", "fan_only", "dry"}},
        {"fan_modes", {"auto", "1", "2", "3", "4", "5"}},
        {"swing_modes", {"vertical", "horizontal", "off"}},
        {"min_temp", 16},
        {"max_temp", 30},
        {"temp_step", 1},
        {"precision", 1.0},
        {"temperature_unit", "C"},
        {"optimistic", false},
        {"mode_command_topic", config.Topic(base + "set/mode")},
        {"temperature_command_topic", config.Topic(base + "set/temperature")},
        {"fan_mode_command_topic", config.Topic(base + "set/fan")},
        {"swing_mode_command_topic", config.Topic(base + "set/swing")},
        {"mode_state_topic", state},
        {"mode_state_template", "{{ value_json.mode if value_json.power == 'on' else 'off' }}"},
        {"temperature_state_topic", state},
        {"temperature_state_template", "{{ value_json.temperature }}"},
        {"fan_mode_state_topic", state},
        {"fan_mode_state_template", "{{ value_json.fan }}"},
        {"swing_mode_state_topic", state},
        {"swing_mode_state_template", "{{ value_json.swing }}"},
        {"availability_topic", config.Topic("availability")},
        {"device", Device(config, address)},
    };
    return {config.discoveryPrefix + "/climate/" + id + "/config", payload.dump()};
}

}  // namespace

std::vector<DiscoveryConfig> DiscoveryConfigs(const BridgeConfig& config,
                                              const std::string& address) {
    std::vector<DiscoveryConfig> configs;
    for (const auto& [slot, name] : config.slots) {
        configs.push_back(Button(config, address, slot, name));
    }
    for (const AirConditioner& ac : config.airConditioners) {
        configs.push_back(Climate(config, address, ac));
    }
    return configs;
}

bool IsOwnDiscoveryTopic(const BridgeConfig& config, const std::string& address,
                         const std::string& topic) {
    const std::string prefix = ObjectPrefix(address);
    for (const char* component : {"/button/", "/climate/"}) {
        const std::string start = config.discoveryPrefix + component + prefix;
        if (topic.starts_with(start) && topic.ends_with("/config") &&
            topic.find('/', start.size()) == topic.size() - 7) {
            return true;
        }
    }
    return false;
}

}  // namespace orvante::bridge
