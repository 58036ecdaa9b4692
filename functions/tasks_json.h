// The three timed tasks as JSON: what `tasks --json` prints, `tasks set` takes back.
//   {"tasks": [{"enabled": true, "slot": 5, "period": 10, "delay": 2, "loops": 0}, ...]}
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "functions/timed_tasks.h"

namespace orvante::functions {

nlohmann::ordered_json TasksToJson(const TimedTasks& tasks);
// Reads exactly three tasks, each with all five fields (the four numbers 0..65535). False with
// *error saying what is wrong and where.
bool TasksFromJson(const std::string& text, TimedTasks* tasks, std::string* error);
// The same from the array under "tasks" (a provisioning profile's).
bool TasksFromJsonArray(const nlohmann::ordered_json& list, TimedTasks* tasks, std::string* error);

}  // namespace orvante::functions
