// The port layer: an open serial device with the operations the channel relies on,
// over POSIX termios. One object owns one file descriptor.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/sys_error.h"
#include "serial/kernel_termios.h"

namespace orvante::serial {

class PortDevice {
public:
    PortDevice() = default;
    ~PortDevice();
    PortDevice(const PortDevice&) = delete;
    PortDevice& operator=(const PortDevice&) = delete;

    // Opens the device read/write, non-blocking, without making it the controlling
    // terminal, and takes it exclusively (TIOCEXCL and flock). A device held elsewhere,
    // by this process or another, fails with EBUSY. Closes any device held before.
    bool Open(const std::string& path, platform::SysError* error);
    // Clears the exclusive flag and closes. Harmless when nothing is open.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    // Reads the current kernel settings (TCGETS2).
    bool GetState(KernelTermios* state, platform::SysError* error) const;
    // Writes the settings (TCSETS2), reads them back and fails with EINVAL when the
    // driver did not take the requested rate.
    bool SetState(const KernelTermios& state, platform::SysError* error);
    // Asserts or drops RTS.
    bool SetRts(bool on, platform::SysError* error);

    // Empties both directions of the driver's queues.
    void Purge();
    // Bytes waiting in the input queue (FIONREAD); 0 on failure.
    std::size_t InputCount() const;

    // One non-blocking read: > 0 bytes read, 0 nothing available (EAGAIN),
    // -1 failure with *error set (a hang-up reads as EIO).
    ssize_t Read(std::uint8_t* buffer, std::size_t size, platform::SysError* error);
    // One non-blocking write: bytes written (0 when the queue is full), -1 on failure.
    ssize_t Write(const std::uint8_t* data, std::size_t size, platform::SysError* error);

private:
    int fd_ = -1;
};

}  // namespace orvante::serial
