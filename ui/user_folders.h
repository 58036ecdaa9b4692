// Where the file dialogs open: the home folder first, then the folder of the last file.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace orvante::ui {

inline std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return home != nullptr ? home : "";
}

inline std::string FolderOf(const std::string& path) {
    return std::filesystem::path(path).parent_path().string();
}

}  // namespace orvante::ui
