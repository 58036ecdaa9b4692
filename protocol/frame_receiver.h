// Assembles module frames from received bytes, one byte at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/module_frame.h"

namespace orvante::protocol {

// What the receiver is waiting for. The values are those of the module's own receiver.
enum class ReceiverState : std::uint8_t {
    kHunt = 0,        // a start byte 0x7E; everything else is skipped
    kLength = 1,      // the low byte of LEN
    kLengthHigh = 2,  // the high byte of LEN, which is discarded; LEN is judged here
    kBody = 3,        // LEN bytes: source, destination, command, payload
    kChecksum = 4,    // the checksum byte
};

// The receiver of frames from the module. It does no I/O and calls nobody: Feed takes a
// byte and says what happened, and after a frame the caller reads it with Frame().
//
// Its rules are the module link's, kept exactly so that both sides agree on which frames
// exist:
// - A start byte is recognised only while hunting; a 0x7E anywhere else is data.
// - LEN is judged when the byte after it arrives: LEN 0 or above 63 drops the frame, and
//   that byte is consumed, not taken as a start byte.
// - The received high byte of LEN is never looked at; the buffer holds 0x00 there and the
//   checksum is computed over the buffer.
// - A wrong checksum drops the frame; the checksum byte is consumed, and the body is not
//   scanned again for a start byte.
// - There is no time-out: a frame that stops half-way is continued by later bytes.
class FrameReceiver {
public:
    enum class Result : std::uint8_t {
        kIncomplete,   // byte taken (or skipped while hunting); no frame ended
        kFrame,        // a frame passed its checksum; Frame() holds it
        kBadLength,    // LEN was 0 or above 63; the frame is dropped
        kBadChecksum,  // the checksum byte did not match; the frame is dropped
    };

    Result Feed(std::uint8_t byte);

    // After Feed returned kFrame: the LEN + 4 bytes of the frame as stored (the byte at
    // offset 2 is 0x00 whatever was received). Valid until the next Feed or Reset; empty
    // at any other time.
    std::span<const std::uint8_t> Frame() const;

    // Back to hunting for a start byte, dropping any partial frame. Counters are kept.
    void Reset();

    ReceiverState State() const { return state_; }

    // Totals since construction, so that line faults can be seen.
    std::uint64_t FramesReceived() const { return framesReceived_; }
    std::uint64_t BadLengths() const { return badLengths_; }
    std::uint64_t BadChecksums() const { return badChecksums_; }

private:
    void OnHunt(std::uint8_t byte);
    Result OnLengthHigh();
    void OnBody(std::uint8_t byte);
    Result OnChecksum(std::uint8_t byte);

    // Start byte, LEN low and high, LEN body bytes, checksum: index 3 + LEN <= 66.
    std::array<std::uint8_t, kMaxReceivedFrameSize> buffer_{};
    ReceiverState state_ = ReceiverState::kHunt;
    std::uint8_t length_ = 0;  // LEN of the frame being assembled
    std::uint8_t count_ = 0;   // body bytes stored so far
    bool frameReady_ = false;  // the last Feed completed a frame

    std::uint64_t framesReceived_ = 0;
    std::uint64_t badLengths_ = 0;
    std::uint64_t badChecksums_ = 0;
};

}  // namespace orvante::protocol
