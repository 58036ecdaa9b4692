// Serial ports on this machine as numbered COM ports: the device map, the baud-rate
// table and the reading of a port number from a list item.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace orvante::serial {

struct PortEntry {
    std::string devicePath;   // what OpenPort opens, e.g. /dev/ttyUSB0 or the link in the ports dir
    std::string displayName;  // what follows the number in the list, e.g. "ttyUSB0"
};

// Port number -> device.
using DeviceMap = std::map<int, PortEntry>;

// The machine's serial ports by number: on Linux the ports directory and the serial
// hardware (port_list_posix.h), on Windows the system's list of serial ports.
DeviceMap ScanDeviceMap();
// What opens a port the list does not show: on Windows its name ("\\.\COM<n>"), which
// the system may know without listing it; on Linux nothing, since only the list maps
// numbers to devices.
std::optional<std::string> UnlistedPortPath(int port);

// The highest port number: as high as Windows numbers its COM ports.
inline constexpr int kMaxPortNumber = 4096;

// The one reading of a port's name the operator types or the system lists: "COM" in any
// case, then n in plain decimal digits (no sign, blank or leading zero), 1 to
// kMaxPortNumber. Nothing for any other text. "COM7" and "com7" -> 7.
std::optional<int> ComPortNumber(std::string_view name);
// n alone, by the same rules: "7" -> 7.
std::optional<int> PortNumberOf(std::string_view digits);

// The list item for a port: "COM<n> (<display name>)".
std::string PortItemText(int number, const PortEntry& entry);

// The window's reading of its port list's item, as the console always read it: drops
// the first three characters and reads the decimal number at the start of the rest
// (blanks, sign, digits, fraction, exponent), truncated toward zero; 0 when nothing can
// be read. "COM3" -> 3, "COM12 (ttyS11)" -> 12, "COM" -> 0.
int PortNumberFromName(std::string_view text);

// Index of the baud combo -> rate; 13 entries, 300 to 230400. Out of range gives 0.
int BaudRateTable(int index);
inline constexpr int kBaudRateCount = 13;

}  // namespace orvante::serial
