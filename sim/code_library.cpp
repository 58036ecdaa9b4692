#include "sim/code_library.h"

#include <algorithm>
#include <stdexcept>

#include "protocol/little_endian.h"
namespace orvante::sim {

namespace {

bool IsValidCapacity(std::uint16_t capacity) {
    return capacity >= kMinPulseCapacity && capacity <= kMaxPulseCapacity;
}

}  // namespace

CodeLibrary::CodeLibrary(std::size_t size, std::uint16_t capacity)
    : image_(size, kErasedByte), capacity_(capacity) {
    if (size > kMaxLibrarySize) throw std::invalid_argument("library image above 64 KiB");
    if (!IsValidCapacity(capacity)) throw std::invalid_argument("pulse capacity not 1..400");
}

int CodeLibrary::SlotCount() const {
    const std::size_t fitting = image_.size() / RecordSize();
    return static_cast<int>(std::min<std::size_t>(fitting, kMaxSlot + 1));
}

bool CodeLibrary::SetCapacity(std::uint16_t capacity) {
    if (!IsValidCapacity(capacity)) return false;
    capacity_ = capacity;
    std::fill(image_.begin(), image_.end(), kErasedByte);
    return true;
}

bool CodeLibrary::WriteCode(int slot, std::span<const std::uint16_t> durations) {
    if (!SlotFits(slot) || durations.empty() || durations.size() > capacity_) return false;
    const std::span<std::uint8_t> record =
        std::span(image_).subspan(static_cast<std::size_t>(slot) * RecordSize(), RecordSize());
    std::fill(record.begin(), record.end(), kErasedByte);
    record[0] = kCodeMarker;
    record[1] = kCarrierKhz;
    protocol::Write16(record, 2, static_cast<std::uint16_t>(durations.size()));
    for (std::size_t i = 0; i < durations.size(); ++i) {
        protocol::Write16(record, kRecordHeaderSize + 2 * i, durations[i]);
    }
    return true;
}

std::optional<std::vector<std::uint16_t>> CodeLibrary::ReadCode(int slot) const {
    if (!SlotFits(slot)) return std::nullopt;
    const std::span<const std::uint8_t> record =
        std::span(image_).subspan(static_cast<std::size_t>(slot) * RecordSize(), RecordSize());
    const std::uint16_t count = protocol::Read16(record, 2);
    // An imported image may hold anything: only a marked record with a count that fits
    // the record is a code.
    if (record[0] != kCodeMarker || count == 0 || count > capacity_) return std::nullopt;
    std::vector<std::uint16_t> durations(count);
    for (std::size_t i = 0; i < count; ++i) {
        durations[i] = protocol::Read16(record, kRecordHeaderSize + 2 * i);
    }
    return durations;
}

std::span<const std::uint8_t> CodeLibrary::Read(std::size_t offset, std::size_t count) const {
    if (offset >= image_.size()) return {};
    return std::span<const std::uint8_t>(image_).subspan(offset,
                                                         std::min(count, image_.size() - offset));
}

std::size_t CodeLibrary::Write(std::size_t offset, std::span<const std::uint8_t> bytes) {
    if (offset >= image_.size()) return 0;
    const std::size_t count = std::min(bytes.size(), image_.size() - offset);
    std::copy_n(bytes.begin(), count, image_.begin() + static_cast<std::ptrdiff_t>(offset));
    return count;
}

std::vector<std::uint16_t> NecStyleCode(std::uint8_t address, std::uint8_t command) {
    constexpr std::uint16_t kLeaderMark = 9000, kLeaderSpace = 4500;
    constexpr std::uint16_t kBitMark = 560, kZeroSpace = 560, kOneSpace = 1690;
    const std::uint8_t bytes[4] = {address, static_cast<std::uint8_t>(~address), command,
                                   static_cast<std::uint8_t>(~command)};
    std::vector<std::uint16_t> durations = {kLeaderMark, kLeaderSpace};
    for (std::uint8_t byte : bytes) {
        for (int bit = 0; bit < 8; ++bit) {  // least significant bit first
            durations.push_back(kBitMark);
            durations.push_back(((byte >> bit) & 1) != 0 ? kOneSpace : kZeroSpace);
        }
    }
    durations.push_back(kBitMark);
    return durations;
}

}  // namespace orvante::sim
