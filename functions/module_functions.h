// The module's functions as one table: per function its request, how the module answers
// it (and so how long a request waits), and the ranges of what the operator gives it. Each
// function's payload encoder and reply decoder stand beside it in its own header (learn_transmit.h,
// pulse_capacity.h, timed_tasks.h, ac_code.h). The window's routing, the command line and the
// virtual module all read the ranges and codes from here.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "protocol/commands.h"
#include "protocol/replies.h"

namespace orvante::functions {

// A closed range of numbers the operator may give.
struct Range {
    std::int32_t min;
    std::int32_t max;
    constexpr bool Contains(std::int64_t value) const { return value >= min && value <= max; }
};

// The storage slots a learn or transmit may name (the slot edits hold two digits, so 100
// can only be pasted, but it is admitted).
inline constexpr Range kSlotRange{0, 100};
// Pulses one learned code may hold.
inline constexpr Range kPulseCapacityRange{1, 400};
// The timed tasks' fields are 16-bit numbers, the slot among them, as the window sends it.
inline constexpr Range kTaskFieldRange{0, 0xFFFF};
inline constexpr Range kAcBrandRange{0, 0xFFFF};
// Degrees Celsius; the window's list offers 16 to 30.
inline constexpr Range kAcTemperatureRange{16, 30};

// How the module answers a request, and so how long a request waits for it.
enum class Answer {
    kPrompt,         // at once: silence for the reply time-out is a failure
    kOperatorPaced,  // when the operator acts (a learn: the remote pointed at the module)
    kOnlyOnFailure,  // only when it could not do it: silence for kFailureAnswerWait is success
};
// How long a request answered only on failure waits before it counts as done.
inline constexpr std::chrono::milliseconds kFailureAnswerWait{1000};

// Which reply answers a request, and what the reply must carry, is the wire's own
// table (protocol/replies.h); a function adds what the operator and the waits need.
struct ModuleFunction {
    const char* name;  // as the command line names it
    std::uint8_t request;
    Answer answer;
};

inline constexpr ModuleFunction kTestConnection{"ping", protocol::kCmdConnect, Answer::kPrompt};
inline constexpr ModuleFunction kLearn{"learn", protocol::kCmdLearn, Answer::kOperatorPaced};
inline constexpr ModuleFunction kTransmit{"send", protocol::kCmdTransmit, Answer::kPrompt};
inline constexpr ModuleFunction kReadPulseCapacity{"capacity", protocol::kCmdReadPulseCapacity,
                                                   Answer::kPrompt};
inline constexpr ModuleFunction kSetPulseCapacity{"capacity set", protocol::kCmdSetPulseCapacity,
                                                  Answer::kPrompt};
inline constexpr ModuleFunction kReadTimedTasks{"tasks", protocol::kCmdReadTimedTasks,
                                                Answer::kPrompt};
inline constexpr ModuleFunction kSetTimedTasks{"tasks set", protocol::kCmdSetTimedTasks,
                                               Answer::kPrompt};
inline constexpr ModuleFunction kSendAcCode{"ac", protocol::kCmdSendAcCode, Answer::kOnlyOnFailure};

inline constexpr const ModuleFunction* kModuleFunctions[] = {
    &kTestConnection,   &kLearn,          &kTransmit,      &kReadPulseCapacity,
    &kSetPulseCapacity, &kReadTimedTasks, &kSetTimedTasks, &kSendAcCode,
};

// The reply code that answers `function`'s request.
std::uint8_t ReplyOf(const ModuleFunction& function);
// The function whose request `request` is; nullptr for another code.
const ModuleFunction* FunctionOfRequest(std::uint8_t request);

}  // namespace orvante::functions
