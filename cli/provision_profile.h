// A provisioning profile: what every module of a provisioning run gets, as one JSON
// object. Paths in it are relative to the profile's folder.
//   {"library": "码库.db", "capacity": 120, "tasks": [...three tasks...],
//    "baud": 115200, "parity": "N", "data_bits": 8, "stop_bits": 1, "retries": 2}
// Every key is optional, but at least one of library, capacity and tasks is given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "functions/timed_tasks.h"

namespace orvante::cli {

struct ProvisionProfile {
    std::optional<std::string> libraryPath;  // as resolved, UTF-8
    std::vector<std::uint8_t> library;       // read when the profile is loaded
    std::optional<std::uint16_t> capacity;
    std::optional<functions::TimedTasks> tasks;
    std::optional<int> baud;
    std::optional<char> parity;
    std::optional<int> dataBits;
    std::optional<int> stopBits;
    std::optional<int> retries;
};

// Reads and checks the whole profile, the library file included. False with *error: one
// line naming the key (and for a task, the task and its field).
bool LoadProvisionProfile(const std::string& path, ProvisionProfile* profile, std::string* error);
// The same from the profile's text; `folder` is where its relative paths start.
bool ParseProvisionProfile(const std::string& text, const std::string& folder,
                           ProvisionProfile* profile, std::string* error);

}  // namespace orvante::cli
