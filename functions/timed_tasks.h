// The three timed send tasks that the module keeps across power loss and starts by
// itself at power-up. Written with request 24 (answered by 25, payload not read), read
// with request 22 (no payload), whose answer 23 carries the same 27 bytes: the three
// records one after the other, each
//   0     enabled: written 1 or 0; on reading only bit 0 counts
//   1..2  storage slot
//   3..4  period in minutes
//   5..6  start delay in minutes
//   7..8  loop count, 0 for endless
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/replies.h"

namespace orvante::functions {

struct TimedTaskRecord {
    bool enabled = false;
    std::uint16_t slot = 0;
    std::uint16_t periodMinutes = 0;
    std::uint16_t startDelayMinutes = 0;
    std::uint16_t loopCount = 0;

    bool operator==(const TimedTaskRecord&) const = default;
};

inline constexpr std::size_t kTimedTaskCount = 3;
inline constexpr std::size_t kTimedTaskRecordSize = 9;
inline constexpr std::size_t kTimedTasksSize = kTimedTaskCount * kTimedTaskRecordSize;
static_assert(kTimedTasksSize == protocol::kTimedTasksReplyMinPayload);

using TimedTasks = std::array<TimedTaskRecord, kTimedTaskCount>;
using TimedTasksPayload = std::array<std::uint8_t, kTimedTasksSize>;

TimedTasksPayload EncodeTimedTasks(const TimedTasks& tasks);
// Nothing when the payload is shorter than the three records.
std::optional<TimedTasks> DecodeTimedTasks(std::span<const std::uint8_t> payload);

}  // namespace orvante::functions
