#include "protocol/frame_receiver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "protocol/commands.h"
#include "protocol/module_frame.h"

namespace orvante::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Result = FrameReceiver::Result;
using ::testing::ElementsAre;

// Connect reply: command 2 from 0x1234 to 0xFFFF.
const Bytes kReply = {0x7E, 0x05, 0x00, 0x34, 0x12, 0xFF, 0xFF, 0x02, 0xC9};
// Garbage without a start byte.
const Bytes kGarbage = {0x00, 0x11, 0xFF, 0x05, 0x7D, 0xC9, 0x80};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes WithoutStartByte(const Bytes& frame) {
    return Bytes(frame.begin() + 1, frame.end());
}

Bytes ReplyWithPayload(std::size_t payloadSize) {
    Bytes payload(payloadSize);
    for (std::size_t i = 0; i < payloadSize; ++i) payload[i] = static_cast<std::uint8_t>(i + 0x70);
    return BuildModuleFrame(0x1234, 0x0001, kCmdExportBlockReply, payload);
}

// Feeds every byte and returns copies of the frames delivered. Checks on the way that
// Frame() is non-empty exactly after a kFrame result.
std::vector<Bytes> FeedAll(FrameReceiver& receiver, std::span<const std::uint8_t> bytes) {
    std::vector<Bytes> frames;
    for (std::uint8_t byte : bytes) {
        const Result result = receiver.Feed(byte);
        const auto frame = receiver.Frame();
        EXPECT_EQ(result == Result::kFrame, !frame.empty());
        if (result == Result::kFrame) frames.emplace_back(frame.begin(), frame.end());
    }
    return frames;
}

TEST(FrameReceiverTest, AssemblesTheConnectReply) {
    FrameReceiver receiver;
    for (std::size_t i = 0; i + 1 < kReply.size(); ++i) {
        EXPECT_EQ(receiver.Feed(kReply[i]), Result::kIncomplete) << "byte " << i;
    }
    ASSERT_EQ(receiver.Feed(kReply.back()), Result::kFrame);
    EXPECT_THAT(receiver.Frame(), ::testing::ElementsAreArray(kReply));
    const FrameView view(receiver.Frame());
    EXPECT_EQ(view.Command(), kCmdConnectReply);
    EXPECT_EQ(view.Source(), 0x1234);
    EXPECT_EQ(view.Destination(), kBroadcastAddress);
    EXPECT_EQ(receiver.FramesReceived(), 1u);
    EXPECT_EQ(receiver.State(), ReceiverState::kHunt);

    receiver.Feed(0x00);
    EXPECT_TRUE(receiver.Frame().empty()) << "a frame is valid only until the next byte";
}

struct HighLengthByteCase {
    std::uint8_t received;
    std::uint8_t checksum;
    bool accepted;
};

TEST(FrameReceiverTest, HighLengthByteIsStoredAsZeroAndNotChecksummed) {
    const std::vector<HighLengthByteCase> cases = {
        {0x01, 0xCA, false},  // checksum counting the received 0x01
        {0x01, 0xC9, true},
        {0xFF, 0xC9, true},
    };
    for (const auto& c : cases) {
        Bytes frame = kReply;
        frame[2] = c.received;
        frame.back() = c.checksum;
        FrameReceiver receiver;
        const auto frames = FeedAll(receiver, frame);
        if (c.accepted) {
            EXPECT_THAT(frames, ElementsAre(kReply)) << int{c.received};
        } else {
            EXPECT_TRUE(frames.empty()) << int{c.received};
            EXPECT_EQ(receiver.BadChecksums(), 1u);
        }
    }
}

TEST(FrameReceiverTest, AcceptsLengthsOneToSixtyThree) {
    const Bytes lenOne = {0x7E, 0x01, 0x00, 0xAA, 0x29};
    const Bytes lenSixtyThree = ReplyWithPayload(58);
    ASSERT_EQ(lenSixtyThree.size(), kMaxReceivedFrameSize);
    for (const Bytes& frame : {lenOne, lenSixtyThree}) {
        FrameReceiver receiver;
        EXPECT_THAT(FeedAll(receiver, frame), ElementsAre(frame)) << frame.size();
    }
}

TEST(FrameReceiverTest, BadLengthDropsFrameAndConsumesTheNextByte) {
    for (std::uint8_t badLength : {0x00, 0x40, 0xFF}) {
        FrameReceiver receiver;
        EXPECT_EQ(receiver.Feed(kFrameStart), Result::kIncomplete);
        EXPECT_EQ(receiver.Feed(badLength), Result::kIncomplete);
        // This 0x7E is consumed as the length's high byte, so the rest of the reply that
        // follows it must not form a frame.
        EXPECT_EQ(receiver.Feed(kFrameStart), Result::kBadLength) << int{badLength};
        EXPECT_EQ(receiver.State(), ReceiverState::kHunt);
        EXPECT_TRUE(FeedAll(receiver, WithoutStartByte(kReply)).empty()) << int{badLength};
        EXPECT_THAT(FeedAll(receiver, kReply), ElementsAre(kReply));
        EXPECT_EQ(receiver.BadLengths(), 1u);
    }
}

TEST(FrameReceiverTest, FindsFramesAmongGarbageAndBackToBack) {
    const Bytes block = ReplyWithPayload(53);
    FrameReceiver receiver;
    const Bytes stream = Concat({kGarbage, kReply, kGarbage, block, kReply, kReply, kGarbage});
    EXPECT_THAT(FeedAll(receiver, stream), ElementsAre(kReply, block, kReply, kReply));
    EXPECT_EQ(receiver.BadLengths() + receiver.BadChecksums(), 0u);
}

TEST(FrameReceiverTest, StartByteInsideTheBodyIsData) {
    const Bytes frame = BuildModuleFrame(0x7E7E, 0x007E, 0x7E, Bytes{0x7E, 0x7E, 0x00, 0x7E});
    FrameReceiver receiver;
    EXPECT_THAT(FeedAll(receiver, frame), ElementsAre(frame));
}

// A wrong checksum drops the frame; neither the checksum byte nor the body already taken
// is looked at again for a start byte, so nothing that follows forms a frame before the
// next 0x7E.
TEST(FrameReceiverTest, WrongChecksumIsNotScannedAgainForAStartByte) {
    Bytes checksumIsStart = kReply;
    checksumIsStart.back() = kFrameStart;
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"checksum byte 0x7E, then the reply without its start",
         Concat({checksumIsStart, WithoutStartByte(kReply)})},
        {"LEN 9, the whole reply as the body, a wrong checksum",
         Concat({{0x7E, 0x09, 0x00}, kReply, {0x00}})},
        // The body ends with the reply's first four bytes, its fifth is the wrong checksum.
        {"LEN 9, a body holding the start of the reply, the rest of it after",
         Concat({{0x7E, 0x09, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, kReply})},
    };
    for (const auto& c : cases) {
        FrameReceiver receiver;
        EXPECT_TRUE(FeedAll(receiver, c.bytes).empty()) << c.name;
        EXPECT_EQ(receiver.BadChecksums(), 1u) << c.name;
        EXPECT_EQ(receiver.State(), ReceiverState::kHunt) << c.name;
        EXPECT_THAT(FeedAll(receiver, kReply), ElementsAre(kReply)) << c.name;
    }
}

// After k bytes of a frame of length LEN the receiver waits for: the start byte (k = 0),
// LEN, its high byte, the body (3 <= k < 3 + LEN), the checksum (k = 3 + LEN).
ReceiverState ExpectedStateAfter(std::size_t k, std::size_t length) {
    if (k == 0) return ReceiverState::kHunt;
    if (k == 1) return ReceiverState::kLength;
    if (k == 2) return ReceiverState::kLengthHigh;
    if (k < 3 + length) return ReceiverState::kBody;
    return ReceiverState::kChecksum;
}

TEST(FrameReceiverTest, FrameSplitAtEveryBoundaryGivesTheSameFrame) {
    for (const Bytes& frame : {Bytes{0x7E, 0x01, 0x00, 0xAA, 0x29}, kReply, ReplyWithPayload(27),
                               ReplyWithPayload(58)}) {
        const std::size_t length = frame[1];
        for (std::size_t k = 0; k < frame.size(); ++k) {
            FrameReceiver receiver;
            const std::span<const std::uint8_t> all(frame);
            EXPECT_TRUE(FeedAll(receiver, all.first(k)).empty());
            EXPECT_EQ(receiver.State(), ExpectedStateAfter(k, length))
                << "LEN " << length << " k " << k;
            EXPECT_THAT(FeedAll(receiver, all.subspan(k)), ElementsAre(frame))
                << "LEN " << length << " k " << k;
        }
    }
}

TEST(FrameReceiverTest, ResetMidFrameDropsThePartialFrame) {
    const std::span<const std::uint8_t> reply(kReply);
    for (std::size_t k : {1u, 2u, 3u, 6u, 8u}) {
        FrameReceiver receiver;
        FeedAll(receiver, reply.first(k));
        receiver.Reset();
        EXPECT_EQ(receiver.State(), ReceiverState::kHunt);
        EXPECT_TRUE(FeedAll(receiver, reply.subspan(k)).empty()) << k;
        EXPECT_THAT(FeedAll(receiver, kReply), ElementsAre(kReply)) << k;
    }
}

// Random bytes with real frames mixed in: every delivered frame is well formed, and each
// fault is counted once.
TEST(FrameReceiverTest, ArbitraryInputYieldsOnlyWellFormedFrames) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byteValue(0, 255);
    FrameReceiver receiver;
    std::uint64_t frames = 0, badLengths = 0, badChecksums = 0;
    for (int round = 0; round < 2000; ++round) {
        Bytes chunk(byteValue(random) % 80);
        for (auto& byte : chunk) byte = static_cast<std::uint8_t>(byteValue(random));
        if (round % 3 == 0) chunk = Concat({chunk, ReplyWithPayload(byteValue(random) % 59)});
        for (std::uint8_t byte : chunk) {
            switch (receiver.Feed(byte)) {
                case Result::kFrame: {
                    ++frames;
                    const auto frame = receiver.Frame();
                    ASSERT_GE(frame[1], kMinReceivedLength);
                    ASSERT_LE(frame[1], kMaxReceivedLength);
                    ASSERT_EQ(frame.size(), frame[1] + kFrameSizeBeyondLength);
                    ASSERT_EQ(frame[2], 0x00);
                    ASSERT_EQ(frame.back(), FrameChecksum(frame.first(frame.size() - 1)));
                    break;
                }
                case Result::kBadLength:
                    ++badLengths;
                    break;
                case Result::kBadChecksum:
                    ++badChecksums;
                    break;
                case Result::kIncomplete:
                    break;
            }
        }
    }
    EXPECT_GT(frames, 0u);
    EXPECT_EQ(receiver.FramesReceived(), frames);
    EXPECT_EQ(receiver.BadLengths(), badLengths);
    EXPECT_EQ(receiver.BadChecksums(), badChecksums);
}

}  // namespace
}  // namespace orvante::protocol
