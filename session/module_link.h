// ModuleLink: the one conversation with a module, below both front ends (the console's
// window and the command line's session). It owns the serial channel, assembles frames
// on the channel's monitor thread, writes the "发送:" and "接收:" log entries, counts the
// frames it drops, keeps the line's loss (nothing is sent after it) and hosts the library
// transfer, to which replies 50 and 52 go straight from the monitor thread. What a front
// end does with a frame, with a lost line, with the channel's boxes and the transfer's
// progress is its own (LinkFrontEnd).
//
// Threads: the owner's thread opens, closes, sends and starts transfers; the monitor
// thread receives and sees the loss; the transfer's worker sends its blocks. Send and the
// transfer's controls may be called from any thread.
#pragma once

#include <atomic>
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
#include "serial/serial_channel.h"

namespace orvante::session {

// What the link needs from the front end above it.
class LinkFrontEnd {
public:
    virtual ~LinkFrontEnd() = default;

    // Any thread, one entry at a time: a log entry with a dump of `bytes` (none when
    // empty). Entries handed over by one thread keep their order.
    virtual void Log(const std::string& text, std::span<const std::uint8_t> bytes) = 0;

    // Monitor thread: a whole frame, handed over before a running transfer sees it (so
    // that nothing the transfer sets off can be logged before the frame). The front end
    // writes its entry with ModuleLink::LogReceived first when it takes the frame up: a
    // window does so later, on its own thread, where what its handler logs must follow
    // the frame's entry. `current`, safe on any thread also after the link has gone,
    // says whether the line the frame came on is still the one in use.
    virtual void OnFrame(std::span<const std::uint8_t> frame, std::function<bool()> current) = 0;
    // Monitor thread: the line is lost. The loss is logged and a running transfer ended
    // already; the channel's box follows this call. `current` as above.
    virtual void OnLineLost(std::function<bool()> current) = 0;

    // The channel's needs, as serial::SerialOwner describes them.
    virtual void WaitServingDeliveries(const std::function<bool()>& done) = 0;
    virtual void WakeWaiter() = 0;
    virtual void ShowStopBox(const std::string& text, const std::string& caption) = 0;
    virtual void ShowMessageBox(const std::string& text) = 0;

    // The transfer's needs, from its worker, as library::TransferHost describes them.
    virtual void ShowTransferBox(const std::string& text, const std::string& caption) = 0;
    virtual void ShowTransferProgress(const library::TransferProgress& progress) = 0;
    virtual void OnTransferEnd(const library::TransferProgress& result) = 0;
};

// The frames handed over so far and the ones the receiver dropped.
struct ReceiverTotals {
    std::uint64_t frames = 0;
    std::uint64_t badLengths = 0;
    std::uint64_t badChecksums = 0;
    std::uint64_t FramesReceived() const { return frames; }
    std::uint64_t BadLengths() const { return badLengths; }
    std::uint64_t BadChecksums() const { return badChecksums; }
};

// The log line of a line lost while it was in use.
std::string DeviceLostText(int port, const platform::SysError& error);

struct LineConfig {
    int baud = 9600;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
};

class ModuleLink final : private serial::SerialOwner, private library::TransferHost {
public:
    ModuleLink(LinkFrontEnd& front, serial::PortResolver resolver,
               library::TransferClock& clock = library::SteadyTransferClock());
    // Ends a running transfer silently and the channel, while everything they reach is whole.
    ~ModuleLink() override;
    ModuleLink(const ModuleLink&) = delete;
    ModuleLink& operator=(const ModuleLink&) = delete;

    // Owner's thread. Opens port `port` (ending a running monitor first); the next line
    // starts with an empty receiver and no loss.
    serial::PortOpenResult Open(int port, const LineConfig& line, std::uint32_t eventMask);
    bool StartMonitor() { return channel_.StartMonitor(); }
    void StopMonitor() { channel_.StopMonitor(); }
    // Ends the transfer silently and the channel, waiting for both.
    void Close();
    const serial::CSerialChannel& Channel() const { return channel_; }
    bool IsPortOpen() const { return channel_.IsPortOpen(); }
    bool IsPortInUse() const { return channel_.IsPortInUse(); }

    // Any thread. Logs `frame` under "发送:" and queues it; with no open port the
    // channel says so ("请先打开串口!") and nothing is sent.
    void Send(std::span<const std::uint8_t> frame);
    // Any thread: the entry of a received frame, "接收:" with its bytes.
    void LogReceived(std::span<const std::uint8_t> frame) {
        front_.Log(protocol::kReceivedLogText, frame);
    }
    // The source address of the frames built here and by the transfer, learned from the
    // handshake's answer by the front end.
    std::uint16_t LocalAddress() const { return localAddress_.load(); }
    void SetLocalAddress(std::uint16_t address) { localAddress_ = address; }

    // The library transfer (see library::LibraryTransfer).
    bool StartTransfer(const library::TransferJob& job) { return transfer_.Start(job); }
    bool IsTransferRunning() const { return transfer_.IsRunning(); }
    // Ends a running transfer; `logLine` is logged ahead of every line its ending writes.
    bool AbortTransfer(const std::string& reason, const std::string& logLine);
    void StopTransfer() { transfer_.Stop(); }
    void JoinTransfer() { transfer_.Join(); }

    // Any thread. The device's failure once the line has been lost, until the next Open.
    std::optional<platform::SysError> LostError() const;
    ReceiverTotals Totals() const;

private:
    // serial::SerialOwner, monitor thread and channel.
    void SendSerialMessages(std::vector<serial::SerialMessage> messages,
                            std::function<bool()> current,
                            const std::function<bool()>& abandon) override;
    void NotifyDeviceLost(int port, const platform::SysError& error,
                          std::function<bool()> current) override;
    void WaitServingDeliveries(const std::function<bool()>& done) override {
        front_.WaitServingDeliveries(done);
    }
    void WakeWaiter() override { front_.WakeWaiter(); }
    void ShowStopBox(const std::string& text, const std::string& caption) override {
        front_.ShowStopBox(text, caption);
    }
    void ShowMessageBox(const std::string& text) override { front_.ShowMessageBox(text); }

    // library::TransferHost, worker thread.
    std::uint16_t SourceAddress() override { return localAddress_.load(); }
    void SendFrame(std::span<const std::uint8_t> frame) override;
    void Log(const std::string& text, std::span<const std::uint8_t> bytes) override {
        front_.Log(text, bytes);
    }
    void ShowBox(const std::string& text, const std::string& caption) override {
        front_.ShowTransferBox(text, caption);
    }
    void ShowProgress(const library::TransferProgress& progress) override {
        front_.ShowTransferProgress(progress);
    }
    void OnTransferEnd(const library::TransferProgress& result) override {
        front_.OnTransferEnd(result);
    }

    LinkFrontEnd& front_;
    std::atomic<std::uint16_t> localAddress_{0};
    // Monitor thread while one runs; reset by the owner's thread between lines.
    protocol::FrameReceiver receiver_;
    std::atomic<std::uint64_t> frames_{0};
    std::atomic<std::uint64_t> badLengths_{0};
    std::atomic<std::uint64_t> badChecksums_{0};
    mutable std::mutex lostMutex_;  //!< Protects lost_
    std::optional<platform::SysError> lost_;

    serial::CSerialChannel channel_;
    library::LibraryTransfer transfer_;
};

}  // namespace orvante::session
