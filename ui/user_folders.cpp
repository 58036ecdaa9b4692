#include "ui/user_folders.h"

#include "platform/utf8_path.h"

namespace orvante::ui {

std::string FolderOf(const std::string& path) {
    const std::u8string folder = platform::PathFromUtf8(path).parent_path().u8string();
    return std::string(folder.begin(), folder.end());
}

}  // namespace orvante::ui
