// When the monitor reads what has arrived on the port. Every read is handed to the window
// in one delivery, and every delivery costs two thread wake-ups, so bytes that are still
// pouring in are worth gathering. But a lock-step transfer pays any wait once per block:
// a reply must not wait once its last byte is in.
//
// The rule: read at once, unless bytes trickle in, port events following each other
// closer than two byte times. Then look again every two byte times and read as soon as
// nothing new has come in that time, or once kMaxGather has passed. A reply that arrives
// in pieces (a UART's FIFO, a USB packet) is read piece by piece without waiting; bytes
// that trickle in are gathered, and their last one waits about two byte times.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

#include "serial/line_settings.h"

namespace orvante::serial {

class InputGathering {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::nanoseconds;

    static constexpr Duration kMaxGather = std::chrono::milliseconds(4);
    // Below this a wait costs more than it saves; also the floor of a look's interval.
    static constexpr Duration kShortestLook = std::chrono::microseconds(50);
    // With this much already waiting, reading at once costs little per byte.
    static constexpr std::size_t kEnoughToRead = 512;

    explicit InputGathering(Duration byteTime = {})
        : look_(std::max(2 * byteTime, kShortestLook)) {}

    // The line time of one character: start bit, data bits, parity bit, stop bits.
    static Duration ByteTime(const LineSettings& settings);

    // Called when the port has input, and again after every wait it asks for, with the
    // bytes waiting at `now`. Nothing: read now. A duration: look again after it.
    std::optional<Duration> Decide(TimePoint now, std::size_t waiting);

private:
    Duration look_;
    std::optional<TimePoint> lastEvent_;    // the last port event or look
    std::optional<TimePoint> gatherStart_;  // set while gathering
    std::size_t seen_ = 0;                  // bytes waiting at the last look
};

}  // namespace orvante::serial
