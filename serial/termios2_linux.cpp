// The kernel's termios2 interface (TCGETS2/TCSETS2), which carries arbitrary baud rates.
// <asm/termbits.h> declares its own struct termios and flag macros that clash with
// <termios.h>, so this is the one file of the port layer that includes it.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "serial/port_device.h"

namespace orvante::serial {

namespace {

static_assert(sizeof(termios2::c_cc) == sizeof(KernelTermios::cc),
              "KernelTermios mirrors the kernel's control characters");

void Record(platform::SysError* error, int code) {
    if (error != nullptr) *error = platform::SysError::FromErrno(code);
}

KernelTermios FromKernel(const termios2& k) {
    KernelTermios t;
    t.iflag = k.c_iflag;
    t.oflag = k.c_oflag;
    t.cflag = k.c_cflag;
    t.lflag = k.c_lflag;
    t.line = k.c_line;
    std::memcpy(t.cc, k.c_cc, sizeof t.cc);
    t.ispeed = k.c_ispeed;
    t.ospeed = k.c_ospeed;
    return t;
}

termios2 ToKernel(const KernelTermios& t) {
    termios2 k{};
    k.c_iflag = t.iflag;
    k.c_oflag = t.oflag;
    k.c_cflag = t.cflag;
    k.c_lflag = t.lflag;
    k.c_line = t.line;
    std::memcpy(k.c_cc, t.cc, sizeof k.c_cc);
    k.c_ispeed = t.ispeed;
    k.c_ospeed = t.ospeed;
    return k;
}

}  // namespace

bool PortDevice::GetState(KernelTermios* state, platform::SysError* error) const {
    termios2 k{};
    if (::ioctl(fd_, TCGETS2, &k) != 0) {
        Record(error, errno);
        return false;
    }
    *state = FromKernel(k);
    return true;
}

bool PortDevice::SetState(const KernelTermios& state, platform::SysError* error) {
    const termios2 requested = ToKernel(state);
    if (::ioctl(fd_, TCSETS2, &requested) != 0) {
        Record(error, errno);
        return false;
    }
    termios2 actual{};
    if (::ioctl(fd_, TCGETS2, &actual) != 0) {
        Record(error, errno);
        return false;
    }
    if (!DriverKeptRates(state, FromKernel(actual))) {
        Record(error, EINVAL);
        return false;
    }
    return true;
}

}  // namespace orvante::serial
