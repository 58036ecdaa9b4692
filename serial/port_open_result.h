// What became of opening a port, in a form a program can act on. The channel shows its
// own error box for a refused line setting; every other text is its caller's to compose.
#pragma once

#include <string>

#include "platform/sys_error.h"

namespace orvante::serial {

enum class PortOpenStatus {
    kOpened,
    kNotFound,         // no such port, or no device behind it
    kBusy,             // another program holds it
    kNoPermission,     // the device may not be opened by this user
    kSettingsRefused,  // open, but a line setting was not taken
    kLost,             // the device went away while being opened
    kSystemFailure,    // the system refused a resource of the channel; its box has said which
};

struct PortOpenResult {
    PortOpenStatus status = PortOpenStatus::kNotFound;
    // The system's reason, where there is one.
    platform::SysError error;
    // With kSettingsRefused: the call that refused ("SetCommState()", ...).
    std::string failedCall;

    // Whether the channel holds the port now: also after a refused line setting, which
    // leaves the port open as it was configured before.
    bool PortIsOpen() const {
        return status == PortOpenStatus::kOpened || status == PortOpenStatus::kSettingsRefused;
    }
};

// The kind of a failure of the device's open call.
PortOpenStatus ClassifyOpenError(const platform::SysError& error);

}  // namespace orvante::serial
