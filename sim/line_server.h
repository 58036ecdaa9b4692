// Serves a VirtualModule on a line: reads what arrives on a descriptor (the master side
// of a pseudo-terminal), hands it to the model with the time it came, and writes the
// model's output when it is due.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "serial/event_fd.h"
#include "sim/virtual_module.h"

namespace orvante::sim {

class LineServer {
public:
    // Receives one line of text per frame received or sent (for a verbose log).
    using Log = std::function<void(const std::string& line)>;
    enum class End { kStopped, kLineLost };

    // `lineFd` must be non-blocking and stay open while Run runs. For a pty master, keep
    // a slave descriptor open too: without one the master reports a hang-up, which ends
    // Run. With a log the server takes the model's frame observer.
    LineServer(VirtualModule& module, int lineFd, Log log = {});
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    // Serves until `stopFd` becomes readable (kStopped) or the line fails for good
    // (kLineLost, with LostReason). Sleeps in poll until input, output room or the next
    // due output (a timer to the nanosecond, so paced output keeps the line's timing);
    // never spins.
    End Run(int stopFd);
    const std::string& LostReason() const { return lostReason_; }

    // Runs `use` on the model while the server does not touch it, then lets the server
    // look again at what is due. Callable from any thread, also while Run runs.
    void WithModule(const std::function<void(VirtualModule&)>& use);
    // Runs `look` on the model while the server does not touch it, without waking it.
    void Inspect(const std::function<void(const VirtualModule&)>& look);

    // How often poll has returned since construction: shows that an idle line costs
    // nothing (a busy loop would count thousands a second).
    std::uint64_t PollWakeups() const { return pollWakeups_.load(); }

private:
    // A timer that wakes poll when the model's next output is due.
    class DueTimer {
    public:
        DueTimer();
        ~DueTimer();
        DueTimer(const DueTimer&) = delete;
        DueTimer& operator=(const DueTimer&) = delete;
        int Fd() const { return fd_; }
        // Fires at `due` (at once when it has passed); nothing: never.
        void Arm(std::optional<TimePoint> due);
        void Acknowledge();

    private:
        int fd_;
    };

    void ArmForNextDue();
    bool ReadLine();
    void CollectDue();
    bool FlushOutput();
    End Lost(const std::string& reason);

    VirtualModule& module_;
    std::mutex mutex_;  //!< Protects module_, which is not thread-safe
    const int lineFd_;
    serial::EventFd wake_;  // set by WithModule so that Run rearms its timer
    DueTimer dueTimer_;
    std::vector<std::uint8_t> output_;  // due bytes not yet written
    std::size_t outputWritten_ = 0;     // of output_
    std::string lostReason_;
    std::atomic<std::uint64_t> pollWakeups_{0};
};

// "rx 7E 05 00 ...", "tx ...": the log line for a frame event.
std::string FrameLogLine(FrameEvent event, std::span<const std::uint8_t> frame);

}  // namespace orvante::sim
