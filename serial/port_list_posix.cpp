#include "serial/port_list_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <tuple>
#include <vector>

#include "serial/in_process_port.h"

namespace orvante::serial {

namespace fs = std::filesystem;

namespace {

constexpr int kFamilyMembers = 32;       // kernel numbers 0..31 of a family get fixed numbers
constexpr int kFirstOtherHardware = 97;  // first number of the hardware outside the families

struct TtyFamily {
    std::string_view prefix;
    int firstPort;
};
constexpr std::array<TtyFamily, 3> kFamilies = {{{"ttyS", 1}, {"ttyUSB", 33}, {"ttyACM", 65}}};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A decimal number written without sign or leading zeros, as the kernel and our links
// write them; nothing for anything else or a value above `limit`.
std::optional<int> ParsePlainNumber(std::string_view text, int limit) {
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), IsDigit) ||
        (text.size() > 1 && text.front() == '0')) {
        return std::nullopt;
    }
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    if (value > limit) return std::nullopt;
    return value;
}

// What the list shows for a linked device: its path below /dev ("pts/3", "ttyUSB0"),
// or its file name when it lives elsewhere.
std::string DisplayNameOf(const fs::path& device) {
    const fs::path relative = device.lexically_relative("/dev");
    if (!relative.empty() && *relative.begin() != "..") return relative.string();
    return device.filename().string();
}

std::string ReadFirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

// Calls `visit` for each entry of `dir`; a missing or unreadable directory has none.
// (The error-code forms throughout: a directory that changes under us must not throw.)
template <typename Visit>
void ForEachEntry(const std::string& dir, Visit visit) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        visit(*it);
    }
}

// Links in the ports directory name devices the console will open, so only a
// directory that is ours and that nobody else can write to is trusted: on a shared
// /tmp another user could otherwise put a port of theirs in our list.
bool IsPrivateDirectory(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The label a publisher may put beside its link, COM<n>.label: its first line, when it
// is short and printable. The virtual module labels itself "虚拟模块" this way.
std::optional<std::string> LinkLabel(const fs::path& link) {
    fs::path file = link;
    file += ".label";
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(file, ec)) || fs::file_size(file, ec) > 256) {
        return std::nullopt;
    }
    const std::string label = ReadFirstLine(file);
    if (label.empty() || label.size() > 64) return std::nullopt;
    for (unsigned char c : label) {
        if (c < 0x20 || c == 0x7F) return std::nullopt;
    }
    return label;
}

void AddLinkedPorts(const std::string& portsDir, DeviceMap* map) {
    if (!IsPrivateDirectory(portsDir)) return;
    ForEachEntry(portsDir, [map](const fs::directory_entry& entry) {
        const auto number = ComPortNumber(entry.path().filename().string());
        std::error_code ec;
        if (!number || !entry.is_symlink(ec)) return;
        // canonical() follows every link and fails for a dangling one.
        const fs::path device = fs::canonical(entry.path(), ec);
        if (ec || !IsLinkLive(entry.path().string())) return;
        (*map)[*number] = PortEntry{entry.path().string(),
                                    LinkLabel(entry.path()).value_or(DisplayNameOf(device))};
    });
}

// 8250 drivers register a fixed set of ttyS ports whether or not a UART answers; the
// ones without hardware report the UART type 0 (unknown).
bool HasRealUart(const fs::path& ttyDir) {
    std::error_code ec;
    if (!fs::exists(ttyDir / "type", ec)) return false;
    const std::string type = ReadFirstLine(ttyDir / "type");
    return !type.empty() && type != "0";
}

bool IsSerialHardware(const fs::path& ttyDir, std::string_view name) {
    std::error_code ec;
    if (!fs::exists(ttyDir / "device", ec)) return false;  // virtual consoles, ptmx, ...
    if (name.starts_with("ttyS") && ParsePlainNumber(name.substr(4), INT_MAX)) {
        return HasRealUart(ttyDir);
    }
    return true;
}

// Orders "ttyAMA2" before "ttyAMA10": by the name without its trailing number, then by
// the number.
bool NaturalLess(std::string_view a, std::string_view b) {
    const auto split = [](std::string_view s) {
        std::size_t digits = s.size();
        while (digits > 0 && IsDigit(s[digits - 1])) --digits;
        const std::string_view number = s.substr(digits);
        return std::make_tuple(s.substr(0, digits), number.size(), number);
    };
    return split(a) < split(b);
}

std::vector<std::string> SerialHardwareNames(const std::string& sysClassTty) {
    std::vector<std::string> names;
    ForEachEntry(sysClassTty, [&names](const fs::directory_entry& entry) {
        std::string name = entry.path().filename().string();
        if (IsSerialHardware(entry.path(), name)) names.push_back(std::move(name));
    });
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

PortEntry HardwareEntry(const std::string& name) {
    return PortEntry{"/dev/" + name, name};
}

void AddHardwarePorts(const std::string& sysClassTty, DeviceMap* map) {
    std::vector<std::string> others;
    for (std::string& name : SerialHardwareNames(sysClassTty)) {
        if (const auto number = HardwarePortNumber(name)) {
            map->try_emplace(*number, HardwareEntry(name));  // a linked port keeps its number
        } else {
            others.push_back(std::move(name));
        }
    }
    int next = kFirstOtherHardware;
    for (const std::string& name : others) {
        while (map->contains(next)) ++next;
        map->emplace(next, HardwareEntry(name));
    }
}

}  // namespace

// Whether someone holds the lock, found by asking for a shared lock without waiting
// and giving it back at once. A lock file that cannot be looked at this way is not
// trusted.
bool IsLinkLive(const std::string& linkPath) {
    const std::string lockPath = linkPath + kLinkLockSuffix;
    const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT;
    struct stat info {};
    bool live = false;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        live = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    }
    ::close(fd);  // also gives back a lock just taken
    return live;
}

std::string PortsDirectory() {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir != nullptr && runtimeDir[0] != '\0') {
        return std::string(runtimeDir) + "/orvante/ports";
    }
    return "/tmp/orvante-" + std::to_string(::getuid()) + "/ports";
}

DeviceMap ScanDeviceMap(const std::string& portsDir, const std::string& sysClassTty) {
    DeviceMap map;
    AddLinkedPorts(portsDir, &map);
    AddHardwarePorts(sysClassTty, &map);
    return map;
}

std::optional<std::string> UnlistedPortPath(int /*port*/) {
    return std::nullopt;
}

DeviceMap ScanDeviceMap() {
    DeviceMap map = ScanDeviceMap(PortsDirectory(), "/sys/class/tty");
    AddListedInProcessPorts(&map);
    return map;
}

std::optional<int> HardwarePortNumber(std::string_view kernelName) {
    for (const TtyFamily& family : kFamilies) {
        if (!kernelName.starts_with(family.prefix)) continue;
        const auto k = ParsePlainNumber(kernelName.substr(family.prefix.size()), INT_MAX);
        if (k && *k < kFamilyMembers) return family.firstPort + *k;
    }
    return std::nullopt;
}

}  // namespace orvante::serial
