#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "library/part_file.h"
#include "platform/sys_error.h"

// After the program's own headers, as everywhere: <windows.h> defines macros that
// clash with names of the serial layer.
#include <windows.h>

namespace orvante::library::detail {

std::FILE* CreateNewFile(const std::filesystem::path& path, std::string* reason) {
    // _O_EXCL refuses any name that exists.
    const int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                          _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        *reason = platform::SysError::FromErrno(errno).text;
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        *reason = platform::SysError::FromErrno(errno).text;
        _close(fd);
        _wremove(path.c_str());
    }
    return file;
}

bool SyncFile(std::FILE* file, std::string* reason) {
    if (std::fflush(file) != 0 || _commit(_fileno(file)) != 0) {
        *reason = platform::SysError::FromErrno(errno).text;
        return false;
    }
    return true;
}

// Windows folders carry access lists that a mode check cannot read: creating the part
// file is the test.
bool CanCreateIn(const std::filesystem::path& /*folder*/, std::string* /*reason*/) {
    return true;
}

bool ReplaceWith(const std::filesystem::path& part, const std::filesystem::path& target,
                 std::string* reason) {
    if (!MoveFileExW(part.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *reason = platform::SysError::FromSystemCode(GetLastError()).text;
        return false;
    }
    return true;
}

}  // namespace orvante::library::detail
