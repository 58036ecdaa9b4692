#include "functions/tasks_json.h"

#include "functions/module_functions.h"

namespace orvante::functions {

namespace {

using json = nlohmann::ordered_json;

// A task field at `key` of `task`: a whole number in the fields' range, or an error
// naming the place.
bool ReadField(const json& task, const char* key, std::uint16_t* value, const std::string& where,
               std::string* error) {
    constexpr Range kRange = kTaskFieldRange;
    const auto it = task.find(key);
    if (it == task.end()) {
        *error = where + ": \"" + key + "\" is missing";
        return false;
    }
    if (!it->is_number_integer() || !kRange.Contains(it->get<std::int64_t>())) {
        *error = where + ": \"" + key + "\" must be a whole number from " +
                 std::to_string(kRange.min) + " to " + std::to_string(kRange.max);
        return false;
    }
    *value = static_cast<std::uint16_t>(it->get<std::int64_t>());
    return true;
}

bool ReadTask(const json& task, const std::string& where, TimedTaskRecord* record,
              std::string* error) {
    if (!task.is_object()) {
        *error = where + " is not an object";
        return false;
    }
    const auto enabled = task.find("enabled");
    if (enabled == task.end() || !enabled->is_boolean()) {
        *error = where + ": \"enabled\" must be true or false";
        return false;
    }
    record->enabled = enabled->get<bool>();
    // Any 16-bit slot goes, as the window sends it: a backup of a module's tasks goes
    // back whatever slot they name.
    return ReadField(task, "slot", &record->slot, where, error) &&
           ReadField(task, "period", &record->periodMinutes, where, error) &&
           ReadField(task, "delay", &record->startDelayMinutes, where, error) &&
           ReadField(task, "loops", &record->loopCount, where, error);
}

}  // namespace

json TasksToJson(const TimedTasks& tasks) {
    json list = json::array();
    for (const TimedTaskRecord& task : tasks) {
        list.push_back({{"enabled", task.enabled},
                        {"slot", task.slot},
                        {"period", task.periodMinutes},
                        {"delay", task.startDelayMinutes},
                        {"loops", task.loopCount}});
    }
    return {{"tasks", list}};
}

bool TasksFromJson(const std::string& text, TimedTasks* tasks, std::string* error) {
    const json document = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded()) {
        *error = "not valid JSON";
        return false;
    }
    const auto list = document.is_object() ? document.find("tasks") : document.end();
    if (list == document.end() || !list->is_array() || list->size() != tasks->size()) {
        *error =
            "expected {\"tasks\": [...]} with exactly " + std::to_string(tasks->size()) + " tasks";
        return false;
    }
    return TasksFromJsonArray(*list, tasks, error);
}

bool TasksFromJsonArray(const json& list, TimedTasks* tasks, std::string* error) {
    if (!list.is_array() || list.size() != tasks->size()) {
        *error = "expected an array of exactly " + std::to_string(tasks->size()) + " tasks";
        return false;
    }
    for (std::size_t i = 0; i < tasks->size(); ++i) {
        if (!ReadTask(list[i], "task " + std::to_string(i + 1), &(*tasks)[i], error)) return false;
    }
    return true;
}

}  // namespace orvante::functions
