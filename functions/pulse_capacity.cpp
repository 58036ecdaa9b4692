#include "functions/pulse_capacity.h"

#include "protocol/little_endian.h"

namespace orvante::functions {

namespace {

// The capacity sits at the same place in the set request and the read answer.
constexpr std::size_t kCapacityOffset = 1;

}  // namespace

SetPulseCapacityRequest EncodeSetPulseCapacity(std::uint16_t capacity) {
    SetPulseCapacityRequest payload{};
    protocol::Write16(payload, kCapacityOffset, capacity);
    return payload;
}

std::optional<std::uint16_t> DecodePulseCapacity(std::span<const std::uint8_t> payload) {
    if (payload.size() < kPulseCapacityReplySize) return std::nullopt;
    return protocol::Read16(payload, kCapacityOffset);
}

}  // namespace orvante::functions
