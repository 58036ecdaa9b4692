// A serial channel's owner that hands every message of the monitor to the window thread
// one by one: the channel's own tests and benchmark drive the channel through it. The
// console itself owns its channel through the module link.
#pragma once

#include <functional>

#include "serial/serial_owner.h"
#include "ui/channel_boxes.h"
#include "ui/framework.h"

namespace orvante::test {

class WindowSerialOwner final : public serial::SerialOwner {
public:
    using Handler = std::function<void(const serial::SerialMessage&)>;
    using LossHandler = std::function<void(int port, const platform::SysError&)>;

    // Every message of the monitor is handed to `handler` on the window thread.
    WindowSerialOwner(ui::Window& window, Handler handler, LossHandler lossHandler = {})
        : window_(window), handler_(std::move(handler)), lossHandler_(std::move(lossHandler)) {}

    void SendSerialMessages(std::vector<serial::SerialMessage> messages,
                            std::function<bool()> current,
                            const std::function<bool()>& abandon) override;
    void NotifyDeviceLost(int port, const platform::SysError& error,
                          std::function<bool()> current) override {
        if (!lossHandler_) return;
        window_.Thread().Post([handler = lossHandler_, port, error, current = std::move(current)] {
            if (current()) handler(port, error);
        });
    }
    void WaitServingDeliveries(const std::function<bool()>& done) override {
        window_.Thread().WaitServing(done);
    }
    void WakeWaiter() override { window_.Thread().Wake(); }
    void ShowStopBox(const std::string& text, const std::string& caption) override {
        ui::ShowChannelStopBox(window_, text, caption);
    }
    void ShowMessageBox(const std::string& text) override {
        ui::ShowChannelMessageBox(window_, text);
    }

private:
    ui::Window& window_;
    Handler handler_;
    LossHandler lossHandler_;
};

}  // namespace orvante::test
