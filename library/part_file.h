// The system's side of an export's part file (library_file.cpp): creating it without
// following anything already there, forcing it to the disk and putting it in the chosen
// file's place. Each system has its own file.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace orvante::library::detail {

// Opens a new file for writing, failing when anything is at `path` (a file, a link).
// Nothing on failure, with *reason the system's text.
std::FILE* CreateNewFile(const std::filesystem::path& path, std::string* reason);
// What was written reaches the disk before the file takes another's place.
bool SyncFile(std::FILE* file, std::string* reason);
// Whether the current user may create files in `folder`.
bool CanCreateIn(const std::filesystem::path& folder, std::string* reason);
// Gives `part` the permission bits of `target` when it exists, then renames `part`
// over `target` in one step.
bool ReplaceWith(const std::filesystem::path& part, const std::filesystem::path& target,
                 std::string* reason);

}  // namespace orvante::library::detail
