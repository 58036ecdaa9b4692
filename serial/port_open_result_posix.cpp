#include "serial/port_open_result.h"

#include <cerrno>

namespace orvante::serial {

PortOpenStatus ClassifyOpenError(const SysError& error) {
    switch (error.code) {
        case EBUSY:
        case EWOULDBLOCK:
            return PortOpenStatus::kBusy;
        case EACCES:
        case EPERM:
        case EROFS:
            return PortOpenStatus::kNoPermission;
        case EIO:
        case EPIPE:
            return PortOpenStatus::kLost;
        default:
            // ENOENT, ENXIO, ENODEV, ENOTDIR, ELOOP, ...: nothing usable is there.
            return PortOpenStatus::kNotFound;
    }
}

}  // namespace orvante::serial
