// Home Assistant's MQTT discovery for the bridge's module: a button per named slot and a
// climate entity per air conditioner, under one device.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "bridge/bridge_config.h"

namespace orvante::bridge {

struct DiscoveryConfig {
    std::string topic;    // "<prefix>/button/orvante_<address>_slot<n>/config", ...
    std::string payload;  // the JSON object
};

// Every config the bridge publishes for the module at `address` ("1234").
std::vector<DiscoveryConfig> DiscoveryConfigs(const BridgeConfig& config,
                                              const std::string& address);
// Whether `topic` is a config this bridge would publish for a module at `address` (any
// slot or air conditioner): one it must clear when the configuration no longer has it.
bool IsOwnDiscoveryTopic(const BridgeConfig& config, const std::string& address,
                         const std::string& topic);

}  // namespace orvante::bridge
