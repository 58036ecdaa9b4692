#include "serial/port_open_result.h"

namespace orvante::serial {

PortOpenStatus ClassifyOpenError(const platform::SysError& error) {
    switch (error.category) {
        case platform::ErrorCategory::kBusy:
            return PortOpenStatus::kBusy;
        case platform::ErrorCategory::kNoPermission:
            return PortOpenStatus::kNoPermission;
        case platform::ErrorCategory::kDeviceGone:
            return PortOpenStatus::kLost;
        case platform::ErrorCategory::kNotFound:
        case platform::ErrorCategory::kOther:
            break;
    }
    // Nothing usable is there.
    return PortOpenStatus::kNotFound;
}

}  // namespace orvante::serial
