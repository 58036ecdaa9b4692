// Checks the kernel's exclusive flag as seen by an unprivileged process: while the port
// layer holds a tty, a plain open() of it is refused with EBUSY; after Close it is not.
// Usage: port_open_probe <tty path>. Exit codes name the step that went wrong.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "serial/port_device.h"

namespace {

enum ExitCode {
    kSuccess = 0,
    kUsage = 2,
    kPortNotOpened = 3,
    kPlainOpenAllowed = 4,
    kPlainOpenOtherError = 5,
    kReopenFailed = 6,
};

// Opens and closes the path plainly; returns 0 or the errno of the failed open.
int TryPlainOpen(const char* path) {
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <tty path>\n", argv[0]);
        return kUsage;
    }
    const char* path = argv[1];
    orvante::serial::PortDevice port;
    orvante::platform::SysError error;
    if (!port.Open(path, &error)) {
        std::fprintf(stderr, "open %s: %s\n", path, error.text.c_str());
        return kPortNotOpened;
    }
    const int whileHeld = TryPlainOpen(path);
    if (whileHeld == 0) return kPlainOpenAllowed;
    if (whileHeld != EBUSY) return kPlainOpenOtherError;
    port.Close();
    if (TryPlainOpen(path) != 0 || !port.Open(path, &error)) return kReopenFailed;
    return kSuccess;
}
