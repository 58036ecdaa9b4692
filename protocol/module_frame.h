// The module frame: layout, checksum, builder, a read-only view of a received frame, and
// the parser of the hexadecimal target address.
//
// Wire layout (n = payload size; 16-bit fields low byte first):
//   0     start 0x7E
//   1..2  LEN = n + 5: the bytes from the source address to the last payload byte
//   3..4  source address
//   5..6  destination address
//   7     command
//   8..   n payload bytes
//   8+n   checksum: FrameChecksum of the n + 8 bytes before it
// There is no escaping: 0x7E may appear anywhere after the start byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orvante::protocol {

inline constexpr std::uint8_t kFrameStart = 0x7E;

inline constexpr std::size_t kLengthOffset = 1;
inline constexpr std::size_t kSourceOffset = 3;
inline constexpr std::size_t kDestinationOffset = 5;
inline constexpr std::size_t kCommandOffset = 7;
inline constexpr std::size_t kPayloadOffset = 8;

// Start, LEN, source, destination and command.
inline constexpr std::size_t kFrameHeaderSize = 8;
// Header plus the checksum byte: a frame is payload + 9 bytes.
inline constexpr std::size_t kFrameOverhead = kFrameHeaderSize + 1;
// LEN counts source, destination and command besides the payload.
inline constexpr std::size_t kLengthOverhead = 5;
// Start byte and LEN are outside LEN, the checksum too: a frame is LEN + 4 bytes.
inline constexpr std::size_t kFrameSizeBeyondLength = 4;

// The checksum covers at most 255 bytes, so a request carries at most 247 payload bytes.
inline constexpr std::size_t kMaxChecksumCount = 255;
inline constexpr std::size_t kMaxRequestPayload = kMaxChecksumCount - kFrameHeaderSize;

// The receiver accepts LEN 1 to 63 (replies of up to 58 payload bytes, 67-byte frames).
inline constexpr std::uint8_t kMinReceivedLength = 1;
inline constexpr std::uint8_t kMaxReceivedLength = 63;
inline constexpr std::size_t kMaxReceivedFrameSize = kMaxReceivedLength + kFrameSizeBeyondLength;

constexpr std::size_t LengthForPayload(std::size_t payloadSize) {
    return payloadSize + kLengthOverhead;
}
constexpr std::size_t FrameSizeForPayload(std::size_t payloadSize) {
    return payloadSize + kFrameOverhead;
}

// The frame checksum of `count` bytes:
// - count 2 or more: the sum of the bytes modulo 256;
// - count 1: the byte itself, except that 0xFF gives 0x00;
// - count 0: 0.
// The module indexes the bytes with an 8-bit counter, so a checksum covers at most 255
// bytes; for a larger count only the first 255 bytes are summed. Every frame passes at
// least 4 bytes, so the single-byte rule never applies to real traffic.
std::uint8_t FrameChecksum(const std::uint8_t* bytes, std::size_t count);

inline std::uint8_t FrameChecksum(std::span<const std::uint8_t> bytes) {
    return FrameChecksum(bytes.data(), bytes.size());
}

// The complete frame from `source` to `destination`, or an empty vector when the payload
// is larger than kMaxRequestPayload.
std::vector<std::uint8_t> BuildModuleFrame(std::uint16_t source, std::uint16_t destination,
                                           std::uint8_t command,
                                           std::span<const std::uint8_t> payload);

// Read-only view of a frame's bytes, starting at the start byte. It does not own them.
// The fields are those of the layout above. A field that does not lie within both the
// bytes given and the LEN of the frame (a reply with LEN below 5 has no command byte, for
// example) reads as 0, and the payload is cut to what is present, so a short or truncated
// frame is never read past its end.
class FrameView {
public:
    explicit FrameView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::span<const std::uint8_t> Bytes() const { return bytes_; }
    std::uint16_t Length() const;
    std::uint16_t Source() const;
    std::uint16_t Destination() const;
    std::uint8_t Command() const;
    std::span<const std::uint8_t> Payload() const;
    std::size_t PayloadSize() const { return Payload().size(); }

private:
    // One past the last body byte (source to payload) that the view may read.
    std::size_t BodyEnd() const;
    std::uint16_t ReadLittleEndian16(std::size_t offset, std::size_t limit) const;

    std::span<const std::uint8_t> bytes_;
};

// Reads the target address typed by the operator as hexadecimal. The text is first
// upper-cased in place (a..z to A..Z; the caller keeps the converted text). Returns 0 when
// the text is empty or holds anything other than 0-9 and A-F; callers refuse address 0.
// Otherwise returns the value of the digits; beyond eight digits only the last eight count.
// Callers use the low 16 bits.
std::uint32_t ParseHexAddress(std::string& text);

}  // namespace orvante::protocol
