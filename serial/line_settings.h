// Line settings of a serial port: our own record of what a Win32 DCB carries, and the
// parser of the line definition text.
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

}  // namespace orvante::serial
