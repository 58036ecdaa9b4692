#include "sim/line_server.h"

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvante::sim {

namespace {

constexpr std::size_t kReadChunk = 4096;

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

LineServer::DueTimer::DueTimer()
    : fd_(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)) {}

LineServer::DueTimer::~DueTimer() {
    if (fd_ >= 0) close(fd_);
}

void LineServer::DueTimer::Arm(std::optional<TimePoint> due) {
    // The steady clock is CLOCK_MONOTONIC, so its time points are the timer's absolute times.
    itimerspec when{};
    if (due) {
        const auto ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(due->time_since_epoch()).count();
        // A zero time would disarm the timer: a due time that far back is simply due.
        when.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        when.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
    }
    timerfd_settime(fd_, TFD_TIMER_ABSTIME, &when, nullptr);
}

void LineServer::DueTimer::Acknowledge() {
    std::uint64_t expirations;
    [[maybe_unused]] ssize_t n = read(fd_, &expirations, sizeof expirations);
}

LineServer::End LineServer::Run(int stopFd) {
    for (;;) {
        ArmForNextDue();
        const bool writing = outputWritten_ < output_.size();
        pollfd fds[4] = {
            {stopFd, POLLIN, 0},
            {wake_.Fd(), POLLIN, 0},
            {dueTimer_.Fd(), POLLIN, 0},
            {lineFd_, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0},
        };
        if (poll(fds, 4, -1) < 0) {
            if (errno == EINTR) continue;
            return Lost(std::string("poll: ") + std::strerror(errno));
        }
        ++pollWakeups_;
        if (fds[0].revents != 0) return End::kStopped;
        if (fds[1].revents & POLLIN) wake_.Reset();
        if (fds[2].revents & POLLIN) dueTimer_.Acknowledge();
        const short line = fds[3].revents;
        if (line & POLLIN) {
            if (!ReadLine()) return End::kLineLost;
        } else if (line & (POLLHUP | POLLERR | POLLNVAL)) {
            return Lost("the line hung up");
        }
        CollectDue();
        if (!FlushOutput()) return End::kLineLost;
    }
}

void LineServer::ArmForNextDue() {
    std::optional<TimePoint> next;
    {
        std::lock_guard lock(mutex_);
        next = module_.NextDue();
    }
    dueTimer_.Arm(next);
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
