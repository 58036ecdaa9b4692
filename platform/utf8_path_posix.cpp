#include "platform/utf8_path.h"

namespace orvante::platform {

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

}  // namespace orvante::platform
