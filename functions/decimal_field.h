// The numbers an operator types into the function fields (slots, capacity, task fields,
// brand code), read the one way all of them are read.
#pragma once

#include <cstdint>
#include <string_view>

namespace orvante::functions {

// Reads a signed decimal number: leading white space, an optional sign, then decimal
// digits up to the first other character. Text without digits gives 0. A value beyond
// the 32-bit range gives the nearest end (2147483647 or -2147483648) instead of wrapping,
// so that a field's range test refuses it rather than passing a wrapped value.
std::int32_t ParseDecimalField(std::string_view text);

// The low 16 bits, for a protocol field without a range test of its own.
constexpr std::uint16_t Low16(std::int32_t value) {
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFF);
}

}  // namespace orvante::functions
