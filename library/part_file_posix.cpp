#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "library/part_file.h"
#include "platform/sys_error.h"

namespace orvante::library::detail {

namespace {

bool Failed(std::string* reason) {
    *reason = platform::SysError::FromErrno(errno).text;
    return false;
}

}  // namespace

std::FILE* CreateNewFile(const std::filesystem::path& path, std::string* reason) {
    // O_EXCL refuses any name that exists, a symbolic link included.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        Failed(reason);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        Failed(reason);
        ::close(fd);
        ::unlink(path.c_str());
    }
    return file;
}

bool SyncFile(std::FILE* file, std::string* reason) {
    if (std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0) return Failed(reason);
    return true;
}

bool CanCreateIn(const std::filesystem::path& folder, std::string* reason) {
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return Failed(reason);
    return true;
}

bool ReplaceWith(const std::filesystem::path& part, const std::filesystem::path& target,
                 std::string* reason) {
    struct stat replaced {};
    if (::stat(target.c_str(), &replaced) == 0 &&
        ::chmod(part.c_str(), replaced.st_mode & 07777) != 0) {
        return Failed(reason);
    }
    if (::rename(part.c_str(), target.c_str()) != 0) return Failed(reason);
    return true;
}

}  // namespace orvante::library::detail
