// File names are UTF-8 inside the program; at the system's edge they take the system's
// own form (UTF-16 on Windows, where the narrow calls would take the ANSI code page and
// a file named "码库.db" could not be opened).
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace orvante::platform {

inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(reinterpret_cast<const char*>(utf8.data()), utf8.size());
}

// std::fopen for a path of any name; `mode` as fopen takes it.
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

}  // namespace orvante::platform
