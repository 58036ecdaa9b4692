#include "protocol/module_frame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/commands.h"

namespace orvante::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct ChecksumCase {
    const char* name;
    Bytes bytes;
    std::uint8_t expected;
};

TEST(FrameChecksumTest, MatchesKnownValues) {
    const Bytes handshakeHeader(kHandshakeFrame.begin(), kHandshakeFrame.end() - 1);
    const std::vector<ChecksumCase> cases = {
        {"handshake header", handshakeHeader, 0x80},
        {"single 0xFF becomes 0x00", {0xFF}, 0x00},
        {"single byte is itself", {0x12}, 0x12},
        {"two 0xFF are summed, not special", {0xFF, 0xFF}, 0xFE},
        {"sum wraps modulo 256", {0x80, 0x80, 0x01}, 0x01},
        {"no bytes", {}, 0x00},
        {"only the first 255 bytes count", Bytes(300, 0x01), 0xFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FrameChecksum(c.bytes), c.expected) << c.name;
    }
}

TEST(BuildModuleFrameTest, HandshakeIsTheBroadcastConnectFrame) {
    EXPECT_THAT(BuildModuleFrame(kBroadcastAddress, kBroadcastAddress, kCmdConnect, {}),
                ElementsAreArray(kHandshakeFrame));
}

TEST(BuildModuleFrameTest, TestConnectionToTypedTarget) {
    std::string target = "1234";
    const auto destination = static_cast<std::uint16_t>(ParseHexAddress(target));
    EXPECT_THAT(BuildModuleFrame(0x0001, destination, kCmdConnect, {}),
                ElementsAre(0x7E, 0x05, 0x00, 0x01, 0x00, 0x34, 0x12, 0x01, 0xCB));
}

TEST(BuildModuleFrameTest, LowerCaseTargetIsUpperCasedAndUsed) {
    std::string target = "00a1";
    const auto destination = static_cast<std::uint16_t>(ParseHexAddress(target));
    EXPECT_EQ(target, "00A1");
    EXPECT_THAT(BuildModuleFrame(0x1234, destination, kCmdReadPulseCapacity, {}),
                ElementsAre(0x7E, 0x05, 0x00, 0x34, 0x12, 0xA1, 0x00, 0x11, 0x7B));
}

TEST(BuildModuleFrameTest, TimedTasksPayloadSetsLengthAndChecksum) {
    Bytes payload(27);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
    const Bytes frame = BuildModuleFrame(0x0102, 0x0304, kCmdSetTimedTasks, payload);
    ASSERT_EQ(frame.size(), 36u);
    EXPECT_EQ(frame[1], 0x20);
    EXPECT_EQ(frame[2], 0x00);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), frame.begin() + kPayloadOffset));
    EXPECT_EQ(frame.back(), FrameChecksum(frame.data(), frame.size() - 1));
}

TEST(BuildModuleFrameTest, StartByteValueInPayloadIsNotEscaped) {
    const Bytes payload = {0x7E, 0x7D, 0x7E};
    EXPECT_THAT(
        BuildModuleFrame(0x0001, 0x0002, kCmdLearn, payload),
        ElementsAre(0x7E, 0x08, 0x00, 0x01, 0x00, 0x02, 0x00, 0x12, 0x7E, 0x7D, 0x7E, 0x14));
}

TEST(BuildModuleFrameTest, PayloadLimitIs247Bytes) {
    const Bytes largest = BuildModuleFrame(0x0001, 0x0002, kCmdLearn, Bytes(247, 0xAA));
    ASSERT_EQ(largest.size(), 256u);
    EXPECT_EQ(largest[1], 252);
    EXPECT_EQ(largest.back(), FrameChecksum(largest.data(), 255));
    EXPECT_TRUE(BuildModuleFrame(0x0001, 0x0002, kCmdLearn, Bytes(248, 0xAA)).empty());
}

struct HexAddressCase {
    std::string text;
    std::uint32_t value;
    std::string textAfter;
};

TEST(ParseHexAddressTest, ReadsHexAndRefusesEverythingElse) {
    const std::vector<HexAddressCase> cases = {
        {"", 0, ""},
        {"0", 0, "0"},
        {"0000", 0, "0000"},
        {"1234", 0x1234, "1234"},
        {"ffff", 0xFFFF, "FFFF"},
        {"aBcD", 0xABCD, "ABCD"},
        {"10000", 0x10000, "10000"},             // low 16 bits are 0: refused by callers
        {"123456789", 0x23456789, "123456789"},  // only the last eight digits survive
        {"1G", 0, "1G"},                         // not 0x17: G is no hex digit
        {"1g", 0, "1G"},                         // upper-cased even when refused
        {" 12", 0, " 12"},                       // a blank must not set the high bits
        {"12 ", 0, "12 "},
        {"-1", 0, "-1"},
        {"0x12", 0, "0X12"},
        {"\xE4\xB8\x80", 0, "\xE4\xB8\x80"},  // non-ASCII text is left alone
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(ParseHexAddress(text), c.value) << '"' << c.text << '"';
        EXPECT_EQ(text, c.textAfter) << '"' << c.text << '"';
    }
}

TEST(FrameViewTest, ReadsFieldsOfABuiltFrame) {
    const Bytes payload = {0x01, 0x02, 0x03};
    const Bytes frame = BuildModuleFrame(0xBEEF, 0x1234, kCmdTransmitReply, payload);
    const FrameView view(frame);
    EXPECT_EQ(view.Length(), 8);
    EXPECT_EQ(view.Source(), 0xBEEF);
    EXPECT_EQ(view.Destination(), 0x1234);
    EXPECT_EQ(view.Command(), kCmdTransmitReply);
    EXPECT_EQ(view.PayloadSize(), 3u);
    EXPECT_THAT(view.Payload(), ElementsAreArray(payload));
}

TEST(FrameViewTest, FieldsOutsideAShortFrameReadAsZero) {
    // LEN 4: source and destination, but no command byte; offset 7 is the checksum.
    const Bytes lenFour = {0x7E, 0x04, 0x00, 0x34, 0x12, 0x78, 0x56, 0x42};
    const FrameView view(lenFour);
    EXPECT_EQ(view.Source(), 0x1234);
    EXPECT_EQ(view.Destination(), 0x5678);
    EXPECT_EQ(view.Command(), 0);
    EXPECT_TRUE(view.Payload().empty());

    // LEN claims more than the bytes hold: the payload is cut to what is there.
    const Bytes truncated = {0x7E, 0x20, 0x00, 0x01, 0x00, 0x02, 0x00, 0x19, 0xAA, 0xBB};
    EXPECT_THAT(FrameView(truncated).Payload(), ElementsAre(0xAA, 0xBB));

    EXPECT_EQ(FrameView(Bytes{0x7E}).Length(), 0);
    EXPECT_EQ(FrameView({}).Command(), 0);
}

}  // namespace
}  // namespace orvante::protocol
