#include "bridge/bridge_config.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "functions/module_functions.h"
#include "serial/port_list.h"

namespace orvante::bridge {

namespace {

using json = nlohmann::json;

constexpr std::size_t kMaxConfigSize = 1 << 20;

bool Refuse(const std::string& key, const std::string& what, std::string* error) {
    *error = "\"" + key + "\": " + what;
    return false;
}

// What Home Assistant takes in a discovery topic's object id.
bool IsIdentifier(const std::string& text) {
    if (text.empty()) return false;
    for (const char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

bool ReadString(const json& value, const std::string& key, std::string* out, std::string* error) {
    if (!value.is_string() || value.get<std::string>().empty()) {
        return Refuse(key, "must be a text", error);
    }
    *out = value.get<std::string>();
    return true;
}

bool ReadIdentifier(const json& value, const std::string& key, std::string* out,
                    std::string* error) {
    if (!value.is_string() || !IsIdentifier(value.get<std::string>())) {
        return Refuse(key, "must be letters, digits, _ and - only", error);
    }
    *out = value.get<std::string>();
    return true;
}

bool ReadWhole(const json& value, const std::string& key, std::int64_t min, std::int64_t max,
               int* out, std::string* error) {
    if (!value.is_number_integer() || value.get<std::int64_t>() < min ||
        value.get<std::int64_t>() > max) {
        return Refuse(
            key,
            "must be a whole number from " + std::to_string(min) + " to " + std::to_string(max),
            error);
    }
    *out = static_cast<int>(value.get<std::int64_t>());
    return true;
}

// "mqtt://host[:port]" or "mqtts://host[:port]".
bool ReadBroker(const json& value, BridgeConfig* config, std::string* error) {
    const std::string text = value.is_string() ? value.get<std::string>() : "";
    std::string rest;
    if (text.starts_with("mqtt://")) {
        rest = text.substr(7);
    } else if (text.starts_with("mqtts://")) {
        rest = text.substr(8);
        config->tls = true;
    }
    const std::size_t colon = rest.rfind(':');
    std::string host = rest.substr(0, colon);
    int port = config->tls ? 8883 : 1883;
    if (colon != std::string::npos) {
        const std::string digits = rest.substr(colon + 1);
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
        if (ec != std::errc() || end != digits.data() + digits.size() || port < 1 || port > 65535) {
            host.clear();
        }
    }
    if (host.empty() || host.find('/') != std::string::npos) {
        return Refuse("broker", "must be mqtt://HOST[:PORT] or mqtts://HOST[:PORT]", error);
    }
    config->brokerHost = host;
    config->brokerPort = port;
    return true;
}

bool ReadPasswordFile(const json& value, BridgeConfig* config, std::string* error) {
    std::string path;
    if (!ReadString(value, "password_file", &path, error)) return false;
    std::ifstream file(path);
    if (!file) return Refuse("password_file", "cannot read " + path, error);
    std::getline(file, config->password);
    if (!config->password.empty() && config->password.back() == '\r') config->password.pop_back();
    return true;
}

bool ReadBaud(const json& value, BridgeConfig* config, std::string* error) {
    for (int i = 0; i < serial::kBaudRateCount; ++i) {
        if (value.is_number_integer() && value.get<std::int64_t>() == serial::BaudRateTable(i)) {
            config->baud = serial::BaudRateTable(i);
            return true;
        }
    }
    return Refuse("baud", "must be a rate of the console's list (300 to 230400)", error);
}

bool ReadSlots(const json& value, BridgeConfig* config, std::string* error) {
    if (!value.is_object()) return Refuse("slots", "must be an object of slot: name", error);
    for (const auto& [key, name] : value.items()) {
        int slot = -1;
        const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), slot);
        if (ec != std::errc() || end != key.data() + key.size() ||
            !functions::kSlotRange.Contains(slot)) {
            return Refuse("slots", "'" + key + "' is not a slot from 0 to 100", error);
        }
        if (!name.is_string() || name.get<std::string>().empty()) {
            return Refuse("slots", "slot " + key + " must have a name", error);
        }
        config->slots[slot] = name.get<std::string>();
    }
    return true;
}

bool ReadAirConditioner(const std::string& id, const json& value, AirConditioner* ac,
                        std::string* error) {
    const std::string key = "air_conditioners." + id;
    if (!IsIdentifier(id))
        return Refuse(key, "the id must be letters, digits, _ and - only", error);
    ac->id = id;
    ac->name = id;
    json brand = value;
    if (value.is_object()) {
        for (const auto& [field, fieldValue] : value.items()) {
            if (field == "brand") {
                brand = fieldValue;
            } else if (field == "name") {
                if (!ReadString(fieldValue, key + ".name", &ac->name, error)) return false;
            } else {
                return Refuse(key + "." + field, "is not a key (brand, name)", error);
            }
        }
        if (!value.contains("brand")) return Refuse(key + ".brand", "is missing", error);
    }
    int code = 0;
    if (!ReadWhole(brand, value.is_object() ? key + ".brand" : key, 0, 65535, &code, error)) {
        return false;
    }
    ac->brand = static_cast<std::uint16_t>(code);
    return true;
}

bool ReadAirConditioners(const json& value, BridgeConfig* config, std::string* error) {
    if (!value.is_object())
        return Refuse("air_conditioners", "must be an object of id: brand", error);
    for (const auto& [id, ac] : value.items()) {
        AirConditioner read;
        if (!ReadAirConditioner(id, ac, &read, error)) return false;
        config->airConditioners.push_back(read);
    }
    return true;
}

bool ReadKey(const std::string& key, const json& value, BridgeConfig* config, std::string* error) {
    if (key == "port") return ReadString(value, key, &config->port, error);
    if (key == "baud") return ReadBaud(value, config, error);
    if (key == "broker") return ReadBroker(value, config, error);
    if (key == "username") return ReadString(value, key, &config->username, error);
    if (key == "password_file") return ReadPasswordFile(value, config, error);
    if (key == "ca_file") {
        if (value.is_null()) return true;
        std::string path;
        if (!ReadString(value, key, &path, error)) return false;
        config->caFile = path;
        return true;
    }
    if (key == "base_topic") return ReadIdentifier(value, key, &config->baseTopic, error);
    if (key == "name") return ReadIdentifier(value, key, &config->name, error);
    if (key == "discovery") {
        if (!value.is_boolean()) return Refuse(key, "must be true or false", error);
        config->discovery = value.get<bool>();
        return true;
    }
    if (key == "discovery_prefix") return ReadString(value, key, &config->discoveryPrefix, error);
    if (key == "ha_status_topic") return ReadString(value, key, &config->haStatusTopic, error);
    if (key == "learn_timeout") {
        return ReadWhole(value, key, 1, 3600, &config->learnTimeoutSeconds, error);
    }
    if (key == "slots") return ReadSlots(value, config, error);
    if (key == "air_conditioners") return ReadAirConditioners(value, config, error);
    return Refuse(key, "is not a key of the configuration", error);
}

}  // namespace

const AirConditioner* BridgeConfig::FindAirConditioner(const std::string& id) const {
    for (const AirConditioner& ac : airConditioners) {
        if (ac.id == id) return &ac;
    }
    return nullptr;
}

bool ParseBridgeConfig(const std::string& text, BridgeConfig* config, std::string* error) {
    const json document = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded() || !document.is_object()) {
        *error = "not a JSON object";
        return false;
    }
    BridgeConfig read;
    for (const auto& [key, value] : document.items()) {
        if (!ReadKey(key, value, &read, error)) return false;
    }
    for (const char* required : {"port", "broker", "name"}) {
        if (!document.contains(required)) return Refuse(required, "is missing", error);
    }
    *config = std::move(read);
    return true;
}

bool LoadBridgeConfig(const std::string& path, BridgeConfig* config, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot read " + path;
        return false;
    }
    std::string text(kMaxConfigSize + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > kMaxConfigSize) {
        *error = path + " is larger than 1 MiB: not a configuration";
        return false;
    }
    std::string problem;
    if (!ParseBridgeConfig(text, config, &problem)) {
        *error = path + ": " + problem;
        return false;
    }
    return true;
}

}  // namespace orvante::bridge
