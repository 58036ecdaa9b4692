// The serial channel's owner, seen from the window: what the monitor hands over is
// handled on the window thread, and the channel's boxes go through the window layer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "protocol/frame_receiver.h"
#include "serial/serial_owner.h"
#include "ui/framework.h"

namespace orvante::ui {

// Totals of the frames the window thread has been handed, with the receiver's drops.
struct ReceiverTotals {
    std::uint64_t frames = 0;
    std::uint64_t badLengths = 0;
    std::uint64_t badChecksums = 0;
    std::uint64_t FramesReceived() const { return frames; }
    std::uint64_t BadLengths() const { return badLengths; }
    std::uint64_t BadChecksums() const { return badChecksums; }
};

class WindowSerialOwner final : public serial::SerialOwner {
public:
    using Handler = std::function<void(const serial::SerialMessage&)>;
    using LossHandler = std::function<void(int port, const serial::SysError&)>;
    using FrameHandler = std::function<void(std::span<const std::uint8_t> frame)>;

    // Every message of the monitor is handed to `handler` on the window thread.
    WindowSerialOwner(Window& window, Handler handler, LossHandler lossHandler = {})
        : window_(window), handler_(std::move(handler)), lossHandler_(std::move(lossHandler)) {}

    // Frames are assembled where the bytes arrive, on the monitor thread, and only whole
    // frames cross to the window thread, in order, to `onWindowThread`; the monitor does
    // not wait for them. `onMonitorThread` sees each frame there first, after it has
    // been handed over (so that nothing it sets off is logged before the frame itself).
    // The other notifications of the channel are not handed over: bytes that make no
    // frame cost the window thread nothing.
    struct Frames {
        FrameHandler onWindowThread;
        FrameHandler onMonitorThread;
    };
    // A lost line likewise: `onMonitorThread` where the loss is seen, before the
    // channel's box, then `onWindowThread`.
    struct Losses {
        LossHandler onMonitorThread;
        LossHandler onWindowThread;
    };
    WindowSerialOwner(Window& window, Frames frames, Losses losses = {});

    // Window thread, with no monitor running: the next line starts with an empty receiver.
    void ResetReceiver() { receiver_->Reset(); }
    // Window thread: the frames handed over so far, and the receiver's drops.
    const ReceiverTotals& Totals() const { return *totals_; }

    void SendSerialMessages(std::vector<serial::SerialMessage> messages,
                            std::function<bool()> current,
                            const std::function<bool()>& abandon) override;
    void NotifyDeviceLost(int port, const serial::SysError& error,
                          std::function<bool()> current) override {
        if (lossOnMonitorThread_ && current()) lossOnMonitorThread_(port, error);
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
    void SendMessages(std::vector<serial::SerialMessage> messages, std::function<bool()> current,
                      const std::function<bool()>& abandon);
    void SendFrames(const std::vector<serial::SerialMessage>& messages,
                    std::function<bool()> current);

    Window& window_;
    Handler handler_;
    LossHandler lossHandler_;
    LossHandler lossOnMonitorThread_;
    Frames frames_;
    // Used by the monitor thread while one runs; reset by the window thread between.
    std::unique_ptr<protocol::FrameReceiver> receiver_ =
        std::make_unique<protocol::FrameReceiver>();
    // Window thread only; shared with deliveries, which may run after this owner is gone
    // (they then find their line retired and touch nothing).
    std::shared_ptr<ReceiverTotals> totals_ = std::make_shared<ReceiverTotals>();
};

}  // namespace orvante::ui
