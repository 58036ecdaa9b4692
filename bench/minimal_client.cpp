#include "bench/minimal_client.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <optional>

#include "library/library_transfer.h"
#include "protocol/commands.h"
#include "protocol/frame_receiver.h"
#include "protocol/module_frame.h"

namespace orvante::bench {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kBlockSize = library::kLibraryBlockSize;
constexpr int kReplyTimeoutMs = 2000;

// A raw tty held open for the transfer.
class RawTty {
public:
    explicit RawTty(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios raw{};
        if (fd_ < 0 || tcgetattr(fd_, &raw) != 0) return;
        cfmakeraw(&raw);
        tcsetattr(fd_, TCSANOW, &raw);
    }
    ~RawTty() {
        if (fd_ >= 0) close(fd_);
    }
    RawTty(const RawTty&) = delete;
    RawTty& operator=(const RawTty&) = delete;

    bool IsOpen() const { return fd_ >= 0; }

    bool WriteAll(const std::vector<std::uint8_t>& bytes) {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // The next frame that passes its checksum, or nothing after a silence.
    std::optional<std::vector<std::uint8_t>> ReadFrame() {
        for (;;) {
            while (at_ < count_) {
                if (receiver_.Feed(buffer_[at_++]) == protocol::FrameReceiver::Result::kFrame) {
                    return std::vector<std::uint8_t>(receiver_.Frame().begin(),
                                                     receiver_.Frame().end());
                }
            }
            pollfd wait{fd_, POLLIN, 0};
            if (poll(&wait, 1, kReplyTimeoutMs) <= 0) return std::nullopt;
            const ssize_t n = read(fd_, buffer_, sizeof buffer_);
            if (n <= 0) return std::nullopt;
            at_ = 0;
            count_ = static_cast<std::size_t>(n);
        }
    }

private:
    int fd_;
    protocol::FrameReceiver receiver_;
    std::uint8_t buffer_[4096];
    std::size_t at_ = 0, count_ = 0;
};

// One request, then the reply with `replyCommand`; its bytes count towards the line.
std::optional<std::vector<std::uint8_t>> Exchange(RawTty& tty, LockStepResult& result,
                                                  const std::vector<std::uint8_t>& request,
                                                  std::uint8_t replyCommand) {
    if (!tty.WriteAll(request)) return std::nullopt;
    for (;;) {
        auto reply = tty.ReadFrame();
        if (!reply) return std::nullopt;
        const protocol::FrameView view(*reply);
        if (view.Command() != replyCommand) continue;
        result.lineBytes += request.size() + reply->size();
        ++result.blocks;
        return reply;
    }
}

}  // namespace

double RatioToLineBound(const LockStepResult& result, int baud) {
    const double bound = static_cast<double>(result.lineBytes) * 10.0 / baud;
    return std::chrono::duration<double>(result.wall).count() / bound;
}

LockStepResult MinimalExport(const std::string& ttyPath, std::uint16_t source) {
    LockStepResult result;
    RawTty tty(ttyPath);
    if (!tty.IsOpen()) return result;
    const auto start = Clock::now();
    for (std::size_t offset = 0;; offset += kBlockSize) {
        const auto reply = Exchange(
            tty, result, library::BuildExportRequest(source, static_cast<std::uint16_t>(offset)),
            protocol::kCmdExportBlockReply);
        if (!reply) return result;
        const auto data = protocol::FrameView(*reply).Payload();
        if (data.size() < 3 || data.size() - 3 < data[2]) return result;
        if (data[2] < kBlockSize) break;
    }
    result.wall = Clock::now() - start;
    result.ok = true;
    return result;
}

LockStepResult MinimalImport(const std::string& ttyPath, std::uint16_t source,
                             const std::vector<std::uint8_t>& image) {
    LockStepResult result;
    RawTty tty(ttyPath);
    if (!tty.IsOpen()) return result;
    const auto start = Clock::now();
    for (std::size_t offset = 0;; offset += kBlockSize) {
        const std::size_t n = std::min(kBlockSize, image.size() - offset);
        const auto block = std::span(image).subspan(offset, n);
        if (!Exchange(tty, result,
                      library::BuildImportBlock(source, static_cast<std::uint16_t>(offset), block),
                      protocol::kCmdImportBlockReply)) {
            return result;
        }
        if (n < kBlockSize) break;
    }
    result.wall = Clock::now() - start;
    result.ok = true;
    return result;
}

}  // namespace orvante::bench
