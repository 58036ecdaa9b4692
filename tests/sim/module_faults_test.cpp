// The fault knobs of the virtual module, with time passed in.
#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/frame_receiver.h"
#include "sim/virtual_module.h"
#include "tests/sim/module_exchange.h"

namespace orvante::sim {
namespace {

using namespace orvante::test::sim_exchange;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

Bytes Repeated(const Bytes& frame, int times) {
    Bytes all;
    for (int i = 0; i < times; ++i) all.insert(all.end(), frame.begin(), frame.end());
    return all;
}

VirtualModule WithFaults(const Faults& faults, const ModuleConfig& config = {}) {
    VirtualModule module(config);
    module.SetFaults(faults);
    return module;
}

// The frames a console's receiver finds in `bytes`, and how many it rejected.
struct Received {
    std::vector<Bytes> frames;
    std::uint64_t rejected = 0;
};
Received ReceiveAll(const Bytes& bytes) {
    protocol::FrameReceiver receiver;
    Received received;
    for (std::uint8_t byte : bytes) {
        if (receiver.Feed(byte) == protocol::FrameReceiver::Result::kFrame) {
            received.frames.emplace_back(receiver.Frame().begin(), receiver.Frame().end());
        }
    }
    received.rejected = receiver.BadChecksums() + receiver.BadLengths();
    return received;
}

TEST(ModuleFaults, DropsEveryNthReplyOrTheNextOnes) {
    Faults everySecond;
    everySecond.dropEvery = 2;
    VirtualModule module = WithFaults(everySecond);
    EXPECT_EQ(Exchange(module, Repeated(Handshake(), 4)), Repeated(HandshakeReply(), 2));
    EXPECT_EQ(module.Counters().framesAnswered, 4u);
    EXPECT_EQ(module.Counters().repliesDropped, 2u);

    Faults nextTwo;
    nextTwo.dropNext = 2;
    module.SetFaults(nextTwo);
    EXPECT_EQ(Exchange(module, Repeated(Handshake(), 3)), HandshakeReply());
    EXPECT_EQ(module.GetFaults().dropNext, 0);
    EXPECT_EQ(Exchange(module, Handshake()), HandshakeReply());
}

TEST(ModuleFaults, CorruptsTheChecksumSoThatTheConsoleDropsTheReply) {
    Faults faults;
    faults.corruptChecksum = true;
    VirtualModule module = WithFaults(faults);
    Bytes expected = HandshakeReply();
    expected.back() = 0xCA;
    const Bytes sent = Exchange(module, Handshake());
    EXPECT_EQ(sent, expected);
    const Received received = ReceiveAll(sent);
    EXPECT_TRUE(received.frames.empty());
    EXPECT_EQ(received.rejected, 1u);
}

TEST(ModuleFaults, DelaysEveryReply) {
    Faults faults;
    faults.delay = milliseconds(200);
    VirtualModule module = WithFaults(faults);
    EXPECT_TRUE(Exchange(module, Handshake()).empty());
    EXPECT_EQ(module.NextDue(), t0 + milliseconds(200));
    EXPECT_TRUE(Concat(module.TakeDue(t0 + milliseconds(199))).empty());
    EXPECT_EQ(Concat(module.TakeDue(t0 + milliseconds(200))), HandshakeReply());
    EXPECT_FALSE(module.NextDue().has_value());
}

TEST(ModuleFaults, SplitsRepliesIntoPiecesWithGaps) {
    Faults faults;
    faults.splitSize = 4;
    faults.splitGap = milliseconds(10);
    VirtualModule module = WithFaults(faults);
    const Bytes reply = HandshakeReply();
    EXPECT_EQ(Exchange(module, Handshake()), Bytes(reply.begin(), reply.begin() + 4));
    EXPECT_EQ(module.NextDue(), t0 + milliseconds(10));
    EXPECT_TRUE(Concat(module.TakeDue(t0 + milliseconds(9))).empty());

    // Taken late, the pieces still come one by one, each with its own time.
    const std::vector<Outgoing> rest = module.TakeDue(t0 + milliseconds(25));
    ASSERT_EQ(rest.size(), 2u);
    EXPECT_EQ(rest[0].due, t0 + milliseconds(10));
    EXPECT_EQ(rest[0].bytes, Bytes(reply.begin() + 4, reply.begin() + 8));
    EXPECT_EQ(rest[1].due, t0 + milliseconds(20));
    EXPECT_EQ(rest[1].bytes, Bytes(reply.begin() + 8, reply.end()));
}

TEST(ModuleFaults, PutsGarbageThatTheReceiverSkipsBeforeEveryFrame) {
    Faults faults;
    faults.garbage = true;
    faults.garbageSeed = 7;
    VirtualModule module = WithFaults(faults);
    const Bytes sent = Exchange(module, Repeated(Handshake(), 3));
    EXPECT_GE(sent.size(), 3 * (9 + 1));
    EXPECT_LE(sent.size(), 3 * (9 + 8));
    EXPECT_EQ(std::count(sent.begin(), sent.end(), protocol::kFrameStart), 3);
    EXPECT_NE(sent.front(), protocol::kFrameStart);
    const Received received = ReceiveAll(sent);
    EXPECT_EQ(received.frames, std::vector<Bytes>(3, HandshakeReply()));
    EXPECT_EQ(received.rejected, 0u);

    VirtualModule sameSeed = WithFaults(faults);
    EXPECT_EQ(Exchange(sameSeed, Repeated(Handshake(), 3)), sent);
    faults.garbageSeed = 8;
    VirtualModule otherSeed = WithFaults(faults);
    EXPECT_NE(Exchange(otherSeed, Repeated(Handshake(), 3)), sent);
}

TEST(ModuleFaults, RepeatsEveryReply) {
    Faults faults;
    faults.repeat = 2;
    VirtualModule module = WithFaults(faults);
    EXPECT_EQ(Exchange(module, Handshake()), Repeated(HandshakeReply(), 3));
    EXPECT_EQ(module.Counters().framesAnswered, 1u);
}

TEST(ModuleFaults, SendsEveryOtherExportBlockAfterAStaleCopyOfTheOneBefore) {
    Faults faults;
    faults.staleExport = true;
    VirtualModule module(SmallLibrary(120));
    module.SetFaults(faults);

    const std::pair<std::uint8_t, std::vector<std::size_t>> kAnswers[] = {
        {0, {0}}, {50, {0, 50}}, {100, {100}}, {50, {100, 50}}};
    for (const auto& [requested, answered] : kAnswers) {
        const Received received =
            ReceiveAll(Exchange(module, Frame(kConsole, kBroadcast, 49, {requested, 0, 50})));
        std::vector<std::size_t> offsets;
        for (const Bytes& reply : received.frames) {
            const auto payload = protocol::FrameView(reply).Payload();
            ASSERT_GE(payload.size(), 3u);
            offsets.push_back(payload[0] | (payload[1] << 8));
        }
        EXPECT_EQ(offsets, answered) << +requested;
    }
}

// Line time of `bytes` at `baud`, 10 bits a byte, as a UART takes it.
nanoseconds ByteTimes(std::int64_t bytes, int baud) {
    return nanoseconds(bytes * 10'000'000'000 / baud);
}

TEST(ModuleFaults, PacesRequestAndReplyAsAUartWouldAtEachRate) {
    // An export request (12 bytes) handed to the line at t0: the module has it once its
    // last byte has crossed, and its 62-byte reply arrives in FIFO pieces of 16, each
    // when its last byte is in: after 12 + 16, 12 + 32, 12 + 48 and 12 + 62 byte times.
    const Bytes request = Request(49, {0, 0, 50});
    for (const int baud : {9600, 115200, 230400}) {
        SCOPED_TRACE(baud);
        Faults faults;
        faults.baud = baud;
        VirtualModule module = WithFaults(faults);
        module.Receive(request, t0);
        Bytes reply;
        for (const std::int64_t end : {28, 44, 60, 74}) {
            const TimePoint due = t0 + ByteTimes(12, baud) + ByteTimes(end - 12, baud);
            EXPECT_TRUE(module.TakeDue(due - nanoseconds(1)).empty());
            ASSERT_EQ(module.NextDue(), due);
            const std::vector<Outgoing> piece = module.TakeDue(due);
            ASSERT_EQ(piece.size(), 1u);
            EXPECT_EQ(piece[0].due, due);
            EXPECT_EQ(piece[0].bytes.size(), end == 74 ? 14u : 16u);
            reply.insert(reply.end(), piece[0].bytes.begin(), piece[0].bytes.end());
        }
        EXPECT_EQ(protocol::FrameView(reply).Command(), 50);
        EXPECT_EQ(reply.size(), 62u);
        EXPECT_FALSE(module.NextDue().has_value());
    }
}

TEST(ModuleFaults, PacesRequestsThatArriveTogetherOneAfterTheOther) {
    Faults faults;
    faults.baud = 10000;  // 1 ms a byte
    VirtualModule module = WithFaults(faults);
    // Two handshakes handed over at once cross the line one after the other (done at 9 and
    // 18 ms); each 9-byte reply takes 9 ms, the second once the first has been sent.
    module.Receive(Repeated(Handshake(), 2), t0);
    const std::vector<Outgoing> replies = module.TakeDue(t0 + milliseconds(100));
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].due, t0 + milliseconds(18));
    EXPECT_EQ(replies[1].due, t0 + milliseconds(27));
    EXPECT_EQ(Concat(replies), Repeated(HandshakeReply(), 2));
}

TEST(ModuleFaults, PacesDelayedAndSplitRepliesOneAfterTheOther) {
    Faults faults;
    faults.baud = 10000;  // 1 ms a byte
    faults.delay = milliseconds(100);
    faults.splitSize = 5;
    faults.splitGap = milliseconds(3);
    VirtualModule module = WithFaults(faults);
    module.Receive(Handshake(), t0);
    const std::vector<Outgoing> chunks = module.TakeDue(t0 + milliseconds(200));
    ASSERT_EQ(chunks.size(), 2u);
    // The request is in at 9 ms; 5 bytes from 109 ms on, a 3 ms gap, then 4 bytes.
    EXPECT_EQ(chunks[0].due, t0 + milliseconds(114));
    EXPECT_EQ(chunks[1].due, t0 + milliseconds(121));
}

TEST(ModuleFaults, TakeEffectFromTheNextReplyWhenChanged) {
    VirtualModule module;
    EXPECT_EQ(Exchange(module, Handshake()), HandshakeReply());
    Faults faults;
    faults.delay = milliseconds(50);
    module.SetFaults(faults);
    EXPECT_TRUE(Exchange(module, Handshake()).empty());
    module.SetFaults(Faults{});  // the reply already made keeps its delay
    EXPECT_EQ(Exchange(module, Handshake()), HandshakeReply());
    EXPECT_EQ(Concat(module.TakeDue(t0 + milliseconds(50))), HandshakeReply());
}

}  // namespace
}  // namespace orvante::sim
