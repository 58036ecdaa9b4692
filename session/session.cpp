#include "session/session.h"

#include "protocol/commands.h"
#include "protocol/module_frame.h"
#include "protocol/replies.h"

namespace orvante::session {

namespace {

constexpr int kSendBufferSize = 512;
constexpr std::uint32_t kEventMask = serial::EV_RXCHAR | serial::EV_RXFLAG;

}  // namespace

PortName ResolvePortName(const std::string& text, const serial::DeviceMap& ports) {
    if (const std::optional<int> number = serial::ComPortNumber(text)) {
        const auto it = ports.find(*number);
        if (it != ports.end()) return {*number, it->second.devicePath};
        return {*number, serial::UnlistedPortPath(*number).value_or(std::string())};
    }
    // A path: its COM number when the port list holds it, for the channel's messages.
    for (const auto& [number, entry] : ports) {
        if (entry.devicePath == text) return {number, text};
    }
    return {0, text};
}

Session::Session(SessionHooks hooks, library::TransferClock& clock)
    : hooks_(std::move(hooks)),
      channel_([this](int) { return devicePath_; }, this),
      transfer_(*this, clock) {}

Session::~Session() {
    // The worker queues frames on the channel, and the monitor hands replies to the
    // transfer: both end while everything they use still exists.
    transfer_.Stop();
    transfer_.Join();
    channel_.Close();
}

serial::PortOpenResult Session::Open(const PortName& port, const LineConfig& line) {
    devicePath_.reset();
    if (!port.devicePath.empty()) devicePath_ = port.devicePath;
    const serial::PortOpenResult result =
        channel_.Open(this, port.number, line.baud, line.parity, line.dataBits, line.stopBits,
                      kEventMask, kSendBufferSize);
    // No monitor runs now: the receiver starts afresh for the new line.
    receiver_.Reset();
    {
        std::lock_guard lock(mutex_);
        lost_.reset();
    }
    if (result.PortIsOpen()) channel_.StartMonitor();
    return result;
}

// ---- requests ----------------------------------------------------------------------

WaitEnd Session::Connect(std::chrono::milliseconds timeout) {
    Await(protocol::kCmdConnectReply);
    SendLogged(protocol::kHandshakeFrame);
    std::unique_lock lock(mutex_);
    const WaitEnd end = WaitUntil(
        lock, [this] { return answered_; }, std::chrono::steady_clock::now() + timeout);
    awaited_.reset();
    if (end != WaitEnd::kAnswered) return end;
    const std::optional<protocol::HandshakeAnswer> answer =
        protocol::ReadHandshakeAnswer(protocol::FrameView(reply_));
    if (!answer) return WaitEnd::kTimedOut;  // not reached: the route was checked on arrival
    localAddress_ = answer->moduleAddress;
    target_ = answer->moduleAddress;
    return end;
}

WaitEnd Session::Request(std::uint8_t command, std::span<const std::uint8_t> payload,
                         std::chrono::milliseconds timeout, std::vector<std::uint8_t>* reply,
                         std::optional<std::uint16_t> destination) {
    const std::vector<std::uint8_t> frame = protocol::BuildModuleFrame(
        localAddress_.load(), destination.value_or(target_.load()), command, payload);
    const std::optional<std::uint8_t> replyCommand = protocol::ReplyCommandFor(command);
    if (frame.empty() || !replyCommand) return WaitEnd::kTimedOut;
    Await(*replyCommand);
    SendLogged(frame);
    std::unique_lock lock(mutex_);
    const WaitEnd end = WaitUntil(
        lock, [this] { return answered_; }, std::chrono::steady_clock::now() + timeout);
    awaited_.reset();
    if (end == WaitEnd::kAnswered && reply != nullptr) *reply = reply_;
    return end;
}

// Armed before the request goes out: its reply may arrive before the send returns.
void Session::Await(std::uint8_t reply) {
    std::lock_guard lock(mutex_);
    awaited_ = reply;
    answered_ = false;
    reply_.clear();
}

void Session::SendLogged(std::span<const std::uint8_t> frame) {
    Log(protocol::kSentLogText, frame);
    channel_.QueueSend(frame.data(), frame.size());
}

WaitEnd Session::WaitUntil(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done,
                           std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (cancelled_) return WaitEnd::kCancelled;
        if (done()) return WaitEnd::kAnswered;
        if (lost_) return WaitEnd::kLost;
        if (wake_.wait_until(lock, deadline) == std::cv_status::timeout) {
            if (cancelled_) return WaitEnd::kCancelled;
            return done() ? WaitEnd::kAnswered : lost_ ? WaitEnd::kLost : WaitEnd::kTimedOut;
        }
    }
}

// ---- library transfer --------------------------------------------------------------

bool Session::StartTransfer(const library::TransferJob& job) {
    {
        std::lock_guard lock(mutex_);
        if (cancelled_ || lost_) return false;
        transferEnded_ = false;
        transferBox_.clear();
        transferResult_ = {};
    }
    return transfer_.Start(job);
}

library::TransferProgress Session::WaitTransfer(std::string* box) {
    std::unique_lock lock(mutex_);
    // The transfer bounds its own waits; a cancel or a lost line stops it, after which
    // it ends at its next step.
    for (bool stopAsked = false; !transferEnded_;) {
        if (!stopAsked && (cancelled_ || lost_)) {
            lock.unlock();
            transfer_.Stop();
            lock.lock();
            stopAsked = true;
            continue;
        }
        wake_.wait(lock);
    }
    if (box != nullptr) *box = transferBox_;
    const library::TransferProgress result = transferResult_;
    lock.unlock();
    transfer_.Join();
    return result;
}

void Session::Cancel() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    wake_.notify_all();
}

bool Session::Cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

std::optional<serial::SysError> Session::LostError() const {
    std::lock_guard lock(mutex_);
    return lost_;
}

// ---- monitor thread ----------------------------------------------------------------

void Session::SendSerialMessages(std::vector<serial::SerialMessage> messages,
                                 std::function<bool()> current,
                                 const std::function<bool()>& /*abandon*/) {
    // A stopped monitor's bytes belong to a line given up.
    if (!current()) return;
    for (const serial::SerialMessage& message : messages) {
        if (message.message != serial::WM_SERIAL_RXCHAR) continue;
        if (receiver_.Feed(static_cast<std::uint8_t>(message.wParam)) ==
            protocol::FrameReceiver::Result::kFrame) {
            OnFrame(receiver_.Frame());
        }
    }
}

void Session::OnFrame(std::span<const std::uint8_t> frame) {
    Log(protocol::kReceivedLogText, frame);
    const protocol::FrameView view(frame);
    // The transfer takes its replies itself, and only while it runs.
    if (transfer_.TakeReply(view)) return;
    const protocol::ReplyRoute* route = protocol::RouteOfReply(view);
    if (route == nullptr) return;
    {
        std::lock_guard lock(mutex_);
        if (awaited_ != route->reply || answered_) return;
        reply_.assign(frame.begin(), frame.end());
        answered_ = true;
    }
    wake_.notify_all();
}

void Session::NotifyDeviceLost(int /*port*/, const serial::SysError& error,
                               std::function<bool()> current) {
    if (!current()) return;
    {
        std::lock_guard lock(mutex_);
        lost_ = error;
    }
    // Nothing a transfer sends can arrive now: it ends here, at once.
    transfer_.Stop();
    wake_.notify_all();
}

// Deliveries are handled where they arrive, so there is nothing to serve: the wait
// only has to notice the monitor's end.
void Session::WaitServingDeliveries(const std::function<bool()>& done) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, done);
}

void Session::WakeWaiter() {
    { std::lock_guard lock(mutex_); }
    wake_.notify_all();
}

// The channel's boxes become log entries: the caller reports from the typed results.
void Session::ShowStopBox(const std::string& text, const std::string& /*caption*/) {
    Log(text, {});
}

void Session::ShowMessageBox(const std::string& text) {
    Log(text, {});
}

// ---- library::TransferHost -------------------------------------------------------------

void Session::SendFrame(std::span<const std::uint8_t> frame) {
    channel_.QueueSend(frame.data(), frame.size());
}

void Session::Log(const std::string& text, std::span<const std::uint8_t> bytes) {
    if (!hooks_.log) return;
    std::string entry = protocol::FormatLogEntry(hooks_.clock(), text, bytes.data(),
                                                 static_cast<int>(bytes.size()));
    // The window's entries begin with their line break; here each is a line of its own.
    if (entry.starts_with("\r\n")) entry.erase(0, 2);
    hooks_.log(entry);
}

void Session::ShowBox(const std::string& text, const std::string& /*caption*/) {
    std::lock_guard lock(mutex_);
    transferBox_ = text;
}

void Session::ShowProgress(const library::TransferProgress& progress) {
    if (hooks_.progress) hooks_.progress(progress);
}

void Session::OnTransferEnd(const library::TransferProgress& result) {
    {
        std::lock_guard lock(mutex_);
        transferResult_ = result;
        transferEnded_ = true;
    }
    wake_.notify_all();
}

}  // namespace orvante::session
