#include <cstdlib>

#include "platform/home_folder.h"
#include "platform/wide_text.h"

namespace orvante::platform {

std::string HomeFolder() {
    const wchar_t* profile = _wgetenv(L"USERPROFILE");
    return profile != nullptr ? Utf8FromWide(profile) : "";
}

}  // namespace orvante::platform
