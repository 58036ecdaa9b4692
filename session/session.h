// A headless conversation with one module, for the command line: a front over the
// module link with no window thread. It opens a port by COM name or device path, runs
// the connect handshake, sends requests and waits for their replies with a time-out,
// and hosts a library transfer.
//
// Threads: the caller's thread opens, sends and waits, on the clock it is given (tests
// give one they move themselves). The link hands frames and the line's loss over on the
// channel's monitor thread, where an awaited reply wakes the caller. Cancel may come from
// any thread (a signal watcher).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "library/library_transfer.h"
#include "protocol/log_entry.h"
#include "serial/port_list.h"
#include "serial/port_open_result.h"
#include "session/module_link.h"

namespace orvante::session {

// How a wait ended.
enum class WaitEnd {
    kAnswered,
    kTimedOut,
    kCancelled,  // Cancel was called
    kLost,       // the device went away
};

// A port as the operator names it: "COM<n>" (looked up in the port list) or a device path.
struct PortName {
    int number = 0;          // the COM number; 0 for a path outside the port list
    std::string devicePath;  // empty when a COM number is not in the port list (on Linux)
};
PortName ResolvePortName(const std::string& text, const serial::DeviceMap& ports);

struct SessionHooks {
    // One log entry, in the window log's format but without its leading line break.
    // Called from the caller's, the monitor's and the transfer's threads, one entry at a time.
    std::function<void(const std::string& entry)> log;
    // A transfer's progress, from its worker thread.
    std::function<void(const library::TransferProgress&)> progress;
    std::function<platform::TimeOfDay()> clock = platform::LocalTimeOfDay;
    // The line was lost, from the monitor thread (a waiting request ends as kLost too).
    std::function<void()> lost;
};

class Session final : private LinkFrontEnd {
public:
    // `clock` times the replies' and the transfer's waits.
    explicit Session(SessionHooks hooks = {},
                     library::TransferClock& clock = library::SteadyTransferClock());
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Opens and configures the port and starts its monitor. A refused line setting
    // leaves the port open and is reported as kSettingsRefused; the caller decides.
    serial::PortOpenResult Open(const PortName& port, const LineConfig& line);

    // Sends the connect handshake and waits for its answer: the module that answered
    // gives the source address of later frames and the default target.
    WaitEnd Connect(std::chrono::milliseconds timeout);
    std::uint16_t LocalAddress() const { return link_.LocalAddress(); }
    std::uint16_t Target() const;
    void SetTarget(std::uint16_t target);

    // Sends a request from the local address to `destination` (the target when not
    // given) and waits up to `timeout` for its reply, a frame that answers the request
    // and carries the payload its reader needs; that frame is put in *reply.
    WaitEnd Request(std::uint8_t command, std::span<const std::uint8_t> payload,
                    std::chrono::milliseconds timeout, std::vector<std::uint8_t>* reply,
                    std::optional<std::uint16_t> destination = std::nullopt);

    // Starts a library transfer; false when one is at work, no thread can be made, or
    // the session was cancelled or its line lost.
    bool StartTransfer(const library::TransferJob& job);
    // Waits for the transfer to end (its own time-outs bound the wait). On Cancel the
    // transfer is stopped, as it is on a lost line (an export keeps what came in its
    // part file).
    library::TransferProgress WaitTransfer();

    // Any thread: ends every wait of the session at once, now and later.
    void Cancel();
    bool Cancelled() const;
    // The device's failure, once the line has been lost.
    std::optional<platform::SysError> LostError() const { return link_.LostError(); }
    ReceiverTotals Totals() const { return link_.Totals(); }

private:
    // LinkFrontEnd: frames and the loss on the monitor thread, no window to hand them to.
    void Log(const std::string& text, std::span<const std::uint8_t> bytes) override;
    void OnFrame(std::span<const std::uint8_t> frame, std::function<bool()> current) override;
    void OnLineLost(std::function<bool()> current) override;
    void WaitServingDeliveries(const std::function<bool()>& done) override;
    void WakeWaiter() override;
    void ShowStopBox(const std::string& text, const std::string& caption) override;
    void ShowMessageBox(const std::string& text) override;
    void ShowTransferBox(const std::string& text, const std::string& caption) override;
    void ShowTransferProgress(const library::TransferProgress& progress) override;
    void OnTransferEnd(const library::TransferProgress& result) override;

    // Sends `frame` and waits until a reply with code `reply` has come.
    WaitEnd SendAndAwait(std::span<const std::uint8_t> frame, std::uint8_t reply,
                         std::chrono::milliseconds timeout);

    SessionHooks hooks_;
    library::TransferClock& clock_;
    std::optional<std::string> devicePath_;  // what the link's resolver opens

    mutable std::mutex mutex_;  //!< Protects everything below
    std::condition_variable wake_;
    std::uint16_t target_ = 0;
    std::optional<std::uint8_t> awaited_;  // the reply code a request waits for
    std::vector<std::uint8_t> reply_;      // that reply, once it came
    bool answered_ = false;
    bool cancelled_ = false;
    bool lost_ = false;
    bool transferEnded_ = false;
    library::TransferProgress transferResult_;

    ModuleLink link_;
};

}  // namespace orvante::session
