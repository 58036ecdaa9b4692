// When the monitor reads what has arrived: pieces at once, trickles gathered, and never
// a wait of more than about two byte times after the last byte.
#include "serial/input_gathering.h"

#include <gtest/gtest.h>

namespace orvante::serial {
namespace {

using namespace std::chrono_literals;
using Duration = InputGathering::Duration;

const InputGathering::TimePoint t0 = InputGathering::TimePoint{} + 1h;

LineSettings Line(int baud, char parity = 'N', int dataBits = 8, int stopBits = 1) {
    LineSettings settings;
    settings.baudRate = baud;
    settings.parity = parity;
    settings.dataBits = dataBits;
    settings.stopBits = stopBits;
    return settings;
}

TEST(InputGathering, ByteTimeCountsEveryBitOfACharacter) {
    EXPECT_EQ(InputGathering::ByteTime(Line(9600)), 1041666ns);
    EXPECT_EQ(InputGathering::ByteTime(Line(230400)), 43402ns);
    EXPECT_EQ(InputGathering::ByteTime(Line(9600, 'E', 8, 2)), 1250000ns);
}

// A port event at `at` after t0 with this many bytes waiting, and whether the monitor
// should wait before reading.
struct Step {
    Duration at;
    std::size_t waiting;
    bool expectWait;
};

TEST(InputGathering, ReadsPiecesAtOnceAndGathersOnlyWhatTrickles) {
    const Duration byteTime = InputGathering::ByteTime(Line(115200));  // 86.8 us
    const Duration look = 2 * byteTime;
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        // A reply in FIFO pieces 16 byte times apart: every piece, the last one too.
        {"fifo pieces", {{0ns, 16, false}, {16 * byteTime, 16, false}, {32 * byteTime, 14, false}}},
        // A lone byte, then bytes one byte time apart: gathered from the second on.
        {"trickle", {{0ns, 1, false}, {byteTime, 1, true}}},
        // A full queue is read at once even inside a trickle.
        {"full queue", {{0ns, 1, false}, {byteTime, 512, false}}},
        // Bytes a little further apart than two byte times are not a trickle.
        {"slow bytes", {{0ns, 1, false}, {look + 1ns, 1, false}, {2 * look + 2ns, 1, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InputGathering gathering(byteTime);
        for (const Step& step : c.steps) {
            const auto wait = gathering.Decide(t0 + step.at, step.waiting);
            EXPECT_EQ(wait.has_value(), step.expectWait) << step.at.count();
            if (wait) {
                EXPECT_EQ(*wait, look);
                // Nothing new by the next look: read then, two byte times after the last.
                EXPECT_FALSE(gathering.Decide(t0 + step.at + *wait, step.waiting));
            }
        }
    }
}

TEST(InputGathering, GathersAStreamThatKeepsComingForAtMostTheLongestGather) {
    const Duration byteTime = InputGathering::ByteTime(Line(230400));
    InputGathering gathering(byteTime);
    ASSERT_FALSE(gathering.Decide(t0, 1));
    auto now = t0 + byteTime;
    std::size_t waiting = 1;
    auto wait = gathering.Decide(now, waiting);
    while (wait) {
        ASSERT_LE(now - t0, InputGathering::kMaxGather);
        now += *wait;
        waiting += 2;  // still arriving
        wait = gathering.Decide(now, waiting);
    }
    EXPECT_GE(now - t0 + 2 * byteTime, InputGathering::kMaxGather);
}

TEST(InputGathering, NeverLooksMoreOftenThanTheShortestLook) {
    InputGathering gathering(InputGathering::ByteTime(Line(4'000'000)));
    ASSERT_FALSE(gathering.Decide(t0, 1));
    EXPECT_EQ(gathering.Decide(t0 + 1us, 2), InputGathering::kShortestLook);
}

}  // namespace
}  // namespace orvante::serial
