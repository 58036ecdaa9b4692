#include "session/session.h"

#include "protocol/commands.h"
#include "protocol/module_frame.h"
#include "protocol/replies.h"

namespace orvante::session {

namespace {

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
      clock_(clock),
      link_(
          *this, [this](int) { return devicePath_; }, clock) {}

Session::~Session() = default;

serial::PortOpenResult Session::Open(const PortName& port, const LineConfig& line) {
    devicePath_.reset();
    if (!port.devicePath.empty()) devicePath_ = port.devicePath;
    const serial::PortOpenResult result = link_.Open(port.number, line, kEventMask);
    {
        std::lock_guard lock(mutex_);
        lost_ = false;
    }
    if (result.PortIsOpen()) link_.StartMonitor();
    return result;
}

std::uint16_t Session::Target() const {
    std::lock_guard lock(mutex_);
    return target_;
}

void Session::SetTarget(std::uint16_t target) {
    std::lock_guard lock(mutex_);
    target_ = target;
}

// ---- requests ----------------------------------------------------------------------

WaitEnd Session::Connect(std::chrono::milliseconds timeout) {
    const WaitEnd end =
        SendAndAwait(protocol::kHandshakeFrame, protocol::kCmdConnectReply, timeout);
    if (end != WaitEnd::kAnswered) return end;
    std::lock_guard lock(mutex_);
    const std::optional<protocol::HandshakeAnswer> answer =
        protocol::ReadHandshakeAnswer(protocol::FrameView(reply_));
    if (!answer) return WaitEnd::kTimedOut;  // not reached: the route was checked on arrival
    link_.SetLocalAddress(answer->moduleAddress);
    target_ = answer->moduleAddress;
    return end;
}

WaitEnd Session::Request(std::uint8_t command, std::span<const std::uint8_t> payload,
                         std::chrono::milliseconds timeout, std::vector<std::uint8_t>* reply,
                         std::optional<std::uint16_t> destination) {
    const std::vector<std::uint8_t> frame = protocol::BuildModuleFrame(
        link_.LocalAddress(), destination.value_or(Target()), command, payload);
    const std::optional<std::uint8_t> replyCommand = protocol::ReplyCommandFor(command);
    if (frame.empty() || !replyCommand) return WaitEnd::kTimedOut;
    const WaitEnd end = SendAndAwait(frame, *replyCommand, timeout);
    if (end == WaitEnd::kAnswered && reply != nullptr) {
        std::lock_guard lock(mutex_);
        *reply = reply_;
    }
    return end;
}

WaitEnd Session::SendAndAwait(std::span<const std::uint8_t> frame, std::uint8_t reply,
                              std::chrono::milliseconds timeout) {
    // Armed before the request goes out: its reply may arrive before the send returns.
    {
        std::lock_guard lock(mutex_);
        // Nothing goes out on a line that is lost, or for a command that was cancelled.
        if (cancelled_) return WaitEnd::kCancelled;
        if (lost_) return WaitEnd::kLost;
        awaited_ = reply;
        answered_ = false;
        reply_.clear();
    }
    link_.Send(frame);
    std::unique_lock lock(mutex_);
    const auto deadline = clock_.Now() + timeout;
    WaitEnd end = WaitEnd::kTimedOut;
    for (;;) {
        if (cancelled_) {
            end = WaitEnd::kCancelled;
        } else if (answered_) {
            end = WaitEnd::kAnswered;
        } else if (lost_) {
            end = WaitEnd::kLost;
        } else if (clock_.Now() < deadline) {
            clock_.WaitUntil(wake_, lock, deadline);
            continue;
        }
        break;
    }
    awaited_.reset();
    return end;
}

// ---- library transfer --------------------------------------------------------------

bool Session::StartTransfer(const library::TransferJob& job) {
    {
        std::lock_guard lock(mutex_);
        if (cancelled_ || lost_) return false;
        transferEnded_ = false;
        transferResult_ = {};
    }
    return link_.StartTransfer(job);
}

library::TransferProgress Session::WaitTransfer() {
    std::unique_lock lock(mutex_);
    // The transfer bounds its own waits; a cancel stops it (a lost line has already),
    // after which it ends at its next step.
    for (bool stopAsked = false; !transferEnded_;) {
        if (!stopAsked && cancelled_) {
            lock.unlock();
            link_.StopTransfer();
            lock.lock();
            stopAsked = true;
            continue;
        }
        wake_.wait(lock);
    }
    const library::TransferProgress result = transferResult_;
    lock.unlock();
    link_.JoinTransfer();
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

// ---- LinkFrontEnd ----------------------------------------------------------------------

void Session::Log(const std::string& text, std::span<const std::uint8_t> bytes) {
    if (!hooks_.log) return;
    std::string entry = protocol::FormatLogEntry(hooks_.clock(), text, bytes.data(),
                                                 static_cast<int>(bytes.size()));
    // The window's entries begin with their line break; here each is a line of its own.
    if (entry.starts_with("\r\n")) entry.erase(0, 2);
    hooks_.log(entry);
}

void Session::OnFrame(std::span<const std::uint8_t> frame, std::function<bool()> /*current*/) {
    link_.LogReceived(frame);
    const protocol::ReplyRoute* route = protocol::RouteOfReply(protocol::FrameView(frame));
    if (route == nullptr) return;
    {
        std::lock_guard lock(mutex_);
        if (awaited_ != route->reply || answered_) return;
        reply_.assign(frame.begin(), frame.end());
        answered_ = true;
    }
    wake_.notify_all();
}

void Session::OnLineLost(std::function<bool()> /*current*/) {
    {
        std::lock_guard lock(mutex_);
        lost_ = true;
    }
    wake_.notify_all();
    if (hooks_.lost) hooks_.lost();
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

// The command line tells the transfer's outcome in its own words.
void Session::ShowTransferBox(const std::string& /*text*/, const std::string& /*caption*/) {}

void Session::ShowTransferProgress(const library::TransferProgress& progress) {
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
