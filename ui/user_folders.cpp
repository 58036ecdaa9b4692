#include "ui/user_folders.h"

#include "serial/utf8_path.h"

namespace orvante::ui {

std::string FolderOf(const std::string& path) {
    const std::u8string folder = serial::PathFromUtf8(path).parent_path().u8string();
    return std::string(folder.begin(), folder.end());
}

}  // namespace orvante::ui
