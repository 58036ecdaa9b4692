// What each system's error numbers are taken for: the kind of failure, what opening a
// port makes of it, and the reason the log gives when a line in use fails so.
#include "platform/sys_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "serial/port_open_result.h"
#include "session/module_link.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace orvante::platform {
namespace {

using serial::PortOpenStatus;

enum class Source { kErrno, kSystemCall, kDeviceCall };

struct ErrorRow {
    Source source;
    unsigned long code;
    ErrorCategory category;
    PortOpenStatus whenOpening;
    const char* lostReason;  // nullptr: the system's own text
};

SysError Made(const ErrorRow& row) {
    switch (row.source) {
        case Source::kErrno:
            return SysError::FromErrno(static_cast<int>(row.code));
#ifdef _WIN32
        case Source::kSystemCall:
            return SysError::FromSystemCode(row.code);
        case Source::kDeviceCall:
            return SysError::FromDeviceCall(row.code);
#else
        default:
            break;
#endif
    }
    return {};
}

constexpr const char* kUnplugged = "设备已拔出或线路已挂断";
constexpr const char* kGone = "设备已不存在";

const ErrorRow kRows[] = {
    {Source::kErrno, EIO, ErrorCategory::kDeviceGone, PortOpenStatus::kLost, kUnplugged},
    {Source::kErrno, EPIPE, ErrorCategory::kDeviceGone, PortOpenStatus::kLost, kUnplugged},
    {Source::kErrno, ENXIO, ErrorCategory::kNotFound, PortOpenStatus::kNotFound, kGone},
    {Source::kErrno, ENODEV, ErrorCategory::kNotFound, PortOpenStatus::kNotFound, kGone},
    {Source::kErrno, ENOENT, ErrorCategory::kNotFound, PortOpenStatus::kNotFound, kGone},
    {Source::kErrno, EBUSY, ErrorCategory::kBusy, PortOpenStatus::kBusy, nullptr},
    {Source::kErrno, EACCES, ErrorCategory::kNoPermission, PortOpenStatus::kNoPermission, nullptr},
    {Source::kErrno, EPERM, ErrorCategory::kNoPermission, PortOpenStatus::kNoPermission, nullptr},
    {Source::kErrno, EINVAL, ErrorCategory::kOther, PortOpenStatus::kNotFound, nullptr},
#ifdef _WIN32
    // A pulled USB adapter, and Wine's port once its pseudo-terminal has hung up.
    {Source::kDeviceCall, ERROR_NOT_READY, ErrorCategory::kDeviceGone, PortOpenStatus::kLost,
     kUnplugged},
    {Source::kDeviceCall, ERROR_DEVICE_REMOVED, ErrorCategory::kDeviceGone, PortOpenStatus::kLost,
     kUnplugged},
    {Source::kDeviceCall, ERROR_INVALID_HANDLE, ErrorCategory::kDeviceGone, PortOpenStatus::kLost,
     kUnplugged},
    // A refused access: at the open another program holds the port, on an open handle
    // the driver has dropped it.
    {Source::kSystemCall, ERROR_ACCESS_DENIED, ErrorCategory::kBusy, PortOpenStatus::kBusy,
     nullptr},
    {Source::kDeviceCall, ERROR_ACCESS_DENIED, ErrorCategory::kDeviceGone, PortOpenStatus::kLost,
     kUnplugged},
    {Source::kSystemCall, ERROR_SHARING_VIOLATION, ErrorCategory::kBusy, PortOpenStatus::kBusy,
     nullptr},
    {Source::kSystemCall, ERROR_FILE_NOT_FOUND, ErrorCategory::kNotFound, PortOpenStatus::kNotFound,
     kGone},
    {Source::kDeviceCall, ERROR_DEV_NOT_EXIST, ErrorCategory::kNotFound, PortOpenStatus::kNotFound,
     kGone},
    {Source::kSystemCall, ERROR_PRIVILEGE_NOT_HELD, ErrorCategory::kNoPermission,
     PortOpenStatus::kNoPermission, nullptr},
    {Source::kDeviceCall, ERROR_INVALID_PARAMETER, ErrorCategory::kOther, PortOpenStatus::kNotFound,
     nullptr},
#endif
};

TEST(SysErrorTest, EachCodeIsTakenForItsKindWhenOpeningAndWhenLost) {
    for (const ErrorRow& row : kRows) {
        SCOPED_TRACE("source " + std::to_string(static_cast<int>(row.source)) + ", code " +
                     std::to_string(row.code));
        const SysError error = Made(row);
        EXPECT_FALSE(error.text.empty());
        EXPECT_EQ(error.category, row.category);
        EXPECT_EQ(serial::ClassifyOpenError(error), row.whenOpening);
        const std::string reason = row.lostReason ? row.lostReason : "系统错误 " + error.text;
        EXPECT_EQ(session::DeviceLostText(7, error), "串口COM7已断开：" + reason);
        EXPECT_EQ(error.IsDeviceLost(), row.lostReason != nullptr);
    }
}

}  // namespace
}  // namespace orvante::platform
