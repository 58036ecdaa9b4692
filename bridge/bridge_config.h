// The bridge's configuration: one JSON file naming the module's port, the broker, the
// topics and what Home Assistant is told. Unknown keys are refused.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvante::bridge {

struct AirConditioner {
    std::string id;  // in topics and unique ids: [A-Za-z0-9_-]+
    std::uint16_t brand = 0;
    std::string name;  // shown in Home Assistant: any text
};

struct BridgeConfig {
    std::string port;  // a COM name or a device path
    int baud = 9600;
    std::string brokerHost;
    int brokerPort = 1883;
    bool tls = false;  // mqtts://
    std::string username;
    std::string password;  // the first line of password_file
    std::optional<std::string> caFile;
    std::string baseTopic = "orvante";
    std::string name;
    bool discovery = true;
    std::string discoveryPrefix = "homeassistant";
    std::string haStatusTopic = "homeassistant/status";
    int learnTimeoutSeconds = 30;
    std::map<int, std::string> slots;  // slot -> its button's name
    std::vector<AirConditioner> airConditioners;

    // "<base_topic>/<name>/<leaf>".
    std::string Topic(const std::string& leaf) const { return baseTopic + "/" + name + "/" + leaf; }
    const AirConditioner* FindAirConditioner(const std::string& id) const;
};

// False with *error: one line naming the key and what it takes.
bool ParseBridgeConfig(const std::string& text, BridgeConfig* config, std::string* error);
bool LoadBridgeConfig(const std::string& path, BridgeConfig* config, std::string* error);

}  // namespace orvante::bridge
