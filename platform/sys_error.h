// An operating-system failure, recorded at the point where the call failed, with its
// kind decided there: the only place that reads the system's error numbers.
#pragma once

#include <string>

namespace orvante::platform {

enum class ErrorCategory {
    kDeviceGone,    // the device went away: unplugged, hung up, no longer served
    kNotFound,      // nothing (usable) is there by that name
    kBusy,          // another program holds it
    kNoPermission,  // this user may not
    kOther,
};

struct SysError {
    int code = 0;      // errno; on Windows a system error code where a Win32 call failed
    std::string text;  // the system's text for it, without a line end
    ErrorCategory category = ErrorCategory::kOther;

    // A C library failure (files, and every call on Linux).
    static SysError FromErrno(int code);
#ifdef _WIN32
    // A Win32 call's failure, GetLastError's code, with the system's text.
    static SysError FromSystemCode(unsigned long code);
    // The same for a call on a device handle already open, where a refused access means
    // the driver dropped the handle (the device went away), not that the port is taken.
    static SysError FromDeviceCall(unsigned long code);
#endif

    // A line that failed so is gone for good: its device went away or is no longer there.
    bool IsDeviceLost() const {
        return category == ErrorCategory::kDeviceGone || category == ErrorCategory::kNotFound;
    }
};

// The kind of an errno value; on Windows also of a system error code.
ErrorCategory CategoryOfErrno(int code);
#ifdef _WIN32
ErrorCategory CategoryOfSystemCode(unsigned long code);
#endif

}  // namespace orvante::platform
