// UTF-8 inside the program, UTF-16 at the Win32 edge. Windows only.
#pragma once

#include <string>
#include <string_view>

namespace orvante::platform {

// Invalid input becomes U+FFFD rather than being dropped.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

}  // namespace orvante::platform
