// What a serial channel needs from whoever owns it. The channel lives below the window
// layer, so the owner implements this: the module link, and in the channel's tests and
// benchmark a plain window owner.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/sys_error.h"

namespace orvante::serial {

// Notification messages of the channel, with the values the window logic knows them by.
inline constexpr unsigned kWmUser = 0x0400;
inline constexpr unsigned WM_SERIAL_BREAK = kWmUser + 1;
inline constexpr unsigned WM_SERIAL_CTS = kWmUser + 2;
inline constexpr unsigned WM_SERIAL_ERR = kWmUser + 4;
inline constexpr unsigned WM_SERIAL_RING = kWmUser + 5;
inline constexpr unsigned WM_SERIAL_RXCHAR = kWmUser + 7;
inline constexpr unsigned WM_SERIAL_RXFLAG = kWmUser + 8;

struct SerialMessage {
    unsigned message;  // one of WM_SERIAL_*
    unsigned wParam;   // the received byte, 0 to 255, for WM_SERIAL_RXCHAR; otherwise 0
    int lParam;        // the port number
};

class SerialOwner {
public:
    virtual ~SerialOwner() = default;

    // Synchronous delivery: the window thread handles each message in order, and the
    // call returns once the last one has been handled, or as soon as `abandon` holds
    // (checked on every WakeWaiter): a channel being stopped must not wait for a window
    // that is itself waiting, deeper in its stack, for the channel. An abandoned
    // delivery still runs later; `current` (window thread, safe to call after the
    // channel has gone) then says whether its messages may still be handled, and they
    // are dropped when it is false. Called by the monitor thread.
    virtual void SendSerialMessages(std::vector<SerialMessage> messages,
                                    std::function<bool()> current,
                                    const std::function<bool()>& abandon) = 0;

    // The monitor is ending because the device went away (unplugged, the line hung up);
    // the port is closed, and the channel's error box follows this call. Called by the
    // monitor thread, which is the place to end at once what rides on the line (a
    // transfer), before the box, however long that stays open. What concerns the
    // window the owner handles on the window thread, and only while `current` holds
    // there (no port was opened or closed since); `current` may be asked on any thread.
    virtual void NotifyDeviceLost(int port, const platform::SysError& error,
                                  std::function<bool()> current) = 0;

    // Called on the window thread: returns once `done` holds, handling deliveries to
    // the window (such as the monitor's) while it waits, so that a monitor blocked in
    // SendSerialMessages can finish. `done` is re-checked whenever WakeWaiter is called.
    virtual void WaitServingDeliveries(const std::function<bool()>& done) = 0;
    virtual void WakeWaiter() = 0;

    // A box with no owner window, a stop icon and an OK button; usable from any
    // thread. On the window thread it returns once the operator has closed it.
    virtual void ShowStopBox(const std::string& text, const std::string& caption) = 0;
    // An OK box captioned with the application name.
    virtual void ShowMessageBox(const std::string& text) = 0;
};

}  // namespace orvante::serial
