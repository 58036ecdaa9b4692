// A manual-reset event on an eventfd, so that poll can wait for it beside the port.
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace orvante::serial {

class EventFd {
public:
    EventFd() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~EventFd() {
        if (fd_ >= 0) close(fd_);
    }
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;

    int Fd() const { return fd_; }
    bool IsValid() const { return fd_ >= 0; }
    // Signalled until Reset, however often it is set.
    void Set() {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
    }
    void Reset() {
        std::uint64_t value;
        [[maybe_unused]] ssize_t n = read(fd_, &value, sizeof value);
    }

private:
    int fd_;
};

}  // namespace orvante::serial
