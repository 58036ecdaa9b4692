// The module functions' payloads byte for byte, the reading of typed numbers, and the
// replies' length rule.
#include <gtest/gtest.h>

#include <limits>
#include <string>
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

// `size` zero bytes with `field` at `offset`.
Bytes Placed(std::size_t size, std::size_t offset, const Bytes& field) {
    Bytes bytes(size, 0x00);
    std::copy(field.begin(), field.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return bytes;
}

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

TEST(DecimalField, ReadsLikeTheFieldsAndSaturatesInsteadOfWrapping) {
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
        {"--5", 0},
        {"0x10", 0},
        {"2147483647", kMax},
        {"2147483648", kMax},
        {"4294967296", kMax},  // atoi would give 0 here
        {"99999999999999999999999999999999", kMax},
        {"-2147483648", kMin},
        {"-2147483649", kMin},
        {"-99999999999999999999999999999999", kMin},
        {"00000000000000000000000000000042", 42},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(ParseDecimalField(c.typed), c.value) << '"' << c.typed << '"';
    }
}

TEST(FunctionRanges, AdmitOnlyTheirValuesAndRefuseSaturatedOnes) {
    const struct {
        const char* typed;
        bool slot;
        bool capacity;
    } kCases[] = {
        {"-1", false, false},  {"0", true, false},           {"1", true, true},
        {"100", true, true},   {"101", false, true},         {"400", false, true},
        {"401", false, false}, {"4294967296", false, false}, {"-4294967295", false, false},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(IsSlotInRange(ParseDecimalField(c.typed)), c.slot) << c.typed;
        EXPECT_EQ(IsPulseCapacityInRange(ParseDecimalField(c.typed)), c.capacity) << c.typed;
    }
}

TEST(FunctionPayloads, AreTheBytesTheModuleExpects) {
    TimedTasks example{};
    example[0] = {.enabled = true, .slot = 5, .periodMinutes = 10, .startDelayMinutes = 2};
    TimedTasks loops{};
    loops[2].loopCount = Field("70000");
    TimedTasks saturated{};
    saturated[1].periodMinutes = Field("4294967296");
    AcCodeRequest hot{.brand = 258, .temperatureIndex = 14};
    AcCodeRequest everything{.brand = Field("70000"),
                             .power = 1,
                             .mode = 4,
                             .temperatureIndex = 0,
                             .fan = 5,
                             .swing = 2};

    const struct {
        const char* what;
        Bytes payload;
        Bytes expected;
    } kCases[] = {
        {"slot 25", AsBytes(EncodeSlotRequest(Field("25"))), {0x19, 0x00}},
        {"empty slot edit", AsBytes(EncodeSlotRequest(Field(""))), {0x00, 0x00}},
        {"slot 100", AsBytes(EncodeSlotRequest(Field("100"))), {0x64, 0x00}},
        {"capacity 400", AsBytes(EncodeSetPulseCapacity(400)), {0x00, 0x90, 0x01}},
        {"capacity 1", AsBytes(EncodeSetPulseCapacity(1)), {0x00, 0x01, 0x00}},
        {"task 1 on, slot 5, period 10, delay 2", AsBytes(EncodeTimedTasks(example)),
         Placed(27, 0, {0x01, 0x05, 0x00, 0x0A, 0x00, 0x02, 0x00, 0x00, 0x00})},
        {"all empty and off", AsBytes(EncodeTimedTasks({})), Bytes(27, 0x00)},
        {"loop count 70000 in task 3", AsBytes(EncodeTimedTasks(loops)),
         Placed(27, 25, {0x70, 0x11})},
        {"4294967296 as task 2's period", AsBytes(EncodeTimedTasks(saturated)),
         Placed(27, 12, {0xFF, 0xFF})},
        {"brand 258, start-up selections",
         AsBytes(EncodeAcCode({.brand = 258})),
         {0x01, 0x02, 0x00, 0x00, 0x10, 0x00, 0x00}},
        {"30 degrees", AsBytes(EncodeAcCode(hot)), {0x01, 0x02, 0x00, 0x00, 0x1E, 0x00, 0x00}},
        {"brand 70000, last item of every list",
         AsBytes(EncodeAcCode(everything)),
         {0x11, 0x70, 0x01, 0x04, 0x10, 0x05, 0x02}},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.payload, c.expected) << c.what;
    }
}

// What each reply carries is proved through the console's dispatch; here the rule that
// a reply too short for its fields gives nothing, and that tasks survive a round trip.
TEST(FunctionReplies, GiveNothingWhenShorterThanTheirFields) {
    const Bytes bytes(27, 0xA5);
    const auto first = [&](std::size_t n) { return std::span(bytes).first(n); };
    EXPECT_FALSE(DecodeLearnResult(first(4)));
    EXPECT_EQ(DecodeLearnResult(first(5))->PulseCount(), 0xA5A5 >> 1);
    EXPECT_FALSE(DecodeTransmitResult(first(2)));
    EXPECT_EQ(DecodeTransmitResult(first(3))->status, 0xA5);
    EXPECT_FALSE(DecodePulseCapacity(first(2)));
    EXPECT_EQ(DecodePulseCapacity(first(3)), 0xA5A5);
    EXPECT_FALSE(DecodeTimedTasks(first(26)));
    EXPECT_TRUE(DecodeTimedTasks(first(27)));
}

TEST(FunctionReplies, TasksReadBackAsWritten) {
    const TimedTasks tasks = {{
        {.enabled = true,
         .slot = 1,
         .periodMinutes = 2,
         .startDelayMinutes = 3,
         .loopCount = 0xFFFF},
        {.slot = 0x1234, .periodMinutes = 0x00FF, .startDelayMinutes = 0xFF00, .loopCount = 5},
        {.enabled = true, .slot = 100, .periodMinutes = 1440, .loopCount = 70},
    }};
    const TimedTasksPayload payload = EncodeTimedTasks(tasks);
    EXPECT_EQ(DecodeTimedTasks(payload), tasks);
}

}  // namespace
}  // namespace orvante::functions
