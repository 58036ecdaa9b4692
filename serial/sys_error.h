// An operating-system failure, recorded at the point where the call failed.
#pragma once

#include <string>

namespace orvante::serial {

struct SysError {
    int code = 0;      // errno
    std::string text;  // strerror text of code

    static SysError FromErrno(int code);
    bool IsDeviceLost() const;  // EIO, ENXIO, ENODEV: the device went away
};

}  // namespace orvante::serial
