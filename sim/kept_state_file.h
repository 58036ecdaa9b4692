// The file in which a built-in virtual module keeps its state between runs: address,
// pulse capacity, timed tasks and code library.
//
// Format (text):
//   orvante virtual module 1
//   address <4 hex digits>
//   capacity <decimal>
//   tasks <54 hex digits: the three tasks' 27 bytes as the module sends them>
//   library <size in bytes>
//   <the library in hex, 64 bytes (128 digits) a line, the last line shorter>
// Anything else, or a value out of range, is refused as a whole.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sim/virtual_module.h"

namespace orvante::sim {

std::string FormatKeptState(const KeptState& state);
// The state, or nothing with *error naming the line and what is wrong with it.
std::optional<KeptState> ParseKeptState(std::string_view text, std::string* error);

enum class KeptLoad { kLoaded, kMissing, kRefused };
// kMissing when there is no such file; kRefused with *error when it cannot be read or
// is not such a file.
KeptLoad LoadKeptState(const std::string& path, KeptState* state, std::string* error);
// Replaces the file only with a complete one (written beside it, then renamed over it).
bool SaveKeptState(const std::string& path, const KeptState& state, std::string* error);

}  // namespace orvante::sim
