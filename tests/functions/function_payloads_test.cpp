// The module functions' payloads byte for byte and the reading of typed numbers. What the
// replies carry, and the range tests, are proved through the console (tests/ui).
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "functions/ac_code.h"
#include "functions/decimal_field.h"
#include "functions/learn_transmit.h"
#include "functions/pulse_capacity.h"
#include "functions/timed_tasks.h"

namespace orvante::functions {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <std::size_t N>
Bytes AsBytes(const std::array<std::uint8_t, N>& payload) {
    return Bytes(payload.begin(), payload.end());
}

std::uint16_t Field(const char* typed) {
    return Low16(ParseDecimalField(typed));
}

// 27 zero bytes with `field` at `offset`: a tasks payload.
Bytes TasksWith(std::size_t offset, const Bytes& field) {
    Bytes bytes(kTimedTasksSize, 0x00);
    std::copy(field.begin(), field.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return bytes;
}

TEST(DecimalField, ReadsLikeTheFieldsAndSaturatesInsteadOfWrapping) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    const struct {
        const char* typed;
        std::int32_t value;
    } kCases[] = {
        {"", 0},
        {"25", 25},
        {" \t\r\n\v\f25", 25},
        {"+7", 7},
        {"-1", -1},
        {"12ab", 12},
        {"1 2", 1},
        {"abc", 0},
        {"- 5", 0},
        {"0x10", 0},
        {"2147483647", kMax},
        {"2147483648", kMax},
        {"4294967296", kMax},  // atoi: 0
        {"-2147483648", kMin},
        {"-2147483649", kMin},
        {"-4294967295", kMin},  // atoi: 1
        {"99999999999999999999999999999999", kMax},
        {"0000000000000000000000000042", 42},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(ParseDecimalField(c.typed), c.value) << '"' << c.typed << '"';
    }
}

TEST(FunctionPayloads, AreTheBytesTheModuleExpects) {
    TimedTasks example{};
    example[0] = {.enabled = true, .slot = 5, .periodMinutes = 10, .startDelayMinutes = 2};
    TimedTasks big{};
    big[1].periodMinutes = Field("4294967296");
    big[2].loopCount = Field("70000");
    const AcCodeRequest lastItems{
        .brand = Field("70000"), .power = 1, .mode = 4, .fan = 5, .swing = 2};

    const struct {
        const char* what;
        Bytes payload;
        Bytes expected;
    } kCases[] = {
        {"slot 25", AsBytes(EncodeSlotRequest(Field("25"))), {0x19, 0x00}},
        {"empty slot edit", AsBytes(EncodeSlotRequest(Field(""))), {0x00, 0x00}},
        {"capacity 400", AsBytes(EncodeSetPulseCapacity(400)), {0x00, 0x90, 0x01}},
        {"capacity 1", AsBytes(EncodeSetPulseCapacity(1)), {0x00, 0x01, 0x00}},
        {"task 1 on, slot 5, period 10, delay 2", AsBytes(EncodeTimedTasks(example)),
         TasksWith(0, {0x01, 0x05, 0x00, 0x0A, 0x00, 0x02, 0x00, 0x00, 0x00})},
        {"all empty and off", AsBytes(EncodeTimedTasks({})), TasksWith(0, {})},
        {"period 4294967296 and loop count 70000", AsBytes(EncodeTimedTasks(big)),
         TasksWith(12, {0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x70, 0x11})},
        {"brand 258, start-up selections",
         AsBytes(EncodeAcCode({.brand = 258})),
         {0x01, 0x02, 0x00, 0x00, 0x10, 0x00, 0x00}},
        {"30 degrees",
         AsBytes(EncodeAcCode({.temperatureIndex = 14})),
         {0x00, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00}},
        {"brand 70000, the last item of every list",
         AsBytes(EncodeAcCode(lastItems)),
         {0x11, 0x70, 0x01, 0x04, 0x10, 0x05, 0x02}},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.payload, c.expected) << c.what;
    }
}

// The console's dispatch drops short replies before their handlers; the decoders keep
// the same rule for other callers.
TEST(FunctionReplies, GiveNothingWhenShorterThanTheirFields) {
    const Bytes bytes(kTimedTasksSize, 0xA5);
    const auto first = [&](std::size_t n) { return std::span(bytes).first(n); };
    EXPECT_FALSE(DecodeLearnResult(first(4)));
    EXPECT_EQ(DecodeLearnResult(first(5))->PulseCount(), 0xA5A5 >> 1);
    EXPECT_FALSE(DecodeTransmitResult(first(2)));
    EXPECT_FALSE(DecodePulseCapacity(first(2)));
    EXPECT_FALSE(DecodeTimedTasks(first(26)));
}

}  // namespace
}  // namespace orvante::functions
