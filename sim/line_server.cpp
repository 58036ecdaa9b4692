#include "sim/line_server.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace orvante::sim {

namespace {

constexpr std::size_t kReadChunk = 4096;
constexpr int kMaxPollTimeoutMs = INT_MAX;

std::string HexBytes(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::uint8_t byte : bytes) {
        if (!text.empty()) text += ' ';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

}  // namespace

std::string FrameLogLine(FrameEvent event, std::span<const std::uint8_t> frame) {
    switch (event) {
        case FrameEvent::kReceived:
            return "rx " + HexBytes(frame);
        case FrameEvent::kIgnored:
            return "   (not answered)";
        case FrameEvent::kSent:
            return "tx " + HexBytes(frame);
        case FrameEvent::kDropped:
            return "tx dropped " + HexBytes(frame);
    }
    return {};
}

LineServer::LineServer(VirtualModule& module, int lineFd, Log log)
    : module_(module), lineFd_(lineFd) {
    if (log) {
        module_.SetFrameObserver(
            [log = std::move(log)](FrameEvent event, std::span<const std::uint8_t> frame) {
                log(FrameLogLine(event, frame));
            });
    }
}

void LineServer::WithModule(const std::function<void(VirtualModule&)>& use) {
    {
        std::lock_guard lock(mutex_);
        use(module_);
    }
    wake_.Set();
}

void LineServer::Inspect(const std::function<void(const VirtualModule&)>& look) {
    std::lock_guard lock(mutex_);
    look(module_);
}

LineServer::End LineServer::Run(int stopFd) {
    for (;;) {
        const bool writing = outputWritten_ < output_.size();
        pollfd fds[3] = {
            {stopFd, POLLIN, 0},
            {wake_.Fd(), POLLIN, 0},
            {lineFd_, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0},
        };
        if (poll(fds, 3, PollTimeoutMs()) < 0) {
            if (errno == EINTR) continue;
            return Lost(std::string("poll: ") + std::strerror(errno));
        }
        ++pollWakeups_;
        if (fds[0].revents != 0) return End::kStopped;
        if (fds[1].revents & POLLIN) wake_.Reset();
        const short line = fds[2].revents;
        if (line & POLLIN) {
            if (!ReadLine()) return End::kLineLost;
        } else if (line & (POLLHUP | POLLERR | POLLNVAL)) {
            return Lost("the line hung up");
        }
        CollectDue();
        if (!FlushOutput()) return End::kLineLost;
    }
}

// Up to the next due output, rounded up to whole milliseconds; -1 when nothing is due.
int LineServer::PollTimeoutMs() {
    std::optional<TimePoint> next;
    {
        std::lock_guard lock(mutex_);
        next = module_.NextDue();
    }
    if (!next) return -1;
    const auto left = *next - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > kMaxPollTimeoutMs ? kMaxPollTimeoutMs : static_cast<int>(ms);
}

// Reads everything waiting. False when the line failed (a pty master reads EIO once its
// slave side is closed for good).
bool LineServer::ReadLine() {
    std::uint8_t buffer[kReadChunk];
    for (;;) {
        const ssize_t n = ::read(lineFd_, buffer, sizeof buffer);
        if (n > 0) {
            std::lock_guard lock(mutex_);
            module_.Receive(std::span(buffer, static_cast<std::size_t>(n)), Clock::now());
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        Lost(n == 0 ? "the line hung up" : std::string("read: ") + std::strerror(errno));
        return false;
    }
}

void LineServer::CollectDue() {
    std::vector<Outgoing> due;
    {
        std::lock_guard lock(mutex_);
        due = module_.TakeDue(Clock::now());
    }
    if (outputWritten_ == output_.size()) {
        output_.clear();
        outputWritten_ = 0;
    }
    for (const Outgoing& chunk : due) {
        output_.insert(output_.end(), chunk.bytes.begin(), chunk.bytes.end());
    }
}

// Writes as much as the line takes now; the rest waits for POLLOUT.
bool LineServer::FlushOutput() {
    while (outputWritten_ < output_.size()) {
        const ssize_t n =
            ::write(lineFd_, output_.data() + outputWritten_, output_.size() - outputWritten_);
        if (n > 0) {
            outputWritten_ += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        Lost(std::string("write: ") + std::strerror(n < 0 ? errno : EIO));
        return false;
    }
    return true;
}

LineServer::End LineServer::Lost(const std::string& reason) {
    lostReason_ = reason;
    return End::kLineLost;
}

}  // namespace orvante::sim
