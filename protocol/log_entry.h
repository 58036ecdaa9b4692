// The log entry: every frame and every step on its own line behind the local time. The
// window's log and the command line's --verbose output write the same entries.
#pragma once

#include <cstdint>
#include <string>

#include "platform/local_time.h"

namespace orvante::protocol {

// The texts that introduce a frame's dump.
inline constexpr const char* kSentLogText = "发送:";
inline constexpr const char* kReceivedLogText = "接收:";

// One entry: CR LF, "hh:mm:ss", a space, the text, then "%02X " for each byte. A count
// of 0 or less means no dump.
std::string FormatLogEntry(const platform::TimeOfDay& time, const std::string& text,
                           const std::uint8_t* data, int count);

}  // namespace orvante::protocol
