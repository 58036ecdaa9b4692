#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "serial/port_device.h"

namespace orvante::serial {

namespace {

// Stores the failure when the caller asked for it.
void Record(platform::SysError* error, int code) {
    if (error != nullptr) *error = platform::SysError::FromErrno(code);
}

// Owns a descriptor while Open is still checking it, so that every early return closes it.
class FdGuard {
public:
    explicit FdGuard(int fd) : fd_(fd) {}
    ~FdGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;

    int Get() const { return fd_; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

bool IsWouldBlock(int code) {
    return code == EAGAIN || code == EWOULDBLOCK || code == EINTR;
}

}  // namespace

PortDevice::~PortDevice() {
    Close();
}

// Exclusive use takes two locks, because neither is enough alone:
// - TIOCEXCL makes the kernel refuse every later open() of the tty with EBUSY, whoever
//   tries; but root (CAP_SYS_ADMIN) is exempt, and two processes that both open before
//   either has set the flag both get in.
// - flock(LOCK_EX | LOCK_NB) closes that race and also holds against root, but only
//   against programs that take the lock too.
// The lock is taken first: a loser of the race then leaves without touching the flag,
// which belongs to the winner.
bool PortDevice::Open(const std::string& path, platform::SysError* error) {
    Close();
    FdGuard fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
        Record(error, errno);
        return false;
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        // Another open description holds the lock: the port is in use, as for TIOCEXCL.
        Record(error, code == EWOULDBLOCK ? EBUSY : code);
        return false;
    }
    if (::ioctl(fd.Get(), TIOCEXCL) != 0) {
        Record(error, errno);
        return false;
    }
    fd_ = fd.Release();
    return true;
}

// The flag is cleared before the close because it belongs to the tty, not to this
// descriptor: when something else keeps the tty alive (the other side of a
// pseudo-terminal, another descriptor), a flag left set would refuse every later open.
void PortDevice::Close() {
    if (fd_ < 0) return;
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

bool PortDevice::SetRts(bool on, platform::SysError* error) {
    int bits = TIOCM_RTS;
    if (::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) != 0) {
        Record(error, errno);
        return false;
    }
    return true;
}

void PortDevice::Purge() {
    if (fd_ >= 0) ::tcflush(fd_, TCIOFLUSH);
}

std::size_t PortDevice::InputCount() const {
    int count = 0;
    if (fd_ < 0 || ::ioctl(fd_, FIONREAD, &count) != 0 || count < 0) return 0;
    return static_cast<std::size_t>(count);
}

ssize_t PortDevice::Read(std::uint8_t* buffer, std::size_t size, platform::SysError* error) {
    if (size == 0) return 0;
    const ssize_t n = ::read(fd_, buffer, size);
    if (n > 0) return n;
    if (n == 0) {
        // With VMIN 1 a tty read never returns 0 for "no data" (that is EAGAIN here);
        // 0 is the end of file a hung-up line reads as.
        Record(error, EIO);
        return -1;
    }
    const int code = errno;
    if (IsWouldBlock(code)) return 0;
    Record(error, code);
    return -1;
}

ssize_t PortDevice::Write(const std::uint8_t* data, std::size_t size, platform::SysError* error) {
    if (size == 0) return 0;
    const ssize_t n = ::write(fd_, data, size);
    if (n >= 0) return n;
    const int code = errno;
    if (IsWouldBlock(code)) return 0;
    Record(error, code);
    return -1;
}

}  // namespace orvante::serial
