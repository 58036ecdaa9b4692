// The raw-mode kernel settings a POSIX port is given, built from its line settings.
#pragma once

#include <cstdint>

#include "serial/line_settings.h"

namespace orvante::serial {

// The kernel's termios2 record, mirrored field by field so that code outside the one
// file that includes <asm/termbits.h> can build and inspect it.
struct KernelTermios {
    std::uint32_t iflag = 0;
    std::uint32_t oflag = 0;
    std::uint32_t cflag = 0;
    std::uint32_t lflag = 0;
    std::uint8_t line = 0;
    std::uint8_t cc[19] = {};
    std::uint32_t ispeed = 0;
    std::uint32_t ospeed = 0;
};

// Raw mode with the given settings on top of what the port had: no line editing,
// echo, signals or output processing, CLOCAL and CREAD set, VMIN 1 and VTIME 0, the
// character size, parity and stop bits of `settings`, and the baud rate as an
// arbitrary rate (BOTHER) in both directions.
KernelTermios MakeRawTermios(const KernelTermios& current, const LineSettings& settings);

// Whether a driver, having been given `requested`, runs at its rates: read back as
// `actual`, each rate asked for as an arbitrary rate is within 2 % of the one asked
// for. A driver may encode a standard rate back as its own code (B9600 rather than
// BOTHER) and may report the rate its divisor really gives; both are fine.
bool DriverKeptRates(const KernelTermios& requested, const KernelTermios& actual);

}  // namespace orvante::serial
