// Uses the kernel's own termios2 record, so it must not see <termios.h>.
#include "tests/support/termios_probe.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace orvante::test {

bool ProbeTermios(int fd, ProbedTermios* out) {
    termios2 k{};
    if (::ioctl(fd, TCGETS2, &k) != 0) return false;
    out->iflag = k.c_iflag;
    out->oflag = k.c_oflag;
    out->cflag = k.c_cflag;
    out->lflag = k.c_lflag;
    out->vmin = k.c_cc[VMIN];
    out->vtime = k.c_cc[VTIME];
    out->ispeed = k.c_ispeed;
    out->ospeed = k.c_ospeed;
    out->arbitraryRate = (k.c_cflag & CBAUD) == BOTHER;
    return true;
}

}  // namespace orvante::test
