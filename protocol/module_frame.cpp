#include "protocol/module_frame.h"

#include <algorithm>

#include "protocol/little_endian.h"
namespace orvante::protocol {

namespace {

bool IsAsciiLower(char c) {
    return c >= 'a' && c <= 'z';
}

// The value of an upper-case hexadecimal digit, or -1 for any other character.
int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::uint8_t FrameChecksum(const std::uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr || count == 0) return 0;
    if (count == 1) return bytes[0] == 0xFF ? 0x00 : bytes[0];
    const std::size_t covered = std::min(count, kMaxChecksumCount);
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < covered; ++i) {
        sum = static_cast<std::uint8_t>(sum + bytes[i]);
    }
    return sum;
}

std::vector<std::uint8_t> BuildModuleFrame(std::uint16_t source, std::uint16_t destination,
                                           std::uint8_t command,
                                           std::span<const std::uint8_t> payload) {
    if (payload.size() > kMaxRequestPayload) return {};
    std::vector<std::uint8_t> frame;
    frame.reserve(FrameSizeForPayload(payload.size()));
    frame.push_back(kFrameStart);
    Append16(frame, static_cast<std::uint16_t>(LengthForPayload(payload.size())));
    Append16(frame, source);
    Append16(frame, destination);
    frame.push_back(command);
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(FrameChecksum(frame.data(), frame.size()));
    return frame;
}

std::size_t FrameView::BodyEnd() const {
    return std::min<std::size_t>(kSourceOffset + Length(), bytes_.size());
}

std::uint16_t FrameView::ReadLittleEndian16(std::size_t offset, std::size_t limit) const {
    if (offset + 2 > limit) return 0;
    return Read16(bytes_, offset);
}

std::uint16_t FrameView::Length() const {
    return ReadLittleEndian16(kLengthOffset, bytes_.size());
}

std::uint16_t FrameView::Source() const {
    return ReadLittleEndian16(kSourceOffset, BodyEnd());
}

std::uint16_t FrameView::Destination() const {
    return ReadLittleEndian16(kDestinationOffset, BodyEnd());
}

std::uint8_t FrameView::Command() const {
    return kCommandOffset < BodyEnd() ? bytes_[kCommandOffset] : 0;
}

std::span<const std::uint8_t> FrameView::Payload() const {
    const std::size_t end = BodyEnd();
    if (end <= kPayloadOffset) return {};
    return bytes_.subspan(kPayloadOffset, end - kPayloadOffset);
}

std::uint32_t ParseHexAddress(std::string& text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return IsAsciiLower(c) ? static_cast<char>(c - 'a' + 'A') : c; });
    if (text.empty()) return 0;
    std::uint32_t value = 0;
    for (char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0) return 0;  // refused like an empty address, never silently garbled
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return value;
}

}  // namespace orvante::protocol
