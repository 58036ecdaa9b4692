#include "protocol/frame_receiver.h"

namespace orvante::protocol {

namespace {

constexpr std::size_t kBodyOffset = kSourceOffset;

static_assert(kBodyOffset + kMaxReceivedLength + 1 == kMaxReceivedFrameSize,
              "the largest accepted LEN must fill the buffer exactly, checksum included");

bool IsAcceptedLength(std::uint8_t length) {
    return length >= kMinReceivedLength && length <= kMaxReceivedLength;
}

}  // namespace

FrameReceiver::Result FrameReceiver::Feed(std::uint8_t byte) {
    frameReady_ = false;
    switch (state_) {
        case ReceiverState::kHunt:
            OnHunt(byte);
            return Result::kIncomplete;
        case ReceiverState::kLength:
            length_ = byte;
            state_ = ReceiverState::kLengthHigh;
            return Result::kIncomplete;
        case ReceiverState::kLengthHigh:
            return OnLengthHigh();  // the high byte itself is discarded
        case ReceiverState::kBody:
            OnBody(byte);
            return Result::kIncomplete;
        case ReceiverState::kChecksum:
            return OnChecksum(byte);
    }
    // Unreachable with a valid state; the byte is consumed and hunting starts again.
    Reset();
    return Result::kIncomplete;
}

std::span<const std::uint8_t> FrameReceiver::Frame() const {
    if (!frameReady_) return {};
    return std::span<const std::uint8_t>(buffer_).first(length_ + kFrameSizeBeyondLength);
}

void FrameReceiver::Reset() {
    state_ = ReceiverState::kHunt;
    count_ = 0;
    frameReady_ = false;
}

void FrameReceiver::OnHunt(std::uint8_t byte) {
    if (byte != kFrameStart) return;
    buffer_[0] = kFrameStart;
    count_ = 0;
    state_ = ReceiverState::kLength;
}

FrameReceiver::Result FrameReceiver::OnLengthHigh() {
    if (!IsAcceptedLength(length_)) {
        ++badLengths_;
        state_ = ReceiverState::kHunt;
        return Result::kBadLength;
    }
    buffer_[kLengthOffset] = length_;
    buffer_[kLengthOffset + 1] = 0x00;
    state_ = ReceiverState::kBody;
    return Result::kIncomplete;
}

void FrameReceiver::OnBody(std::uint8_t byte) {
    // count_ < length_ <= 63 here, so the index stays below the checksum's slot.
    buffer_[kBodyOffset + count_] = byte;
    ++count_;
    if (count_ >= length_) state_ = ReceiverState::kChecksum;
}

FrameReceiver::Result FrameReceiver::OnChecksum(std::uint8_t byte) {
    state_ = ReceiverState::kHunt;
    const std::size_t checksumOffset = kBodyOffset + length_;
    if (byte != FrameChecksum(buffer_.data(), checksumOffset)) {
        ++badChecksums_;
        return Result::kBadChecksum;
    }
    buffer_[checksumOffset] = byte;
    ++framesReceived_;
    frameReady_ = true;
    return Result::kFrame;
}

}  // namespace orvante::protocol
