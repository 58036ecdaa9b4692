// Reads a terminal's kernel settings directly with TCGETS2, independently of the
// port layer, so that tests see what really reached the device.
#pragma once

#include <cstdint>

namespace orvante::test {

struct ProbedTermios {
    std::uint32_t iflag, oflag, cflag, lflag;
    std::uint8_t vmin, vtime;
    std::uint32_t ispeed, ospeed;
    bool arbitraryRate;  // CBAUD holds BOTHER
};

bool ProbeTermios(int fd, ProbedTermios* out);

}  // namespace orvante::test
