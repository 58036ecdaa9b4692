#include <windows.h>

#include "platform/local_time.h"

namespace orvante::platform {

TimeOfDay LocalTimeOfDay() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    return {local.wHour, local.wMinute, local.wSecond};
}

}  // namespace orvante::platform
