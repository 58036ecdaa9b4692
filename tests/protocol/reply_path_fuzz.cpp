// Takes arbitrary bytes as the line would bring them, routes them as replies and decodes
// each payload with every reply reader: once as a frame of the raw bytes, once as the
// frames the receiver assembles from them. Aborts when a route, a reader, the handshake
// reader or the export block check disagrees with the minimum payload of the reply's
// route; out-of-bounds access is caught by AddressSanitizer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "functions/learn_transmit.h"
#include "functions/pulse_capacity.h"
#include "functions/timed_tasks.h"
#include "library/library_transfer.h"
#include "protocol/commands.h"
#include "protocol/frame_receiver.h"
#include "protocol/module_frame.h"
#include "protocol/replies.h"

namespace {

namespace protocol = orvante::protocol;
namespace functions = orvante::functions;
using Bytes = std::span<const std::uint8_t>;

void Require(bool condition) {
    if (!condition) std::abort();
}

bool Within(Bytes part, Bytes whole) {
    return part.empty() || (part.data() >= whole.data() &&
                            part.data() + part.size() <= whole.data() + whole.size());
}

// Whether the payload is long enough for the reader of `reply`, by its route.
bool LongEnoughFor(std::uint8_t reply, Bytes payload) {
    const protocol::ReplyRoute* route = protocol::FindReplyRoute(reply);
    Require(route != nullptr && route->reply == reply);
    return payload.size() >= route->minPayload;
}

std::uint16_t Field16(Bytes payload, std::size_t offset) {
    return static_cast<std::uint16_t>(payload[offset] | (payload[offset + 1] << 8));
}

// Every reader takes a payload exactly when its route's minimum is there, and reads
// the fields where they are; an export block lies within the payload it came in.
void CheckReaders(Bytes payload) {
    const auto capacity = functions::DecodePulseCapacity(payload);
    Require(capacity.has_value() == LongEnoughFor(protocol::kCmdReadPulseCapacityReply, payload));
    if (capacity) Require(*capacity == Field16(payload, 1));
    const auto learn = functions::DecodeLearnResult(payload);
    Require(learn.has_value() == LongEnoughFor(protocol::kCmdLearnReply, payload));
    if (learn) Require(learn->reportedCount == Field16(payload, 3));
    const auto transmit = functions::DecodeTransmitResult(payload);
    Require(transmit.has_value() == LongEnoughFor(protocol::kCmdTransmitReply, payload));
    if (transmit) Require(transmit->status == payload[2]);
    const auto tasks = functions::DecodeTimedTasks(payload);
    Require(tasks.has_value() == LongEnoughFor(protocol::kCmdReadTimedTasksReply, payload));
    if (tasks) {
        // Written back, the records give the bytes read, save the enabled bytes' other bits.
        const auto written = functions::EncodeTimedTasks(*tasks);
        for (std::size_t i = 0; i < written.size(); ++i) {
            const bool enabledByte = i % functions::kTimedTaskRecordSize == 0;
            Require(written[i] == (enabledByte ? (payload[i] & 0x01) : payload[i]));
        }
    }
    const auto block = orvante::library::ParseExportReply(payload);
    if (!LongEnoughFor(protocol::kCmdExportBlockReply, payload)) {
        Require(!block);
        return;
    }
    const std::size_t header = protocol::kExportReplyMinPayload;
    Require(block.has_value() == (payload[2] <= payload.size() - header));
    if (!block) return;
    Require(block->offset == Field16(payload, 0) && block->bytes.size() == payload[2]);
    Require(Within(block->bytes, payload) && block->bytes.data() == payload.data() + header);
}

void CheckFrame(const protocol::FrameView& frame) {
    const Bytes payload = frame.Payload();
    Require(Within(payload, frame.Bytes()));
    const protocol::ReplyRoute* route = protocol::RouteOfReply(frame);
    const protocol::ReplyRoute* found = protocol::FindReplyRoute(frame.Command());
    const bool hasCommand = frame.Length() >= protocol::kLengthOverhead &&
                            frame.Bytes().size() > protocol::kCommandOffset;
    Require((route != nullptr) ==
            (hasCommand && found != nullptr && payload.size() >= found->minPayload));
    if (route != nullptr) {
        Require(route == found && route->reply == frame.Command());
        Require(protocol::ReplyCommandFor(route->request) == route->reply);
    }
    const auto answer = protocol::ReadHandshakeAnswer(frame);
    Require(answer.has_value() == (route != nullptr && route->reply == protocol::kCmdConnectReply));
    if (answer) {
        Require(answer->moduleAddress == frame.Source());
        Require(answer->toBroadcast == (frame.Destination() == protocol::kBroadcastAddress));
    }
    CheckReaders(payload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes input(data, size);
    // The raw bytes as a frame, short or cut as they may be, and as a payload.
    CheckFrame(protocol::FrameView(input));
    CheckReaders(input);
    // A request code names the reply that answers it, and that reply's route names it.
    if (size > 0) {
        if (const auto reply = protocol::ReplyCommandFor(data[0])) {
            const protocol::ReplyRoute* route = protocol::FindReplyRoute(*reply);
            Require(route != nullptr && route->request == data[0]);
        }
    }
    protocol::FrameReceiver receiver;
    for (const std::uint8_t byte : input) {
        if (receiver.Feed(byte) == protocol::FrameReceiver::Result::kFrame) {
            CheckFrame(protocol::FrameView(receiver.Frame()));
        }
    }
    // The bytes as the command and payload of a reply the receiver takes whole, so that
    // every route is reached by assembled frames too, not only where a checksum matches.
    if (size == 0 || size - 1 > protocol::kMaxReceivedLength - protocol::kLengthOverhead) return 0;
    const auto frame =
        protocol::BuildModuleFrame(0x1234, protocol::kBroadcastAddress, data[0], input.subspan(1));
    receiver.Reset();
    std::size_t frames = 0;
    for (const std::uint8_t byte : frame) {
        if (receiver.Feed(byte) == protocol::FrameReceiver::Result::kFrame) {
            Require(std::ranges::equal(receiver.Frame(), frame));
            CheckFrame(protocol::FrameView(receiver.Frame()));
            ++frames;
        }
    }
    Require(frames == 1);
    return 0;
}
