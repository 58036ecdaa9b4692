// Ports that live inside the program rather than in the system: a name ("demo") that
// an opener registered at start opens as an InProcessPort instead of a device. The port
// layer chooses per port when it opens one; the channel above it runs as over any port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sys_error.h"
#include "serial/line_settings.h"
#include "serial/port_list.h"

namespace orvante::serial {

struct CallFailure;

// The device side of an in-process port. Calls come from the channel's threads under
// its port lock; the port's own threads reach the channel only through `wake`.
class InProcessPort {
public:
    virtual ~InProcessPort() = default;

    // Called (from any thread) whenever input arrives or the port is lost: wakes the
    // monitor, which then asks InputCount and IsLost. Given once, before any other call.
    virtual void SetWake(std::function<void()> wake) = 0;
    // The line as the definition text gives it; the rate sets the port's pacing.
    virtual std::optional<CallFailure> Configure(const std::string& definition,
                                                 LineSettings& settings) = 0;
    virtual void Purge() = 0;
    virtual std::size_t InputCount() = 0;
    // As PortIo::Read and PortIo::Write: never waits.
    virtual std::ptrdiff_t Read(std::uint8_t* buffer, std::size_t size,
                                platform::SysError* error) = 0;
    virtual std::ptrdiff_t Write(const std::uint8_t* data, std::size_t size,
                                 platform::SysError* error) = 0;
    // The device went away; *error says why.
    virtual bool IsLost(platform::SysError* error) = 0;
};

// Opens the port a name stands for, or fails with *error (not found, busy, ...).
using InProcessPortOpener =
    std::function<std::unique_ptr<InProcessPort>(const std::string& name, platform::SysError*)>;

// Names `accepts` takes are opened by `open` from now on. Programs call this at start,
// before any port is opened.
void RegisterInProcessPorts(std::function<bool(const std::string& name)> accepts,
                            InProcessPortOpener open);
void ForgetInProcessPorts();  // tests: back to the system's ports alone
// Whether `path` names an in-process port.
bool IsInProcessPortName(const std::string& path);
// Opens it; nothing with *error when it cannot be opened. Only for names it accepts.
std::unique_ptr<InProcessPort> OpenInProcessPort(const std::string& path,
                                                 platform::SysError* error);

// The first number the port list gives an in-process port: far above what the system's
// ports take (COM1..COM96 for hardware on Linux, a few more for other ttys, COM99 up for
// published virtual modules; Windows numbers its ports from COM1 up as they come).
inline constexpr int kFirstInProcessPortNumber = 200;
// Puts `path` in the port list under `label`: at kFirstInProcessPortNumber, or the next
// number the system's ports leave free.
void ListInProcessPort(const std::string& path, const std::string& label);
// Adds the listed in-process ports to a scanned map.
void AddListedInProcessPorts(DeviceMap* map);

}  // namespace orvante::serial
