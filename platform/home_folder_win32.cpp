#include <cstdlib>

#include "platform/home_folder.h"
#include "platform/wide_text.h"

namespace orvante::platform {

std::string HomeFolder() {
    const wchar_t* profile = _wgetenv(L"USERPROFILE");
    return profile != nullptr ? Utf8FromWide(profile) : "";
}

std::string StateFolder() {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    return local != nullptr && local[0] != L'\0' ? Utf8FromWide(local) + "\\Orvante" : "";
}

}  // namespace orvante::platform
