// Where the file dialogs open: the home folder first (platform::HomeFolder), then the
// folder of the last file. Paths are UTF-8.
#pragma once

#include <string>

namespace orvante::ui {

std::string FolderOf(const std::string& path);

}  // namespace orvante::ui
