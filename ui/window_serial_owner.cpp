#include "ui/window_serial_owner.h"

namespace orvante::ui {

WindowSerialOwner::WindowSerialOwner(Window& window, Frames frames, Losses losses)
    : window_(window),
      lossHandler_(std::move(losses.onWindowThread)),
      lossOnMonitorThread_(std::move(losses.onMonitorThread)),
      frames_(std::move(frames)) {}

void WindowSerialOwner::SendSerialMessages(std::vector<serial::SerialMessage> messages,
                                           std::function<bool()> current,
                                           const std::function<bool()>& abandon) {
    if (frames_.onWindowThread) {
        SendFrames(messages, std::move(current));
    } else {
        SendMessages(std::move(messages), std::move(current), abandon);
    }
}

void WindowSerialOwner::SendMessages(std::vector<serial::SerialMessage> messages,
                                     std::function<bool()> current,
                                     const std::function<bool()>& abandon) {
    // The task owns its messages: it may run after the monitor stopped waiting.
    auto owned = std::make_shared<const std::vector<serial::SerialMessage>>(std::move(messages));
    window_.Thread().SendUnlessAbandoned(
        [handler = handler_, owned, current = std::move(current)] {
            if (!current()) return;
            for (const auto& message : *owned) handler(message);
        },
        abandon);
}

// Monitor thread. The frames of one read cross together, and the window thread runs
// every delivery queued by the time it wakes: frames that come faster than it runs
// are handled several to a wake-up.
void WindowSerialOwner::SendFrames(const std::vector<serial::SerialMessage>& messages,
                                   std::function<bool()> current) {
    using Result = protocol::FrameReceiver::Result;
    std::vector<std::vector<std::uint8_t>> frames;
    bool dropped = false;
    for (const serial::SerialMessage& message : messages) {
        if (message.message != serial::WM_SERIAL_RXCHAR) continue;
        const Result result = receiver_->Feed(static_cast<std::uint8_t>(message.wParam));
        if (result == Result::kFrame) {
            frames.emplace_back(receiver_->Frame().begin(), receiver_->Frame().end());
        } else if (result != Result::kIncomplete) {
            dropped = true;
        }
    }
    if (frames.empty() && !dropped) return;
    const ReceiverTotals drops{0, receiver_->BadLengths(), receiver_->BadChecksums()};
    auto owned = std::make_shared<const std::vector<std::vector<std::uint8_t>>>(std::move(frames));
    window_.Thread().Post(
        [handler = frames_.onWindowThread, owned, drops, current, totals = totals_] {
            if (!current()) return;
            for (const auto& frame : *owned) {
                ++totals->frames;
                handler(frame);
            }
            totals->badLengths = drops.badLengths;
            totals->badChecksums = drops.badChecksums;
        });
    if (!frames_.onMonitorThread) return;
    for (const auto& frame : *owned) {
        if (!current()) return;  // a stopping monitor's frames belong to a line given up
        frames_.onMonitorThread(frame);
    }
}

}  // namespace orvante::ui
