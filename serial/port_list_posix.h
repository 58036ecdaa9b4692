// Where the Linux port list comes from: the ports directory of COM<n> links, and the
// serial hardware in sysfs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "serial/port_list.h"

namespace orvante::serial {

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

// The stable number of a kernel tty name such as "ttyS0" (1), "ttyUSB0" (33),
// "ttyACM0" (65); nothing for names outside these families (those are numbered by
// ScanDeviceMap from 97 on).
std::optional<int> HardwarePortNumber(std::string_view kernelName);

}  // namespace orvante::serial
