// The state file of the virtual module: the three timed tasks, kept across restarts of
// the program the way the module keeps them across power loss.
//
// Format (text, one record a line):
//   orvante-sim timed-tasks 1
//   task 1 <enabled> <slot> <period> <delay> <loops>
//   task 2 ...
//   task 3 ...
// enabled is the stored byte (0..255), the other fields 0..65535, all decimal. Anything
// else, a missing task or a file above 4 KiB is refused as a whole.
#pragma once

#include <string>
#include <string_view>

#include "sim/virtual_module.h"

namespace orvante::sim {

std::string FormatTaskState(const TaskBytes& tasks);
// The tasks, or nothing with *error saying what is wrong.
std::optional<TaskBytes> ParseTaskState(std::string_view text, std::string* error);

enum class LoadResult { kLoaded, kMissing, kRefused };
// kMissing when the file does not exist (the module starts with empty tasks); kRefused
// with *error for a file that cannot be read or is not a state file.
LoadResult LoadTaskStateFile(const std::string& path, TaskBytes* tasks, std::string* error);
// Writes a new file beside the old one and renames it over, so that a crash never leaves
// half a file. False with *error on failure.
bool SaveTaskStateFile(const std::string& path, const TaskBytes& tasks, std::string* error);

}  // namespace orvante::sim
