// Loaded into Wine's processes (LD_PRELOAD) by the Windows test run. Wine's comm-event
// wait asks the port for its modem lines (TIOCMGET) and ends the wait with an error
// when that fails; a pseudo-terminal, which stands in for the COM port under test, has
// no modem lines. For a pseudo-terminal the request is answered with the lines a
// connected device shows; everything else goes to the C library unchanged.
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdarg>

namespace {

// Unix98 pseudo-terminal slaves: character devices with majors 136 to 143.
bool IsPseudoTerminal(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && major(info.st_rdev) >= 136 &&
           major(info.st_rdev) <= 143;
}

using IoctlFunction = int (*)(int, unsigned long, ...);

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    static const auto real = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
    const int result = real(fd, request, argument);
    if (result == 0 || request != TIOCMGET || argument == nullptr) return result;
    // A pseudo-terminal refuses the request as one it does not know. Any other failure,
    // such as EIO once the other side has closed, is the device's and stays.
    const int savedErrno = errno;
    if ((savedErrno != ENOTTY && savedErrno != EINVAL) || !IsPseudoTerminal(fd)) {
        errno = savedErrno;
        return result;
    }
    *static_cast<int*>(argument) = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
    return 0;
}
