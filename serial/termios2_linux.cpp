// The kernel's termios2 interface (TCGETS2/TCSETS2), which carries arbitrary baud rates.
// <asm/termbits.h> declares its own struct termios and flag macros that clash with
// <termios.h>, so this is the one file of the port layer that includes it.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "serial/port_device.h"

namespace orvante::serial {

namespace {

static_assert(sizeof(termios2::c_cc) == sizeof(KernelTermios::cc),
              "KernelTermios mirrors the kernel's control characters");

// Drivers that program a divisor may report the rate they really run at; a line still
// works when both ends are within about 2% of each other, so smaller changes are taken.
constexpr double kRateTolerance = 0.02;

void Record(SysError* error, int code) {
    if (error != nullptr) *error = SysError::FromErrno(code);
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

bool RateClose(std::uint32_t requested, std::uint32_t actual) {
    const double difference = std::abs(static_cast<double>(actual) - requested);
    return difference <= kRateTolerance * requested;
}

// Whether the driver kept the rates that were asked for as arbitrary rates (BOTHER).
// An input field of 0 means "the same as the output", which the output check covers.
bool RatesTaken(const termios2& requested, const termios2& actual) {
    if ((requested.c_cflag & CBAUD) == BOTHER &&
        ((actual.c_cflag & CBAUD) != BOTHER || !RateClose(requested.c_ospeed, actual.c_ospeed))) {
        return false;
    }
    const auto inputCode = (requested.c_cflag & CIBAUD) >> IBSHIFT;
    if (inputCode == BOTHER && !RateClose(requested.c_ispeed, actual.c_ispeed)) return false;
    return true;
}

}  // namespace

bool PortDevice::GetState(KernelTermios* state, SysError* error) const {
    termios2 k{};
    if (::ioctl(fd_, TCGETS2, &k) != 0) {
        Record(error, errno);
        return false;
    }
    *state = FromKernel(k);
    return true;
}

bool PortDevice::SetState(const KernelTermios& state, SysError* error) {
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
    if (!RatesTaken(requested, actual)) {
        Record(error, EINVAL);
        return false;
    }
    return true;
}

}  // namespace orvante::serial
