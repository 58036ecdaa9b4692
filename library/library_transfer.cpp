#include "library/library_transfer.h"

#include <algorithm>
#include <system_error>

#include "platform/thread_failure.h"
#include "protocol/little_endian.h"
#include "protocol/module_frame.h"

namespace orvante::library {

namespace {

using TimePoint = TransferClock::TimePoint;

// The largest offset a request can name.
constexpr std::size_t kMaxWireOffset = 0xFFFF;

class SteadyClock final : public TransferClock {
public:
    TimePoint Now() const override { return std::chrono::steady_clock::now(); }
    void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                   TimePoint deadline) override {
        wake.wait_until(lock, deadline);
    }
};

std::string FileErrorText(const std::string& path, const FileError& error) {
    const std::string file = "文件“" + path + "”";
    switch (error.problem) {
        case FileProblem::kTooLarge:
            return file + "超过 65536 字节，无法导入！";
        case FileProblem::kNotRegular:
            return "无法使用" + file + "：不是普通文件";
        case FileProblem::kIsFolder:
            return "无法使用" + file + "：这是一个文件夹";
        case FileProblem::kCannotWrite:
            return "无法写入" + file + "：" + error.reason;
        case FileProblem::kCannotReplace:
            return "无法替换" + file + "：" + error.reason;
        case FileProblem::kCannotOpen:
        case FileProblem::kNone:
            break;
    }
    return "无法读取" + file + "：" + error.reason;
}

constexpr const char* kExportTooLargeText = "码库超过 65536 字节仍未结束，导出中止！";

// Where an export that did not complete left what it received.
std::string KeptBytesText(const TransferProgress& progress) {
    return "已接收的" + std::to_string(progress.keptBytes) + "字节保存在" + progress.keptPath;
}

// A late acknowledgement of a block sent twice can release the next block early; the
// reply carries nothing to tell, so the operator is told to check.
std::string ResentNote(int blocks) {
    return "注意：导入时有 " + std::to_string(blocks) + " 块发送了两次，请导出码库核对！";
}

}  // namespace

TransferClock& SteadyTransferClock() {
    static SteadyClock clock;
    return clock;
}

std::vector<std::uint8_t> BuildExportRequest(std::uint16_t source, std::uint16_t offset) {
    std::vector<std::uint8_t> payload;
    protocol::Append16(payload, offset);
    payload.push_back(static_cast<std::uint8_t>(kLibraryBlockSize));
    return protocol::BuildModuleFrame(source, protocol::kBroadcastAddress,
                                      protocol::kCmdExportBlock, payload);
}

std::vector<std::uint8_t> BuildImportBlock(std::uint16_t source, std::uint16_t offset,
                                           std::span<const std::uint8_t> block) {
    std::vector<std::uint8_t> payload;
    payload.reserve(3 + block.size());
    protocol::Append16(payload, offset);
    payload.push_back(static_cast<std::uint8_t>(block.size()));
    payload.insert(payload.end(), block.begin(), block.end());
    return protocol::BuildModuleFrame(source, protocol::kBroadcastAddress,
                                      protocol::kCmdImportBlock, payload);
}

LibraryTransfer::LibraryTransfer(TransferHost& host, TransferClock& clock)
    : host_(host), clock_(clock) {}

LibraryTransfer::~LibraryTransfer() {
    Stop();
    Join();
}

// ---- owner thread ----------------------------------------------------------------

bool LibraryTransfer::Start(const TransferJob& job) {
    if (IsRunning()) return false;
    Join();
    {
        std::lock_guard lock(mutex_);
        running_ = true;
        endHanded_ = false;
        op_ = job.op;
        retries_ = job.retries < 0 ? 0 : job.retries;
        transferOffset_ = 0;
        blocks_.clear();
        strayBlocks_ = 0;
        awaitingAck_ = acked_ = false;
        endAsked_ = silentEnd_ = false;
        endReason_.clear();
    }
    try {
        worker_ = std::thread(&LibraryTransfer::LibraryTransferThread, this, job);
    } catch (const std::system_error&) {
        std::lock_guard lock(mutex_);
        running_ = false;
        return false;
    }
    return true;
}

bool LibraryTransfer::IsRunning() const {
    std::lock_guard lock(mutex_);
    return worker_.joinable() && !endHanded_;
}

bool LibraryTransfer::Abort(const std::string& reason, const std::function<void()>& announce) {
    {
        std::lock_guard lock(mutex_);
        if (!running_ || endAsked_) return false;
        endAsked_ = true;
        endReason_ = reason;
        // Under the lock: the worker concludes under it too, so it cannot end before this.
        if (announce) announce();
    }
    wake_.notify_all();
    return true;
}

void LibraryTransfer::Stop() {
    {
        std::lock_guard lock(mutex_);
        silentEnd_ = true;
        if (running_) endAsked_ = true;
    }
    wake_.notify_all();
}

void LibraryTransfer::Join() {
    if (worker_.joinable()) worker_.join();
}

// ---- replies ---------------------------------------------------------------------

std::optional<ExportBlockView> ParseExportReply(std::span<const std::uint8_t> payload) {
    if (payload.size() < kExportReplyHeaderSize) return std::nullopt;
    const std::size_t offset = protocol::Read16(payload, 0);
    const std::size_t length = payload[2];
    const std::span<const std::uint8_t> carried = payload.subspan(kExportReplyHeaderSize);
    // A length beyond what came would write bytes that never came from the module: the
    // block is left unanswered, so that it is asked for again.
    if (length > carried.size()) return std::nullopt;
    return ExportBlockView{offset, carried.first(length)};
}

void LibraryTransfer::OnExportReply(std::span<const std::uint8_t> payload) {
    const std::optional<ExportBlockView> view = ParseExportReply(payload);
    if (!view) return;
    ExportBlock block{view->offset, {view->bytes.begin(), view->bytes.end()}};
    {
        std::lock_guard lock(mutex_);
        if (!running_ || op_ != protocol::kCmdExportBlock) return;
        // Requests go out in rising order, so every offset asked for so far is a whole
        // block's up to the one in hand. Anything else would write bytes the module was
        // never asked for, past the library's end or between blocks.
        if (block.offset % kLibraryBlockSize != 0 || block.offset > transferOffset_) {
            ++strayBlocks_;
            return;
        }
        blocks_.push_back(std::move(block));
    }
    wake_.notify_all();
}

void LibraryTransfer::OnImportAck() {
    {
        std::lock_guard lock(mutex_);
        if (!running_ || !awaitingAck_) return;
        acked_ = true;
    }
    wake_.notify_all();
}

bool LibraryTransfer::TakeReply(const protocol::FrameView& frame) {
    const protocol::ReplyRoute* route = protocol::RouteOfReply(frame);
    if (route == nullptr) return false;
    if (route->reply == protocol::kCmdExportBlockReply) {
        OnExportReply(frame.Payload());
        return true;
    }
    if (route->reply == protocol::kCmdImportBlockReply) {
        OnImportAck();
        return true;
    }
    return false;
}

// ---- worker thread ---------------------------------------------------------------

void LibraryTransfer::LibraryTransferThread(TransferJob job) {
    platform::RunGuarded("library transfer", [&] { RunToTheEnd(job); });
}

void LibraryTransfer::RunToTheEnd(const TransferJob& job) {
    TransferProgress progress;
    progress.op = job.op;
    const bool isImport = job.op == protocol::kCmdImportBlock;
    const Ending ending =
        Conclude(isImport ? RunImport(job.path, progress) : RunExport(job, progress));
    progress.outcome = ending.outcome;
    progress.fileError = ending.fileError;
    {
        std::lock_guard lock(mutex_);
        progress.strayBlocks = strayBlocks_;
    }
    // The outcome shows before the box, which may stay open a while.
    host_.ShowProgress(progress);
    if (isImport && progress.resentBlocks > 0) host_.Log(ResentNote(progress.resentBlocks), {});
    if (!progress.keptPath.empty()) host_.Log(KeptBytesText(progress), {});
    if (!ending.boxText.empty() && !IsSilenced()) host_.ShowBox(ending.boxText, ending.caption);
    {
        std::lock_guard lock(mutex_);
        endHanded_ = true;
    }
    host_.OnTransferEnd(progress);
}

LibraryTransfer::Ending LibraryTransfer::RunExport(const TransferJob& job,
                                                   TransferProgress& progress) {
    if (job.image != nullptr) {
        ExportImage image;
        const Ending ending = ExportBlocks(image, job.path, progress);
        job.image->swap(image.Bytes());
        return ending;
    }
    ExportFile file;
    FileError error;
    if (!file.Create(job.path, &error)) {
        // A failure to write concerns the part file; one to use the name, the file itself.
        const bool ofThePart = error.problem == FileProblem::kCannotWrite;
        return {TransferOutcome::kFileError,
                FileErrorText(ofThePart ? file.PartPath() : job.path, error), kErrorCaption, error};
    }
    Ending ending = ExportBlocks(file, file.PartPath(), progress);
    if (ending.outcome == TransferOutcome::kSucceeded) {
        if (file.Commit(&error)) return ending;
        ending = {TransferOutcome::kFileError, FileErrorText(job.path, error), kErrorCaption,
                  error};
    }
    // Whatever came stays in the part file; the chosen file is as it was.
    progress.keptBytes = file.Abandon();
    if (progress.keptBytes > 0 || error.problem == FileProblem::kCannotReplace) {
        progress.keptPath = file.PartPath();
    }
    return ending;
}

LibraryTransfer::Ending LibraryTransfer::ExportBlocks(ExportSink& sink, const std::string& path,
                                                      TransferProgress& progress) {
    FileError error;
    host_.ShowProgress(progress);
    for (std::size_t offset = 0;; offset += kLibraryBlockSize) {
        if (offset > kMaxWireOffset) {
            return {TransferOutcome::kTooLarge, kExportTooLargeText, kErrorCaption};
        }
        {
            std::lock_guard lock(mutex_);
            transferOffset_ = offset;
        }
        const std::vector<std::uint8_t> request =
            BuildExportRequest(host_.SourceAddress(), static_cast<std::uint16_t>(offset));
        std::size_t length = 0;
        switch (SendAndAwait(request, progress, [&](TimePoint deadline) {
            return AwaitExportBlock(sink, deadline, &length, &error);
        })) {
            case Await::kReleased:
                break;
            case Await::kTimedOut:
                return {TransferOutcome::kTimedOut, kExportTimeoutText, kErrorCaption};
            case Await::kFileFailed:
                return {TransferOutcome::kFileError, FileErrorText(path, error), kErrorCaption,
                        error};
            case Await::kEndAsked:
                return {TransferOutcome::kStopped, {}, {}};
        }
        progress.bytes = offset + length;
        host_.ShowProgress(progress);
        if (length < kLibraryBlockSize) return {TransferOutcome::kSucceeded, {}, {}};
    }
}

LibraryTransfer::Ending LibraryTransfer::RunImport(const std::string& path,
                                                   TransferProgress& progress) {
    std::vector<std::uint8_t> image;
    FileError error;
    if (!ReadLibraryFile(path, &image, &error)) {
        const auto outcome = error.problem == FileProblem::kTooLarge ? TransferOutcome::kTooLarge
                                                                     : TransferOutcome::kFileError;
        return {outcome, FileErrorText(path, error), kErrorCaption, error};
    }
    progress.total = image.size();
    host_.ShowProgress(progress);
    // Every import ends with a short block: an empty one when the size is a multiple
    // of the block size. The offsets stay within 16 bits as the file does.
    for (std::size_t offset = 0;;) {
        const std::size_t length = std::min(kLibraryBlockSize, image.size() - offset);
        {
            std::lock_guard lock(mutex_);
            transferOffset_ = offset;
            awaitingAck_ = true;
            acked_ = false;
        }
        const std::vector<std::uint8_t> frame =
            BuildImportBlock(host_.SourceAddress(), static_cast<std::uint16_t>(offset),
                             std::span(image).subspan(offset, length));
        switch (SendAndAwait(frame, progress,
                             [&](TimePoint deadline) { return AwaitImportAck(deadline); })) {
            case Await::kReleased:
                break;
            case Await::kTimedOut:
                return {TransferOutcome::kTimedOut, kImportTimeoutText, kErrorCaption};
            case Await::kEndAsked:
            case Await::kFileFailed:
                return {TransferOutcome::kStopped, {}, {}};
        }
        offset += length;
        progress.bytes = offset;
        host_.ShowProgress(progress);
        if (length < kLibraryBlockSize) {
            return {TransferOutcome::kSucceeded, kImportSucceededText, kSuccessCaption};
        }
    }
}

template <class AwaitReply>
LibraryTransfer::Await LibraryTransfer::SendAndAwait(std::span<const std::uint8_t> frame,
                                                     TransferProgress& progress,
                                                     AwaitReply awaitReply) {
    int retries = 0;
    {
        std::lock_guard lock(mutex_);
        retries = retries_;
    }
    for (int attempt = 0; attempt <= retries; ++attempt) {
        {
            std::lock_guard lock(mutex_);
            if (endAsked_) return Await::kEndAsked;
        }
        if (attempt > 0) ++progress.resentBlocks;
        Send(frame);
        const Await result = awaitReply(clock_.Now() + kBlockReplyTimeout);
        if (result != Await::kTimedOut) return result;
    }
    return Await::kTimedOut;
}

// The entry is handed over before the frame goes out, so that the log never shows the
// reply before its request.
void LibraryTransfer::Send(std::span<const std::uint8_t> frame) {
    host_.Log(kSendLogText, frame);
    host_.SendFrame(frame);
}

LibraryTransfer::Await LibraryTransfer::AwaitExportBlock(ExportSink& sink, TimePoint deadline,
                                                         std::size_t* length, FileError* error) {
    std::unique_lock lock(mutex_);
    for (;;) {
        // Every block that came is written at its own offset; only the one asked for
        // releases the worker.
        while (!blocks_.empty()) {
            const ExportBlock block = std::move(blocks_.front());
            blocks_.pop_front();
            const bool asked = block.offset == transferOffset_;
            lock.unlock();
            if (!sink.WriteBlock(block.offset, block.bytes, error)) return Await::kFileFailed;
            if (asked) {
                *length = block.bytes.size();
                return Await::kReleased;
            }
            lock.lock();
        }
        if (endAsked_) return Await::kEndAsked;
        if (clock_.Now() >= deadline) return Await::kTimedOut;
        clock_.WaitUntil(wake_, lock, deadline);
    }
}

LibraryTransfer::Await LibraryTransfer::AwaitImportAck(TimePoint deadline) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (acked_) {
            acked_ = awaitingAck_ = false;
            return Await::kReleased;
        }
        if (endAsked_) return Await::kEndAsked;
        if (clock_.Now() >= deadline) return Await::kTimedOut;
        clock_.WaitUntil(wake_, lock, deadline);
    }
}

LibraryTransfer::Ending LibraryTransfer::Conclude(Ending own) {
    std::lock_guard lock(mutex_);
    running_ = false;
    blocks_.clear();
    awaitingAck_ = acked_ = false;
    // The last block was answered: the transfer is complete, whatever end was asked for
    // meanwhile (a silent end still shows no box).
    if (own.outcome == TransferOutcome::kSucceeded) return own;
    if (silentEnd_) return {TransferOutcome::kStopped, {}, {}};
    if (endAsked_) return {TransferOutcome::kAborted, endReason_, kErrorCaption};
    return own;
}

bool LibraryTransfer::IsSilenced() const {
    std::lock_guard lock(mutex_);
    return silentEnd_;
}

}  // namespace orvante::library
