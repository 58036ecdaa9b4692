#include "serial/utf8_path.h"

namespace orvante::serial {

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

}  // namespace orvante::serial
