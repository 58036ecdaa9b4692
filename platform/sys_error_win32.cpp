#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/sys_error.h"
#include "platform/wide_text.h"

namespace orvante::platform {

SysError SysError::FromErrno(int code) {
    char buffer[256] = {};
    if (strerror_s(buffer, sizeof buffer, code) != 0) {
        return SysError{code, "Unknown error " + std::to_string(code), CategoryOfErrno(code)};
    }
    return SysError{code, buffer, CategoryOfErrno(code)};
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
    const int number = static_cast<int>(code);
    if (text.empty())
        return SysError{number, "Error " + std::to_string(code), CategoryOfSystemCode(code)};
    return SysError{number, Utf8FromWide(text), CategoryOfSystemCode(code)};
}

SysError SysError::FromDeviceCall(unsigned long code) {
    SysError error = FromSystemCode(code);
    if (code == ERROR_ACCESS_DENIED) error.category = ErrorCategory::kDeviceGone;
    return error;
}

ErrorCategory CategoryOfSystemCode(unsigned long code) {
    switch (code) {
        case ERROR_NOT_READY:  // what a pulled USB adapter's port answers
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_INVALID_HANDLE:
        case ERROR_BAD_COMMAND:
        case ERROR_BROKEN_PIPE:
            return ErrorCategory::kDeviceGone;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_UNIT:
        case ERROR_DEV_NOT_EXIST:
            return ErrorCategory::kNotFound;
        case ERROR_ACCESS_DENIED:  // opening a port another program holds
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return ErrorCategory::kBusy;
        case ERROR_PRIVILEGE_NOT_HELD:
            return ErrorCategory::kNoPermission;
        default:
            return ErrorCategory::kOther;
    }
}

}  // namespace orvante::platform
