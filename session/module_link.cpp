#include "session/module_link.h"

#include "protocol/log_entry.h"

namespace orvante::session {

namespace {

constexpr int kSendBufferSize = 512;

}  // namespace

std::string DeviceLostText(int port, const platform::SysError& error) {
    std::string reason;
    switch (error.category) {
        case platform::ErrorCategory::kDeviceGone:
            reason = "设备已拔出或线路已挂断";
            break;
        case platform::ErrorCategory::kNotFound:
            reason = "设备已不存在";
            break;
        default:
            reason = "系统错误 " + error.text;
            break;
    }
    return "串口COM" + std::to_string(port) + "已断开：" + reason;
}

ModuleLink::ModuleLink(LinkFrontEnd& front, serial::PortResolver resolver,
                       library::TransferClock& clock)
    : front_(front), channel_(std::move(resolver), this), transfer_(*this, clock) {}

ModuleLink::~ModuleLink() {
    Close();
}

void ModuleLink::Close() {
    // The worker queues frames on the channel and the monitor hands replies to the
    // transfer: both end while everything they use still exists.
    transfer_.Stop();
    transfer_.Join();
    channel_.Close();
}

serial::PortOpenResult ModuleLink::Open(int port, const LineConfig& line, std::uint32_t eventMask) {
    const serial::PortOpenResult opened =
        channel_.Open(this, port, line.baud, line.parity, line.dataBits, line.stopBits, eventMask,
                      kSendBufferSize);
    // A frame cut off by an earlier close must not swallow the first bytes of the new
    // line. Reset only now: Open has ended the old monitor, and no new one runs yet.
    receiver_.Reset();
    std::lock_guard lock(lostMutex_);
    lost_.reset();
    return opened;
}

// The entry is handed over before the frame goes out, so that the log never shows the
// reply before its request.
void ModuleLink::Send(std::span<const std::uint8_t> frame) {
    front_.Log(protocol::kSentLogText, frame);
    channel_.QueueSend(frame.data(), frame.size());
}

// A line given up (by the owner, or lost) has been told of already: a block sent after
// it goes nowhere, without a second box.
void ModuleLink::SendFrame(std::span<const std::uint8_t> frame) {
    if (!channel_.IsPortInUse()) return;
    channel_.QueueSend(frame.data(), frame.size());
}

std::optional<platform::SysError> ModuleLink::LostError() const {
    std::lock_guard lock(lostMutex_);
    return lost_;
}

ReceiverTotals ModuleLink::Totals() const {
    return {frames_.load(), badLengths_.load(), badChecksums_.load()};
}

// ---- monitor thread ----------------------------------------------------------------

void ModuleLink::SendSerialMessages(std::vector<serial::SerialMessage> messages,
                                    std::function<bool()> current,
                                    const std::function<bool()>& /*abandon*/) {
    using Result = protocol::FrameReceiver::Result;
    for (const serial::SerialMessage& message : messages) {
        if (message.message != serial::WM_SERIAL_RXCHAR) continue;
        switch (receiver_.Feed(static_cast<std::uint8_t>(message.wParam))) {
            case Result::kIncomplete:
                break;
            case Result::kBadLength:
                ++badLengths_;
                break;
            case Result::kBadChecksum:
                ++badChecksums_;
                break;
            case Result::kFrame: {
                // A stopping monitor's frames belong to a line given up.
                if (!current()) return;
                const std::span<const std::uint8_t> frame = receiver_.Frame();
                ++frames_;
                front_.OnFrame(frame, current);
                transfer_.TakeReply(protocol::FrameView(frame));
                break;
            }
        }
    }
}

bool ModuleLink::AbortTransfer(const std::string& reason, const std::string& logLine) {
    return transfer_.Abort(reason, [&] { front_.Log(logLine, {}); });
}

// Before the channel's box: nothing a transfer sends can arrive now, and it must not
// wait behind a box the operator may leave open, to time out there.
void ModuleLink::NotifyDeviceLost(int port, const platform::SysError& error,
                                  std::function<bool()> current) {
    if (!current()) return;
    {
        std::lock_guard lock(lostMutex_);
        lost_ = error;
    }
    front_.Log(DeviceLostText(port, error), {});
    AbortTransfer({}, "码库传输中止：串口已断开");
    front_.OnLineLost(std::move(current));
}

}  // namespace orvante::session
