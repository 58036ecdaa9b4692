// Line settings of a serial port: our own record of what a Win32 DCB carries, the
// parser of the line definition text, and the raw-mode kernel settings built from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvante::serial {

// What the channel sets on a port: the four values of the definition text, plus
// the two fields it adjusts itself (RTS line asserted, event character).
struct LineSettings {
    int baudRate = 9600;
    char parity = 'N';  // 'N', 'O' or 'E'
    int dataBits = 8;   // 5 to 8
    int stopBits = 1;   // 1 or 2
    bool rtsEnable = false;
    char eventChar = 0;

    bool operator==(const LineSettings&) const = default;
};

// Formats the definition text "baud=%d parity=%c data=%d stop=%d".
std::string FormatLineDefinition(int baud, char parity, int dataBits, int stopBits);

// Reads a definition text of the form above into a copy of `base`. Returns nothing when
// the text does not have that form or a value is out of range (baud not positive,
// parity other than N/O/E in either case, data bits outside 5..8, stop bits other than 1/2).
std::optional<LineSettings> ParseLineDefinition(std::string_view text, const LineSettings& base);

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
