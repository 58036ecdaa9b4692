// Multi-byte fields inside a function payload. Every one is low byte first, except the
// air-conditioner brand code (see ac_code.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvante::functions {

inline void PutLittleEndian16(std::span<std::uint8_t> payload, std::size_t offset,
                              std::uint16_t value) {
    payload[offset] = static_cast<std::uint8_t>(value & 0xFF);
    payload[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline std::uint16_t GetLittleEndian16(std::span<const std::uint8_t> payload, std::size_t offset) {
    return static_cast<std::uint16_t>(payload[offset] | (payload[offset + 1] << 8));
}

}  // namespace orvante::functions
