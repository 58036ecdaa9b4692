// Where the file dialogs open: the home folder first, then the folder of the last file.
// Paths are UTF-8.
#pragma once

#include <string>

namespace orvante::ui {

// $HOME on Linux, the user's profile folder on Windows; empty when there is none.
std::string HomeFolder();

std::string FolderOf(const std::string& path);

}  // namespace orvante::ui
