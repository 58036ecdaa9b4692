#include <windows.h>

#include "serial/port_open_result.h"

namespace orvante::serial {

PortOpenStatus ClassifyOpenError(const SysError& error) {
    switch (static_cast<DWORD>(error.code)) {
        case ERROR_ACCESS_DENIED:  // CreateFile on a port another program holds
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return PortOpenStatus::kBusy;
        case ERROR_PRIVILEGE_NOT_HELD:
            return PortOpenStatus::kNoPermission;
        case ERROR_NOT_READY:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
            return PortOpenStatus::kLost;
        default:
            // ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_INVALID_NAME, ...
            return PortOpenStatus::kNotFound;
    }
}

}  // namespace orvante::serial
