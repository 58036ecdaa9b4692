// An operating-system failure, recorded at the point where the call failed.
#pragma once

#include <string>

namespace orvante::serial {

struct SysError {
    int code = 0;      // errno; on Windows a port call's system error code
    std::string text;  // the system's text for it, without a line end

    // A C library failure (files).
    static SysError FromErrno(int code);
#ifdef _WIN32
    // A Win32 call's failure, GetLastError's code, with the system's text.
    static SysError FromSystemCode(unsigned long code);
#endif
    // The device went away (EIO, ENXIO, ENODEV; on Windows a handle the driver no
    // longer serves).
    bool IsDeviceLost() const;
};

}  // namespace orvante::serial
