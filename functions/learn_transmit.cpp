#include "functions/learn_transmit.h"

#include "protocol/little_endian.h"

namespace orvante::functions {

namespace {

constexpr std::size_t kLearnCountOffset = 3;
constexpr std::size_t kTransmitStatusOffset = 2;

}  // namespace

SlotRequest EncodeSlotRequest(std::uint16_t slot) {
    SlotRequest payload{};
    protocol::Write16(payload, 0, slot);
    return payload;
}

std::optional<LearnResult> DecodeLearnResult(std::span<const std::uint8_t> payload) {
    if (payload.size() < kLearnResultSize) return std::nullopt;
    return LearnResult{protocol::Read16(payload, kLearnCountOffset)};
}

std::optional<TransmitResult> DecodeTransmitResult(std::span<const std::uint8_t> payload) {
    if (payload.size() < kTransmitResultSize) return std::nullopt;
    return TransmitResult{payload[kTransmitStatusOffset]};
}

}  // namespace orvante::functions
