// The user's home folder, in UTF-8.
#pragma once

#include <string>

namespace orvante::platform {

// $HOME on Linux, the user's profile folder on Windows; empty when there is none.
std::string HomeFolder();

}  // namespace orvante::platform
