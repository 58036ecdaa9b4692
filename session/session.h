// A headless conversation with one module: the serial channel, the frame receiver and an
// owner that needs no window thread. It opens a port by COM name or device path, runs
// the connect handshake, sends requests and waits for their replies with a time-out, and
// hosts a library transfer. The command line is built on it.
//
// Threads: the caller's thread opens, sends and waits. The receiver runs on the
// channel's monitor thread, inside the owner's delivery: a reply awaited by the caller
// wakes it from there, and the replies of a running transfer go from there straight to
// the transfer's worker. Cancel may come from any thread (a signal watcher).
#pragma once

#include <atomic>
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
#include "protocol/frame_receiver.h"
#include "protocol/log_entry.h"
#include "serial/port_list.h"
#include "serial/port_open_result.h"
#include "serial/serial_channel.h"

namespace orvante::session {

struct LineConfig {
    int baud = 9600;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
};

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
    std::function<protocol::TimeOfDay()> clock = protocol::LocalTimeOfDay;
};

class Session final : private serial::SerialOwner, private library::TransferHost {
public:
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
    std::uint16_t LocalAddress() const { return localAddress_.load(); }
    std::uint16_t Target() const { return target_.load(); }
    void SetTarget(std::uint16_t target) { target_ = target; }

    // Sends a request from the local address to `destination` (the target when not
    // given) and waits up to `timeout` for its reply, a frame that answers the request
    // and carries the payload its reader needs; that frame is put in *reply.
    WaitEnd Request(std::uint8_t command, std::span<const std::uint8_t> payload,
                    std::chrono::milliseconds timeout, std::vector<std::uint8_t>* reply,
                    std::optional<std::uint16_t> destination = std::nullopt);

    // Starts a library transfer; false when one is at work or no thread can be made.
    bool StartTransfer(const library::TransferJob& job);
    // Waits for the transfer to end (its own time-outs bound the wait). On Cancel or a
    // lost device the transfer is stopped (an export keeps what came in its part file).
    // *box gets the text the transfer would have shown in a box, if any.
    library::TransferProgress WaitTransfer(std::string* box);

    // Any thread: ends every wait of the session at once, now and later.
    void Cancel();
    bool Cancelled() const;
    // The device's failure, once the line has been lost.
    std::optional<serial::SysError> LostError() const;

private:
    // serial::SerialOwner, without a window: deliveries are handled where they arrive.
    void SendSerialMessages(std::vector<serial::SerialMessage> messages,
                            std::function<bool()> current,
                            const std::function<bool()>& abandon) override;
    void NotifyDeviceLost(int port, const serial::SysError& error,
                          std::function<bool()> current) override;
    void WaitServingDeliveries(const std::function<bool()>& done) override;
    void WakeWaiter() override;
    void ShowStopBox(const std::string& text, const std::string& caption) override;
    void ShowMessageBox(const std::string& text) override;

    // library::TransferHost, on the worker thread.
    std::uint16_t SourceAddress() override { return localAddress_.load(); }
    void SendFrame(std::span<const std::uint8_t> frame) override;
    void Log(const std::string& text, std::span<const std::uint8_t> bytes) override;
    void ShowBox(const std::string& text, const std::string& caption) override;
    void ShowProgress(const library::TransferProgress& progress) override;
    void OnTransferEnd(const library::TransferProgress& result) override;

    // Monitor thread: a whole frame from the receiver.
    void OnFrame(std::span<const std::uint8_t> frame);
    void SendLogged(std::span<const std::uint8_t> frame);
    void Await(std::uint8_t reply);
    // Waits until `done` holds, Cancel is called, the line is lost or `deadline` passes.
    WaitEnd WaitUntil(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done,
                      std::chrono::steady_clock::time_point deadline);

    SessionHooks hooks_;
    std::optional<std::string> devicePath_;  // what the channel's resolver opens
    protocol::FrameReceiver receiver_;       // monitor thread only, once opened
    std::atomic<std::uint16_t> localAddress_{0};
    std::atomic<std::uint16_t> target_{0};

    mutable std::mutex mutex_;  //!< Protects everything below
    std::condition_variable wake_;
    std::optional<std::uint8_t> awaited_;  // the reply code a Request waits for
    std::vector<std::uint8_t> reply_;      // that reply, once it came
    bool answered_ = false;
    bool cancelled_ = false;
    std::optional<serial::SysError> lost_;
    bool transferEnded_ = false;
    library::TransferProgress transferResult_;
    std::string transferBox_;

    serial::CSerialChannel channel_;
    library::LibraryTransfer transfer_;
};

}  // namespace orvante::session
