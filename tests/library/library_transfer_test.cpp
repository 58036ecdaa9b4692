// The library transfer against the virtual module (or a script) in the clock's time:
// the test's thread plays the owner, moves the frames both ways, and lets the time run
// on to the next thing due whenever the worker waits with nothing on its way.
#include "library/library_transfer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "protocol/frame_receiver.h"
#include "protocol/module_frame.h"
#include "sim/virtual_module.h"
#include "tests/support/manual_clock.h"
#include "tests/support/temp_dir.h"

namespace orvante::library {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using TimePoint = TransferClock::TimePoint;
using protocol::kCmdExportBlock;
using protocol::kCmdImportBlock;
using test::RandomBytes;
using test::ReadFileBytes;
using test::WriteFileBytes;

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string out;
    char digits[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X ", b);
        out += digits;
    }
    return out;
}

// What answers at the far end of the line.
struct Peer {
    std::function<void(const Bytes&, TimePoint)> receive;
    std::function<Bytes(TimePoint)> takeDue;
    std::function<std::optional<TimePoint>()> nextDue;
};

Peer ModulePeer(sim::VirtualModule& module) {
    return {[&module](const Bytes& frame, TimePoint now) { module.Receive(frame, now); },
            [&module](TimePoint now) {
                Bytes out;
                for (const auto& piece : module.TakeDue(now))
                    out.insert(out.end(), piece.bytes.begin(), piece.bytes.end());
                return out;
            },
            [&module] { return module.NextDue(); }};
}

// Answers each request at once with the frames `answer` makes for it.
Peer ScriptPeer(std::function<Bytes(const protocol::FrameView&)> answer) {
    auto pending = std::make_shared<Bytes>();
    return {[=](const Bytes& frame, TimePoint) {
                const Bytes reply = answer(protocol::FrameView(frame));
                pending->insert(pending->end(), reply.begin(), reply.end());
            },
            [=](TimePoint) { return std::exchange(*pending, {}); },
            [] { return std::optional<TimePoint>(); }};
}

Bytes ExportReply(std::size_t offset, std::size_t length, std::span<const std::uint8_t> data) {
    Bytes payload{static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8),
                  static_cast<std::uint8_t>(length)};
    payload.insert(payload.end(), data.begin(), data.end());
    return protocol::BuildModuleFrame(sim::kDefaultAddress, sim::kDefaultAddress,
                                      protocol::kCmdExportBlockReply, payload);
}

class Link final : public TransferHost {
public:
    // The clock starts at `start`: a module keeps the time of the transfers before.
    explicit Link(Peer peer, TimePoint start = {}) : peer_(std::move(peer)) {
        clock.AdvanceTo(start);
        clock.SetWaitObserver([this] { Record([] {}); });
    }

    // Runs a transfer of `op` on `path` to its end.
    TransferProgress Run(std::uint8_t op, const std::string& path, int retries = 1) {
        LibraryTransfer transfer(*this, clock);
        running = &transfer;
        EXPECT_TRUE(transfer.Start({op, path, retries}));
        EXPECT_TRUE(RunToEnd(transfer)) << "the transfer ends";
        transfer.Join();
        return result_.value_or(TransferProgress{});
    }

    // TransferHost
    std::uint16_t SourceAddress() override { return sim::kDefaultAddress; }
    void SendFrame(std::span<const std::uint8_t> frame) override {
        Record([&] {
            outbox_.emplace_back(frame.begin(), frame.end());
            sent.push_back(Hex(frame));
        });
    }
    void Log(const std::string& text, std::span<const std::uint8_t> bytes) override {
        Record([&] { log.push_back(text + Hex(bytes)); });
    }
    void ShowBox(const std::string& text, const std::string& caption) override {
        Record([&] { boxes.push_back(caption + ":" + text); });
    }
    void ShowProgress(const TransferProgress& progress) override {
        if (onProgress) onProgress(progress);
        Record([&] { shown.push_back(progress.bytes); });
    }
    void OnTransferEnd(const TransferProgress& result) override {
        Record([&] { result_ = result; });
    }

    test::ManualClock clock;
    std::function<void(std::size_t frame)> beforeFrame;  // as frame n reaches the peer
    // On the worker, as it shows progress; `running` is the transfer at work.
    std::function<void(const TransferProgress&)> onProgress;
    LibraryTransfer* running = nullptr;
    // Written by the worker; read once it has ended.
    std::vector<std::string> sent, log, boxes;
    std::vector<std::size_t> shown;

private:
    // Moves the frames both ways until the transfer has ended, letting the time run on
    // whenever the worker waits with nothing on its way; false if it does not end.
    bool RunToEnd(LibraryTransfer& transfer) {
        const auto giveUp = std::chrono::steady_clock::now() + 20s;
        for (;;) {
            Bytes due;
            std::vector<Bytes> frames;
            std::uint64_t seen;
            bool ended;
            {
                std::lock_guard lock(mutex_);
                frames.swap(outbox_);
                seen = activity_;
                ended = result_.has_value();
            }
            for (const Bytes& frame : frames) {
                ++framesDelivered_;
                if (beforeFrame) beforeFrame(framesDelivered_);
                peer_.receive(frame, clock.Now());
            }
            due = peer_.takeDue(clock.Now());
            for (std::uint8_t byte : due) Dispatch(transfer, byte);
            if (!frames.empty() || !due.empty()) continue;
            if (ended) return true;
            // Waiting, with every frame sent before the wait delivered: nothing is on its
            // way, and the time runs on to the next reply or time-out. A wait whose
            // deadline has come is one the worker is leaving: it sends or ends next.
            const auto deadline = clock.WaitDeadline();
            if (deadline && *deadline > clock.Now() && OutboxEmpty()) {
                TimePoint next = *deadline;
                if (const auto reply = peer_.nextDue()) next = std::min(next, *reply);
                clock.AdvanceTo(std::max(next, clock.Now() + 1ms));
                continue;
            }
            std::unique_lock lock(mutex_);
            if (!changed_.wait_until(lock, giveUp, [&] { return activity_ != seen; })) {
                return false;
            }
        }
    }
    bool OutboxEmpty() {
        std::lock_guard lock(mutex_);
        return outbox_.empty();
    }
    template <class Change>
    void Record(Change change) {
        {
            std::lock_guard lock(mutex_);
            change();
            ++activity_;
        }
        changed_.notify_all();
    }
    void Dispatch(LibraryTransfer& transfer, std::uint8_t byte) {
        if (receiver_.Feed(byte) != protocol::FrameReceiver::Result::kFrame) return;
        const protocol::FrameView reply(receiver_.Frame());
        if (reply.Command() == protocol::kCmdExportBlockReply)
            transfer.OnExportReply(reply.Payload());
        if (reply.Command() == protocol::kCmdImportBlockReply) transfer.OnImportAck();
    }

    Peer peer_;
    protocol::FrameReceiver receiver_;
    std::size_t framesDelivered_ = 0;
    std::mutex mutex_;  //!< Protects outbox_, activity_, result_ and the records
    std::condition_variable changed_;
    std::vector<Bytes> outbox_;
    std::uint64_t activity_ = 0;
    std::optional<TransferProgress> result_;
};

sim::ModuleConfig LibraryOf(std::size_t size) {
    sim::ModuleConfig config;
    config.librarySize = size;
    return config;
}

std::vector<std::string> SendLog(const std::vector<std::string>& frames) {
    std::vector<std::string> log;
    for (const auto& frame : frames) log.push_back(kSendLogText + frame);
    return log;
}

std::string ImportFrame(const std::string& header, std::span<const std::uint8_t> data) {
    Bytes frame;
    for (std::size_t at = 0; at < header.size(); at += 3)
        frame.push_back(static_cast<std::uint8_t>(std::stoi(header.substr(at, 2), nullptr, 16)));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(protocol::FrameChecksum(frame));
    return Hex(frame);
}

// ---- the wire --------------------------------------------------------------------

TEST(LibraryWire, BlocksGoAsTheProtocolLaysThemOut) {
    test::TempDir dir;
    Bytes file(150);
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i);
    const std::span<const std::uint8_t> all(file);
    const std::string fullBlock = "7E 3A 00 34 12 FF FF 33 ";
    struct Case {
        const char* name;
        std::uint8_t op;
        std::size_t size;  // of the module's library, and of an import's file
        std::vector<std::string> frames;
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {"export of 120 bytes",
         kCmdExportBlock,
         120,
         {"7E 08 00 34 12 FF FF 31 00 00 32 2D ", "7E 08 00 34 12 FF FF 31 32 00 32 5F ",
          "7E 08 00 34 12 FF FF 31 64 00 32 91 "},
         {}},
        {"export whose first reply is empty",
         kCmdExportBlock,
         0,
         {"7E 08 00 34 12 FF FF 31 00 00 32 2D "},
         {}},
        {"import of 100 bytes",
         kCmdImportBlock,
         100,
         {ImportFrame(fullBlock + "00 00 32", all.subspan(0, 50)),
          ImportFrame(fullBlock + "32 00 32", all.subspan(50, 50)),
          "7E 08 00 34 12 FF FF 33 64 00 00 61 "},
         {"成功:导入成功！"}},
        {"import of an empty file",
         kCmdImportBlock,
         0,
         {"7E 08 00 34 12 FF FF 33 00 00 00 FD "},
         {"成功:导入成功！"}},
        {"import of 50 x 3 bytes",
         kCmdImportBlock,
         150,
         {ImportFrame(fullBlock + "00 00 32", all.subspan(0, 50)),
          ImportFrame(fullBlock + "32 00 32", all.subspan(50, 50)),
          ImportFrame(fullBlock + "64 00 32", all.subspan(100, 50)),
          "7E 08 00 34 12 FF FF 33 96 00 00 93 "},
         {"成功:导入成功！"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::VirtualModule module(LibraryOf(c.size));
        const std::string path = dir.File("wire.db");
        WriteFileBytes(path, Bytes(file.begin(), file.begin() + c.size));
        Link link(ModulePeer(module));
        const TransferProgress result = link.Run(c.op, path);
        EXPECT_EQ(result.outcome, TransferOutcome::kSucceeded);
        EXPECT_EQ(result.bytes, c.size);
        EXPECT_EQ(link.sent, c.frames);
        EXPECT_EQ(link.log, SendLog(c.frames));
        EXPECT_EQ(link.boxes, c.boxes);
        const auto library = module.Library();
        EXPECT_EQ(ReadFileBytes(path), Bytes(library.begin(), library.end()));
    }
}

// ---- round trips -----------------------------------------------------------------

// Replies to the second request come after its resend has gone out; a later reply is
// lost. Applied as each request reaches the module.
void LateThenLost(sim::VirtualModule& module, std::size_t frame) {
    sim::Faults faults = module.GetFaults();
    if (frame == 2) {
        faults.delay = 2500ms;
    } else if (frame == 3) {
        faults.delay = 0ms;
    } else if (frame == 6) {
        faults.dropNext = 1;
    } else {
        return;
    }
    module.SetFaults(faults);
}

// A random image goes into module A, comes out again, and goes into a fresh module B,
// on a line with faults: nothing may be lost on the way.
TEST(LibraryRoundTrip, EveryByteArrivesDespiteTheLine) {
    test::TempDir dir;
    sim::Faults dropEveryThird, repeat, stale, late, everything;
    dropEveryThird.dropEvery = 3;
    repeat.repeat = 2;
    stale.staleExport = true;
    late.delay = 2500ms;  // every reply comes after the resend has gone out
    everything.dropEvery = 7;
    everything.staleExport = true;
    everything.repeat = 1;
    struct Case {
        std::size_t size;
        sim::Faults faults;
        void (*onRequest)(sim::VirtualModule&, std::size_t) = nullptr;
    };
    const Case cases[] = {
        {1, {}},
        {49, {}},
        {50, {}},
        {120, {}},
        {65536, {}},
        {4999, dropEveryThird},
        {4999, repeat},
        {4999, stale},
        {1200, late},
        {1200, {}, LateThenLost},
        {65536, everything, LateThenLost},
    };
    unsigned seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.size << " bytes, drop " << c.faults.dropEvery << ", delay "
                     << c.faults.delay.count() << (c.onRequest ? ", late then lost" : ""));
        const Bytes image = RandomBytes(c.size, seed++);
        const std::string in = dir.File("in.db"), out = dir.File("out.db");
        WriteFileBytes(in, image);
        sim::VirtualModule a(LibraryOf(c.size)), b(LibraryOf(c.size));
        a.SetFaults(c.faults);

        Link importing(ModulePeer(a));
        if (c.onRequest) importing.beforeFrame = [&](std::size_t n) { c.onRequest(a, n); };
        const TransferProgress imported = importing.Run(kCmdImportBlock, in);
        ASSERT_EQ(imported.outcome, TransferOutcome::kSucceeded);
        EXPECT_EQ(Bytes(a.Library().begin(), a.Library().end()), image);
        // Blocks that went twice are named at the end, for the operator to check.
        EXPECT_EQ(importing.log.back().starts_with("注意："), imported.resentBlocks > 0);

        a.SetFaults(c.faults);
        Link exporting(ModulePeer(a), importing.clock.Now());
        if (c.onRequest) exporting.beforeFrame = [&](std::size_t n) { c.onRequest(a, n); };
        ASSERT_EQ(exporting.Run(kCmdExportBlock, out).outcome, TransferOutcome::kSucceeded);
        EXPECT_EQ(ReadFileBytes(out), image);
        EXPECT_EQ(exporting.shown.back(), c.size);

        Link intoFresh(ModulePeer(b));
        ASSERT_EQ(intoFresh.Run(kCmdImportBlock, out).outcome, TransferOutcome::kSucceeded);
        EXPECT_EQ(Bytes(b.Library().begin(), b.Library().end()), image);
    }
}

// A reply that claims more bytes than it carries, and an earlier block arriving before
// the one asked for: neither releases the worker, and the file is still exact.
TEST(LibraryExport, OnlyTheBlockAskedForReleasesTheWorker) {
    test::TempDir dir;
    const Bytes image = RandomBytes(120, 7);
    std::size_t requests = 0;
    Link link(ScriptPeer([&](const protocol::FrameView& request) {
        const std::size_t offset = request.Payload()[0] | (request.Payload()[1] << 8);
        const std::size_t length = std::min<std::size_t>(50, image.size() - offset);
        const auto block = std::span(image).subspan(offset, length);
        Bytes replies;
        if (offset > 0)
            replies = ExportReply(offset - 50, 50, std::span(image).subspan(offset - 50, 50));
        // The first request of each block gets a reply claiming bytes it lacks.
        const Bytes answer = ++requests % 2 == 1 ? ExportReply(offset, length + 1, block)
                                                 : ExportReply(offset, length, block);
        replies.insert(replies.end(), answer.begin(), answer.end());
        return replies;
    }));
    const TransferProgress result = link.Run(kCmdExportBlock, dir.File("x.db"));
    EXPECT_EQ(result.outcome, TransferOutcome::kSucceeded);
    EXPECT_EQ(result.resentBlocks, 3);
    EXPECT_EQ(link.sent.size(), 6u);
    EXPECT_EQ(ReadFileBytes(dir.File("x.db")), image);
}

// Replies for offsets this export never asked for are dropped and counted: they neither
// reach the file nor release the worker. A late reply to a block asked for earlier (a
// resend's crossing) is still written at its offset.
TEST(LibraryExport, BlocksNeverAskedForAreNotWritten) {
    const Bytes image = RandomBytes(777, 9);
    const auto blockAt = [&](std::size_t offset) {
        return std::span(image).subspan(offset, std::min<std::size_t>(50, image.size() - offset));
    };
    const Bytes junk(50, 0xEE);
    const struct {
        const char* name;
        std::size_t strayOffset;  // sent before the block asked for, with a full block
        int stray;
    } kRows[] = {
        {"past the library's end", 1750, 1},
        {"past the block in hand", 100, 1},
        {"between two blocks", 25, 1},
        {"an earlier block again", 0, 0},  // asked for: written again, with its own bytes
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        Link link(ScriptPeer([&](const protocol::FrameView& request) {
            const std::size_t offset = request.Payload()[0] | (request.Payload()[1] << 8);
            Bytes replies;
            if (offset == 50) {
                const bool earlier = row.strayOffset == 0;
                replies = ExportReply(row.strayOffset, 50,
                                      earlier ? blockAt(0) : std::span<const std::uint8_t>(junk));
            }
            const Bytes answer = ExportReply(offset, blockAt(offset).size(), blockAt(offset));
            replies.insert(replies.end(), answer.begin(), answer.end());
            return replies;
        }));
        const TransferProgress result = link.Run(kCmdExportBlock, dir.File("x.db"));
        EXPECT_EQ(result.outcome, TransferOutcome::kSucceeded);
        EXPECT_EQ(result.strayBlocks, row.stray);
        EXPECT_EQ(result.bytes, image.size());
        EXPECT_EQ(link.sent.size(), 16u) << "one request a block: no stray released one";
        EXPECT_EQ(ReadFileBytes(dir.File("x.db")), image);
    }
}

// ---- ends ------------------------------------------------------------------------

TEST(LibraryEnds, FailuresEndWithABoxThatSaysWhy) {
    test::TempDir dir;
    const std::string big = dir.File("big.db"), missing = dir.File("none");
    WriteFileBytes(big, Bytes(kMaxLibrarySize + 1));
    const std::string folder = dir.File("");
    struct Case {
        const char* name;
        std::uint8_t op;
        std::string path;
        std::size_t answeredBlocks;  // then the module falls silent
        TransferOutcome outcome;
        std::string box;
        std::size_t framesSent;
    };
    const Case cases[] = {
        {"import too large", kCmdImportBlock, big, 99, TransferOutcome::kTooLarge,
         "错误:文件“" + big + "”超过 65536 字节，无法导入！", 0},
        {"import of a folder", kCmdImportBlock, folder, 99, TransferOutcome::kFileError,
         "错误:无法使用文件“" + folder + "”：这是一个文件夹", 0},
        {"export into a missing folder", kCmdExportBlock, missing + "/x.db", 99,
         TransferOutcome::kFileError,
         "错误:无法写入文件“" + missing + "/x.db.part”：No such file or directory", 0},
        {"export that falls silent", kCmdExportBlock, dir.File("out.db"), 3,
         TransferOutcome::kTimedOut, "错误:导出文件超时！", 5},
        {"import that falls silent", kCmdImportBlock, dir.File("in.db"), 2,
         TransferOutcome::kTimedOut, "错误:导入文件超时！", 4},
    };
    WriteFileBytes(dir.File("in.db"), Bytes(500, 0x3C));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::VirtualModule module(LibraryOf(500));
        Link link(ModulePeer(module));
        link.beforeFrame = [&](std::size_t frame) {
            if (frame == c.answeredBlocks + 1) module.SetFaults({.dropNext = 2});
        };
        const TransferProgress result = link.Run(c.op, c.path);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(link.boxes, std::vector<std::string>{c.box});
        EXPECT_EQ(link.sent.size(), c.framesSent);
        if (c.framesSent > 0) {
            // The last block went twice, and what came before stays in the file.
            EXPECT_EQ(link.sent[c.framesSent - 1], link.sent[c.framesSent - 2]);
            EXPECT_EQ(result.bytes, c.answeredBlocks * kLibraryBlockSize);
        }
    }
    // The export's blocks are kept beside the file it never made.
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.db")));
    EXPECT_EQ(ReadFileBytes(dir.File("out.db.part")), Bytes(150, sim::kErasedByte));
}

// A block goes again as often as asked after each silence, and no more.
TEST(LibraryEnds, ABlockIsResentAsOftenAsAsked) {
    const struct {
        int retries;
        TransferOutcome outcome;
        std::size_t framesSent;  // block 1, block 2 (each time), block 3
    } kRows[] = {
        {0, TransferOutcome::kTimedOut, 2},
        {1, TransferOutcome::kTimedOut, 3},
        {2, TransferOutcome::kSucceeded, 5},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.retries);
        test::TempDir dir;
        sim::VirtualModule module(LibraryOf(120));
        Link link(ModulePeer(module));
        link.beforeFrame = [&](std::size_t frame) {
            if (frame == 2) module.SetFaults({.dropNext = 2});
        };
        const TransferProgress result = link.Run(kCmdExportBlock, dir.File("out.db"), row.retries);
        EXPECT_EQ(result.outcome, row.outcome);
        EXPECT_EQ(link.sent.size(), row.framesSent);
        EXPECT_EQ(result.resentBlocks, std::min(row.retries, 2));
    }
}

// An end asked for after the last block was answered, before the outcome is settled,
// does not turn a complete transfer into a broken one; a silent end shows no box.
TEST(LibraryEnds, ATransferWhoseLastBlockWasAnsweredIsComplete) {
    for (const bool silent : {false, true}) {
        SCOPED_TRACE(silent);
        test::TempDir dir;
        const Bytes image = RandomBytes(120, 5);
        WriteFileBytes(dir.File("in.db"), image);
        sim::VirtualModule module(LibraryOf(500));
        Link link(ModulePeer(module));
        link.onProgress = [&](const TransferProgress& progress) {
            if (progress.bytes != image.size()) return;
            if (silent) {
                link.running->Stop();
            } else {
                link.running->Abort("");
            }
        };
        const TransferProgress result = link.Run(kCmdImportBlock, dir.File("in.db"));
        EXPECT_EQ(result.outcome, TransferOutcome::kSucceeded);
        EXPECT_EQ(result.bytes, image.size());
        EXPECT_EQ(link.boxes, silent ? std::vector<std::string>{}
                                     : std::vector<std::string>{"成功:导入成功！"});
    }
}

// A module that never sends a short block cannot go past 16-bit offsets.
TEST(LibraryEnds, AnExportThatNeverEndsStopsAt16BitOffsets) {
    test::TempDir dir;
    Link link(ScriptPeer([](const protocol::FrameView& request) {
        const std::size_t offset = request.Payload()[0] | (request.Payload()[1] << 8);
        return ExportReply(offset, 50, Bytes(50, 0x5A));
    }));
    const std::string path = dir.File("endless.db");
    const TransferProgress result = link.Run(kCmdExportBlock, path);
    EXPECT_EQ(result.outcome, TransferOutcome::kTooLarge);
    EXPECT_EQ(link.boxes, std::vector<std::string>{"错误:码库超过 65536 字节仍未结束，导出中止！"});
    EXPECT_EQ(link.log.back(), "已接收的65550字节保存在" + path + ".part");
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(ReadFileBytes(path + ".part"), Bytes(65550, 0x5A));
}

}  // namespace
}  // namespace orvante::library
