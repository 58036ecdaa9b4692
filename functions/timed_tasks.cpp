#include "functions/timed_tasks.h"

#include "protocol/little_endian.h"

namespace orvante::functions {

namespace {

constexpr std::size_t kEnabledOffset = 0;
constexpr std::size_t kSlotOffset = 1;
constexpr std::size_t kPeriodOffset = 3;
constexpr std::size_t kStartDelayOffset = 5;
constexpr std::size_t kLoopCountOffset = 7;

}  // namespace

TimedTasksPayload EncodeTimedTasks(const TimedTasks& tasks) {
    TimedTasksPayload payload{};
    for (std::size_t i = 0; i < kTimedTaskCount; ++i) {
        const TimedTaskRecord& task = tasks[i];
        const auto record = std::span(payload).subspan(i * kTimedTaskRecordSize);
        record[kEnabledOffset] = task.enabled ? 1 : 0;
        protocol::Write16(record, kSlotOffset, task.slot);
        protocol::Write16(record, kPeriodOffset, task.periodMinutes);
        protocol::Write16(record, kStartDelayOffset, task.startDelayMinutes);
        protocol::Write16(record, kLoopCountOffset, task.loopCount);
    }
    return payload;
}

std::optional<TimedTasks> DecodeTimedTasks(std::span<const std::uint8_t> payload) {
    if (payload.size() < kTimedTasksSize) return std::nullopt;
    TimedTasks tasks;
    for (std::size_t i = 0; i < kTimedTaskCount; ++i) {
        const auto record = payload.subspan(i * kTimedTaskRecordSize, kTimedTaskRecordSize);
        tasks[i] = TimedTaskRecord{
            .enabled = (record[kEnabledOffset] & 0x01) != 0,
            .slot = protocol::Read16(record, kSlotOffset),
            .periodMinutes = protocol::Read16(record, kPeriodOffset),
            .startDelayMinutes = protocol::Read16(record, kStartDelayOffset),
            .loopCount = protocol::Read16(record, kLoopCountOffset),
        };
    }
    return tasks;
}

}  // namespace orvante::functions
