#include <cstdlib>

#include "platform/home_folder.h"

namespace orvante::platform {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return home != nullptr ? home : "";
}

}  // namespace orvante::platform
