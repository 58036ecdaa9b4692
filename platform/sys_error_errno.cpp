// The C library's error numbers, the same on both systems: on Linux every call's, on
// Windows the file calls'.
#include <cerrno>

#include "platform/sys_error.h"

namespace orvante::platform {

ErrorCategory CategoryOfErrno(int code) {
    switch (code) {
        case EIO:  // a hang-up, or a device pulled while open
        case EPIPE:
            return ErrorCategory::kDeviceGone;
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case ENOTDIR:
#ifdef ELOOP
        case ELOOP:
#endif
            return ErrorCategory::kNotFound;
        case EBUSY:
        case EWOULDBLOCK:  // a lock another program holds
            return ErrorCategory::kBusy;
        case EACCES:
        case EPERM:
        case EROFS:
            return ErrorCategory::kNoPermission;
        default:
            return ErrorCategory::kOther;
    }
}

}  // namespace orvante::platform
