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

// Where COM<n> links are published: $XDG_RUNTIME_DIR/orvante/ports, or
// /tmp/orvante-<uid>/ports without XDG_RUNTIME_DIR.
std::string PortsDirectory();

// A publisher that runs as long as its link is valid (the virtual module) holds an
// flock on COM<n>.lock beside its link while it runs. Pseudo-terminal names are reused,
// so a link whose target exists may still belong to a publisher that has ended: a link
// with a lock file counts only while someone holds that lock. A link without one (made
// by hand) always counts.
inline constexpr const char* kLinkLockSuffix = ".lock";
bool IsLinkLive(const std::string& linkPath);

// Builds the device map: COM<n> links in `portsDir` whose target exists and that are
// live (shown by the label in COM<n>.label beside the link, if any, else by the
// device's name), then serial hardware under `sysClassTty` (default /sys/class/tty)
// numbered by kernel name; a ports-directory entry wins over hardware with the same
// number.
DeviceMap ScanDeviceMap(const std::string& portsDir, const std::string& sysClassTty);
DeviceMap ScanDeviceMap();  // PortsDirectory() and /sys/class/tty

// The stable number of a kernel tty name such as "ttyS0" (1), "ttyUSB0" (33),
// "ttyACM0" (65); nothing for names outside these families (those are numbered by
// ScanDeviceMap from 97 on).
std::optional<int> HardwarePortNumber(std::string_view kernelName);

// The list item for a port: "COM<n> (<display name>)".
std::string PortItemText(int number, const PortEntry& entry);

// Drops the first three characters and reads the decimal number at the start of the
// rest (blanks, sign, digits, fraction, exponent), truncated toward zero; 0 when
// nothing can be read. "COM3" -> 3, "COM12 (ttyS11)" -> 12, "COM" -> 0.
int PortNumberFromName(std::string_view text);

// Index of the baud combo -> rate; 13 entries, 300 to 230400. Out of range gives 0.
int BaudRateTable(int index);
inline constexpr int kBaudRateCount = 13;

}  // namespace orvante::serial
