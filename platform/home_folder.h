// The user's home folder and the folder where the programs keep their state, in UTF-8.
#pragma once

#include <string>

namespace orvante::platform {

// $HOME on Linux, the user's profile folder on Windows; empty when there is none.
std::string HomeFolder();

// Where Orvante keeps what it remembers between runs: $XDG_STATE_HOME/orvante or
// ~/.local/state/orvante on Linux, %LOCALAPPDATA%\Orvante on Windows. Not created here;
// empty when the system names no such place.
std::string StateFolder();

}  // namespace orvante::platform
