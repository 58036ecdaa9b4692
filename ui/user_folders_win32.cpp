#include <cstdlib>

#include "serial/wide_text.h"
#include "ui/user_folders.h"

namespace orvante::ui {

std::string HomeFolder() {
    const wchar_t* profile = _wgetenv(L"USERPROFILE");
    return profile != nullptr ? serial::Utf8FromWide(profile) : "";
}

}  // namespace orvante::ui
