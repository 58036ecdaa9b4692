#include <cstdlib>

#include "ui/user_folders.h"

namespace orvante::ui {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return home != nullptr ? home : "";
}

}  // namespace orvante::ui
