// The pulse capacity: how many pulses one learned code may hold. Setting it clears every
// learned code in the module.
//   set request (16):  0x00, capacity 16 bits; answered by 16, payload not read
//   read request (17): no payload; answered by 17: byte 0 not read, 1..2 the capacity
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "functions/module_functions.h"
#include "protocol/replies.h"

namespace orvante::functions {

using SetPulseCapacityRequest = std::array<std::uint8_t, 3>;
SetPulseCapacityRequest EncodeSetPulseCapacity(std::uint16_t capacity);

inline constexpr std::size_t kPulseCapacityReplySize = protocol::kPulseCapacityReplyMinPayload;
// The capacity of a read answer; nothing when the payload is too short for it.
std::optional<std::uint16_t> DecodePulseCapacity(std::span<const std::uint8_t> payload);

}  // namespace orvante::functions
