#include <cstdlib>

#include "platform/home_folder.h"

namespace orvante::platform {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return home != nullptr ? home : "";
}

std::string StateFolder() {
    // As the XDG base directories are read: a relative $XDG_STATE_HOME is ignored.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/orvante";
    const std::string home = HomeFolder();
    return home.empty() ? "" : home + "/.local/state/orvante";
}

}  // namespace orvante::platform
