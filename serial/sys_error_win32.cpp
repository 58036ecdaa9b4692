#include <windows.h>

#include <cstring>

#include "serial/sys_error.h"
#include "serial/wide_text.h"

namespace orvante::serial {

SysError SysError::FromErrno(int code) {
    char buffer[256] = {};
    if (strerror_s(buffer, sizeof buffer, code) != 0) {
        return SysError{code, "Unknown error " + std::to_string(code)};
    }
    return SysError{code, buffer};
}

SysError SysError::FromSystemCode(unsigned long code) {
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::wstring text = length > 0 ? std::wstring(message, length) : std::wstring();
    if (message != nullptr) LocalFree(message);
    // The system's texts end in CR LF; the texts they go into add their own line ends.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    if (text.empty()) return SysError{static_cast<int>(code), "Error " + std::to_string(code)};
    return SysError{static_cast<int>(code), Utf8FromWide(text)};
}

bool SysError::IsDeviceLost() const {
    switch (static_cast<DWORD>(code)) {
        case ERROR_INVALID_HANDLE:
        case ERROR_BAD_COMMAND:
        case ERROR_ACCESS_DENIED:  // on a handle already open: the driver dropped it
        case ERROR_NOT_READY:
        case ERROR_GEN_FAILURE:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_BROKEN_PIPE:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
            return true;
        default:
            return false;
    }
}

}  // namespace orvante::serial
