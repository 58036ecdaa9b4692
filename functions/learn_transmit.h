// Learning a code into a storage slot of the module and transmitting a stored one.
//   learn request (18), transmit request (20): slot, 16 bits
//   learn result (19):    bytes 0..2 not read, 3..4 the count reported for the code
//   transmit result (21): bytes 0..1 not read, 2 status (1 sent, anything else failed)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "functions/module_functions.h"
#include "protocol/replies.h"

namespace orvante::functions {

using SlotRequest = std::array<std::uint8_t, 2>;
// The payload of a learn or a transmit request.
SlotRequest EncodeSlotRequest(std::uint16_t slot);

inline constexpr std::size_t kLearnResultSize = protocol::kLearnReplyMinPayload;
inline constexpr std::size_t kTransmitResultSize = protocol::kTransmitReplyMinPayload;

struct LearnResult {
    std::uint16_t reportedCount = 0;
    // The module counts two durations a pulse; the operator is shown pulses.
    std::uint16_t PulseCount() const { return reportedCount >> 1; }
};

struct TransmitResult {
    std::uint8_t status = 0;
    bool Sent() const { return status == 1; }
};

// Nothing when the payload is too short for the field read.
std::optional<LearnResult> DecodeLearnResult(std::span<const std::uint8_t> payload);
std::optional<TransmitResult> DecodeTransmitResult(std::span<const std::uint8_t> payload);

}  // namespace orvante::functions
