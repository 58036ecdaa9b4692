// The serial channel's owner, seen from the window: messages from the monitor are
// handled on the window thread, and the channel's boxes go through the window layer.
#pragma once

#include <functional>
#include <memory>

#include "serial/serial_owner.h"
#include "ui/framework.h"

namespace orvante::ui {

class WindowSerialOwner final : public serial::SerialOwner {
public:
    using Handler = std::function<void(const serial::SerialMessage&)>;
    using LossHandler = std::function<void(int port, const serial::SysError&)>;

    WindowSerialOwner(Window& window, Handler handler, LossHandler lossHandler = {})
        : window_(window), handler_(std::move(handler)), lossHandler_(std::move(lossHandler)) {}

    void SendSerialMessages(std::vector<serial::SerialMessage> messages,
                            std::function<bool()> current,
                            const std::function<bool()>& abandon) override {
        // The task owns its messages: it may run after the monitor stopped waiting.
        auto owned =
            std::make_shared<const std::vector<serial::SerialMessage>>(std::move(messages));
        window_.Thread().SendUnlessAbandoned(
            [handler = handler_, owned, current = std::move(current)] {
                if (!current()) return;
                for (const auto& message : *owned) handler(message);
            },
            abandon);
    }
    void NotifyDeviceLost(int port, const serial::SysError& error,
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
    // From the monitor thread the box is handed to the window thread and not waited
    // for: the window thread may itself be waiting for the monitor to end.
    void ShowStopBox(const std::string& text, const std::string& caption) override {
        if (window_.Thread().IsWindowThread()) {
            window_.MessageBoxNoOwner(text, caption, BoxButtons::kOk, BoxIcon::kStop);
            return;
        }
        window_.Thread().Post([&window = window_, text, caption] {
            window.MessageBoxNoOwner(text, caption, BoxButtons::kOk, BoxIcon::kStop);
        });
    }
    void ShowMessageBox(const std::string& text) override {
        if (window_.Thread().IsWindowThread()) {
            window_.MessageBox(text, BoxButtons::kOk);
        } else {
            window_.Thread().Send([&] { window_.MessageBox(text, BoxButtons::kOk); });
        }
    }

private:
    Window& window_;
    Handler handler_;
    LossHandler lossHandler_;
};

}  // namespace orvante::ui
