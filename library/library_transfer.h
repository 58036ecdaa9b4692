// The code library transfer: export of the module's library to a .db file, and import
// of such a file into the module, in 50-byte blocks, one request and one reply per
// block, on a worker thread. It knows no window: it reaches its owner through
// TransferHost and waits through TransferClock, so that the console window, a command
// line and the tests can each own a transfer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "library/library_file.h"
#include "protocol/commands.h"
#include "protocol/replies.h"

namespace orvante::library {

inline constexpr std::size_t kLibraryBlockSize = 50;
// An export reply's payload: offset (16 bits), block length n, then the n bytes.
inline constexpr std::size_t kExportReplyHeaderSize = protocol::kExportReplyMinPayload;
// Silence after a block request before it goes again, and after the last resend before
// the transfer gives up.
inline constexpr std::chrono::milliseconds kBlockReplyTimeout{2000};

inline constexpr const char* kSendLogText = "发送";
inline constexpr const char* kErrorCaption = "错误";
inline constexpr const char* kSuccessCaption = "成功";
inline constexpr const char* kExportTimeoutText = "导出文件超时！";
inline constexpr const char* kImportTimeoutText = "导入文件超时！";
inline constexpr const char* kImportSucceededText = "导入成功！";
inline constexpr const char* kExportSucceededText = "导出成功！";

// The block an export reply carries: the library offset it names and its bytes, which
// lie within the reply's payload.
struct ExportBlockView {
    std::size_t offset = 0;
    std::span<const std::uint8_t> bytes;
};
// Nothing when the payload is shorter than its header or than the length it names.
std::optional<ExportBlockView> ParseExportReply(std::span<const std::uint8_t> payload);

// What the worker is told: `op` is the request command of the direction
// (protocol::kCmdExportBlock or kCmdImportBlock), `path` the file chosen, `retries` how
// many times a block goes again after a silence before the transfer gives up (the
// window resends once; a noisy line may want more). An export with `image` set reads
// the library into it instead of a file (a read-back to compare); the caller keeps it
// until the transfer has ended.
struct TransferJob {
    std::uint8_t op = protocol::kCmdExportBlock;
    std::string path;
    int retries = 1;
    std::vector<std::uint8_t>* image = nullptr;
};

enum class TransferOutcome {
    kRunning,
    kSucceeded,
    kTimedOut,   // a block went unanswered after its resends
    kFileError,  // the file could not be opened, read or written
    kTooLarge,   // the library does not fit 16-bit offsets
    kAborted,    // the owner ended it, with a reason
    kStopped,    // the owner ended it silently (its window is closing)
};

struct TransferProgress {
    std::uint8_t op = protocol::kCmdExportBlock;
    std::size_t bytes = 0;  // library bytes moved and answered so far
    std::size_t total = 0;  // an import's file size; 0 for an export, whose size is unknown
    TransferOutcome outcome = TransferOutcome::kRunning;
    int resentBlocks = 0;  // resends: blocks that went again after a silence
    int strayBlocks = 0;   // export replies for offsets never asked for, dropped
    // Set at the end. The file's failure, for kFileError and kTooLarge of an import.
    FileError fileError;
    // An export that did not replace the chosen file: the part file that keeps the bytes
    // received, and how many (nothing when none came and the part file was removed).
    std::string keptPath;
    std::size_t keptBytes = 0;
};

// What a transfer needs from its owner. Every call comes from the worker thread.
class TransferHost {
public:
    virtual ~TransferHost() = default;
    // The source address of the frames (the console's local address), read for each frame.
    virtual std::uint16_t SourceAddress() = 0;
    // Hands a whole frame to the line; frames go out in the order handed.
    virtual void SendFrame(std::span<const std::uint8_t> frame) = 0;
    // A log entry with a dump of `bytes`. It may return before the entry shows, as long
    // as the entries stay whole and in order.
    virtual void Log(const std::string& text, std::span<const std::uint8_t> bytes) = 0;
    // A box with no owner window; it blocks this thread at most, never the owner.
    virtual void ShowBox(const std::string& text, const std::string& caption) = 0;
    // The bytes moved so far, after every block, and the outcome once it is settled,
    // before any box. It is on the transfer's path: a host that shows it hands it on
    // without waiting and may skip steps.
    virtual void ShowProgress(const TransferProgress& progress) = 0;
    // The last call of a transfer: how it ended. A successful export shows no box of
    // the transfer's own: its "导出成功！" box belongs over the owner's window.
    virtual void OnTransferEnd(const TransferProgress& result) = 0;
};

// The clock of the reply time-outs. The steady one waits them out; tests put one of
// their own in its place and decide when the time has passed.
class TransferClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~TransferClock() = default;
    virtual TimePoint Now() const = 0;
    // Waits on `wake`, whose mutex `lock` holds, until it is notified or `deadline`
    // has come; it may return early, and the caller looks again.
    virtual void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                           TimePoint deadline) = 0;
};
TransferClock& SteadyTransferClock();

class LibraryTransfer {
public:
    explicit LibraryTransfer(TransferHost& host, TransferClock& clock = SteadyTransferClock());
    // Stops a running transfer silently and joins its worker: its host calls must be
    // able to finish without the destroying thread.
    ~LibraryTransfer();
    LibraryTransfer(const LibraryTransfer&) = delete;
    LibraryTransfer& operator=(const LibraryTransfer&) = delete;

    // Owner thread. Starts the worker; false while one is still at work or when no
    // thread can be made. A finished worker is joined first, so OnTransferEnd must not
    // wait for the owner's thread.
    bool Start(const TransferJob& job);
    // Whether a worker is at work: from Start until it calls OnTransferEnd.
    bool IsRunning() const;
    // Ends a running transfer, once: the worker stops at its next step, shows `reason`
    // in an error box (none when it is empty) and ends as usual (an export keeps the
    // blocks written in its part file). A transfer whose last block was answered still succeeds.
    // `announce` runs once the end is decided and before the worker can take it up, so
    // that what it logs comes ahead of every line the ending writes.
    // False, and nothing happens, when no transfer runs or its end is already decided.
    bool Abort(const std::string& reason, const std::function<void()>& announce = {});
    // Ends a running transfer with no box at all, also one that an Abort asked for.
    void Stop();
    // Waits for the worker thread to end.
    void Join();

    // The module's replies, from the thread that receives frames. An export block (the
    // payload of reply 50: offset, length n, n bytes) is written only while an export
    // runs, at the offset it names, and only when that offset was asked for: a multiple
    // of the block size up to the block in hand (a late reply to a resent request is
    // still written). Any other is a stray, counted and dropped. Only the block in hand
    // releases the worker. A block whose length exceeds the bytes carried is ignored.
    void OnExportReply(std::span<const std::uint8_t> payload);
    // An import acknowledgement releases the worker waiting for one; it carries nothing
    // to match against the block sent.
    void OnImportAck();
    // A received frame: an export block or an import acknowledgement goes to the handler
    // above. True when the frame is one of those replies, taken or not.
    bool TakeReply(const protocol::FrameView& frame);

private:
    struct ExportBlock {
        std::size_t offset;
        std::vector<std::uint8_t> bytes;
    };
    enum class Await { kReleased, kEndAsked, kTimedOut, kFileFailed };
    struct Ending {
        TransferOutcome outcome;
        std::string boxText;
        std::string caption;
        FileError fileError = {};
    };

    void LibraryTransferThread(TransferJob job);
    void RunToTheEnd(const TransferJob& job);
    Ending RunExport(const TransferJob& job, TransferProgress& progress);
    // Asks for the blocks one after another until the short one is in; `path` names
    // the sink in the texts of its failures.
    Ending ExportBlocks(ExportSink& sink, const std::string& path, TransferProgress& progress);
    Ending RunImport(const std::string& path, TransferProgress& progress);
    // Sends `frame` and waits; after each time-out sends it again, up to `retries_` times.
    template <class AwaitReply>
    Await SendAndAwait(std::span<const std::uint8_t> frame, TransferProgress& progress,
                       AwaitReply awaitReply);
    void Send(std::span<const std::uint8_t> frame);
    Await AwaitExportBlock(ExportSink& sink, TransferClock::TimePoint deadline, std::size_t* length,
                           FileError* error);
    Await AwaitImportAck(TransferClock::TimePoint deadline);
    // Settles the outcome, once: an end the owner asked for first wins.
    Ending Conclude(Ending own);
    bool IsSilenced() const;

    TransferHost& host_;
    TransferClock& clock_;
    std::thread worker_;

    mutable std::mutex mutex_;  //!< Protects everything below
    std::condition_variable wake_;
    bool running_ = false;    // the outcome is not yet settled; replies are taken
    bool endHanded_ = false;  // the worker is at its last host call, OnTransferEnd
    std::uint8_t op_ = protocol::kCmdExportBlock;
    int retries_ = 1;
    std::size_t transferOffset_ = 0;  // library offset of the block in hand
    std::deque<ExportBlock> blocks_;  // export blocks received, not yet written
    int strayBlocks_ = 0;
    bool awaitingAck_ = false;
    bool acked_ = false;
    bool endAsked_ = false;
    bool silentEnd_ = false;
    std::string endReason_;
};

// The request frames, from `source` to the broadcast address.
std::vector<std::uint8_t> BuildExportRequest(std::uint16_t source, std::uint16_t offset);
std::vector<std::uint8_t> BuildImportBlock(std::uint16_t source, std::uint16_t offset,
                                           std::span<const std::uint8_t> block);

}  // namespace orvante::library
