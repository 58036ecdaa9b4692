// What a channel needs of the operating system: one serial port, opened exclusively,
// and the monitor's wait on it together with two manual-reset events, stop and send.
// Each platform implements it in a file of its own (port_io_posix.cpp: termios2, poll
// and eventfds; port_io_win32.cpp: the Win32 comm API and WaitForMultipleObjects), so
// the channel above it and everything that includes this header stay portable. A port
// whose name an in-process opener takes (in_process_port.h) is opened there instead.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/sys_error.h"
#include "serial/line_settings.h"

namespace orvante::serial {

// A call that failed while setting a port up, by the name its error box gives it
// ("SetCommState()", ...), and the system's reason.
struct CallFailure {
    std::string call;
    platform::SysError error;
};

// What one wait found ready; several may be at once.
struct PortWake {
    bool stop = false;
    bool input = false;            // bytes have arrived
    bool writable = false;         // a write the port did not take whole may go on
    bool lost = false;             // the port reports a hang-up or an error: the device is gone
    platform::SysError lostError;  // with `lost`: the reason to report
    bool send = false;

    bool AnyFromPort() const { return input || writable || lost; }
};

class PortIo {
public:
    PortIo();
    ~PortIo();
    PortIo(const PortIo&) = delete;
    PortIo& operator=(const PortIo&) = delete;

    // The stop and send events could not be made; without them no port may be opened,
    // since its monitor could never be woken or stopped.
    const std::optional<CallFailure>& EventsFailure() const;
    // Signalled until reset, however often set. Any thread.
    void SetStop();
    void ResetStop();
    void SetSend();
    void ResetSend();

    // The error of a port number that names no device.
    static platform::SysError NoSuchDevice();
    // Opens the device read/write, exclusively, for waiting without blocking; a device
    // held elsewhere fails. Closes any port held before.
    bool Open(const std::string& path, platform::SysError* error);
    void Close();  // harmless when nothing is open
    bool IsOpen() const;
    // Sets the line from a definition text ("baud=9600 parity=N data=8 stop=1") with
    // `base`'s other fields, in raw mode with RTS as `base` asks, and reads the rate back:
    // the settings in force, or the call that refused them.
    std::optional<CallFailure> Configure(const std::string& definition, LineSettings& settings);
    // Empties both directions of the driver's queues.
    void Purge();
    // Bytes waiting in the input queue; 0 on failure.
    std::size_t InputCount();
    // Takes what is waiting, up to `size`, never waiting itself: > 0 bytes read, 0 none
    // waiting, -1 a failure with *error set.
    std::ptrdiff_t Read(std::uint8_t* buffer, std::size_t size, platform::SysError* error);
    // Hands bytes to the port without waiting: the count taken (0 when it has no room
    // now; Wait with `wantWrite` says when it has), -1 a failure with *error set.
    std::ptrdiff_t Write(const std::uint8_t* data, std::size_t size, platform::SysError* error);

    // Monitor thread: waits until the stop event, the port (input, a hang-up; room to
    // write with `wantWrite`) or the send event is ready. False when the wait itself
    // failed, with *error set.
    bool Wait(bool wantWrite, PortWake* wake, platform::SysError* error);
    // Waits up to `timeout` for the stop event alone: true when it is set (or the wait
    // failed, which ends a wait just as well).
    bool WaitForStop(std::chrono::nanoseconds timeout);

private:
    // Wait, for an in-process port.
    bool WaitInProcess(bool wantWrite, PortWake* wake, platform::SysError* error);

    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace orvante::serial
