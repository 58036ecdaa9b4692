#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_lock.h"

namespace orvante::platform {

struct FileLock::Held {
    explicit Held(int descriptor) : fd(descriptor) {}
    ~Held() { ::close(fd); }  // which lets the lock go
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    int fd;
};

FileLock::FileLock(std::unique_ptr<Held> held) : held_(std::move(held)) {}
FileLock::~FileLock() = default;

std::unique_ptr<FileLock> FileLock::TryLock(const std::string& path, SysError* error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = SysError::FromErrno(errno);
        return nullptr;
    }
    auto held = std::make_unique<Held>(fd);
    // flock belongs to the open file, so a second open in this process is refused too.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *error = SysError::FromErrno(errno);
        return nullptr;
    }
    return std::unique_ptr<FileLock>(new FileLock(std::move(held)));
}

}  // namespace orvante::platform
