// Which reply answers which request, the payload each reply must carry before anything
// reads it, the connect handshake's answer and the time a request waits for its reply.
// The window and the command line both route the module's replies through these.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/module_frame.h"

namespace orvante::protocol {

// How long a supervised request waits for its reply.
inline constexpr std::chrono::milliseconds kReplyTimeout{3000};

// The payload bytes a reply's reader takes: a shorter reply is logged and ignored.
inline constexpr std::size_t kPulseCapacityReplyMinPayload = 3;  // byte 0, capacity 1..2
inline constexpr std::size_t kLearnReplyMinPayload = 5;          // bytes 0..2, count 3..4
inline constexpr std::size_t kTransmitReplyMinPayload = 3;       // bytes 0..1, status 2
inline constexpr std::size_t kTimedTasksReplyMinPayload = 27;    // three 9-byte records
inline constexpr std::size_t kExportReplyMinPayload = 3;         // offset, length n

struct ReplyRoute {
    std::uint8_t request;
    std::uint8_t reply;
    std::size_t minPayload;
};

// The route of a reply code; nullptr for a code that answers no request.
const ReplyRoute* FindReplyRoute(std::uint8_t replyCommand);
// The reply code that answers a request; nothing for a code that is no request.
std::optional<std::uint8_t> ReplyCommandFor(std::uint8_t requestCommand);

// The route of a received frame when it is a reply whose reader may read it: it holds a
// command byte, answers some request and carries that reply's minimum payload.
const ReplyRoute* RouteOfReply(const FrameView& frame);

// What the answer to the connect handshake says: the module that answered. Its address
// becomes the console's own source address and the default target. Only an answer to
// the broadcast handshake (destination 0xFFFF) names the console's local address.
struct HandshakeAnswer {
    std::uint16_t moduleAddress = 0;
    bool toBroadcast = false;
};
// Nothing when the frame is no connect reply.
std::optional<HandshakeAnswer> ReadHandshakeAnswer(const FrameView& frame);

// An address as the window shows it: four upper-case hexadecimal digits.
std::string FormatAddress(std::uint16_t address);

}  // namespace orvante::protocol
