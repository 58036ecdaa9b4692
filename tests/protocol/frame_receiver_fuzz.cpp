// Feeds arbitrary bytes to the frame receiver and aborts when a delivered frame breaks the
// frame rules. Out-of-bounds access is caught by AddressSanitizer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "protocol/frame_receiver.h"
#include "protocol/module_frame.h"

namespace {

using orvante::protocol::FrameChecksum;
using orvante::protocol::FrameReceiver;
using orvante::protocol::kFrameSizeBeyondLength;
using orvante::protocol::kFrameStart;
using orvante::protocol::kMaxReceivedLength;
using orvante::protocol::kMinReceivedLength;

void Require(bool condition) {
    if (!condition) std::abort();
}

void CheckFrame(const FrameReceiver& receiver) {
    const auto frame = receiver.Frame();
    Require(frame.size() >= kFrameSizeBeyondLength + kMinReceivedLength);
    const std::uint8_t length = frame[1];
    Require(length >= kMinReceivedLength && length <= kMaxReceivedLength);
    Require(frame.size() == length + kFrameSizeBeyondLength);
    Require(frame[0] == kFrameStart && frame[2] == 0x00);
    Require(frame.back() == FrameChecksum(frame.first(frame.size() - 1)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FrameReceiver receiver;
    std::uint64_t frames = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const bool isFrame = receiver.Feed(data[i]) == FrameReceiver::Result::kFrame;
        Require(isFrame != receiver.Frame().empty());
        if (isFrame) {
            CheckFrame(receiver);
            ++frames;
        }
    }
    Require(receiver.FramesReceived() == frames);
    return 0;
}
