#include <windows.h>

#include "protocol/log_entry.h"

namespace orvante::protocol {

TimeOfDay LocalTimeOfDay() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    return {local.wHour, local.wMinute, local.wSecond};
}

}  // namespace orvante::protocol
