// The virtual module's code library: the byte image that library export reads and import
// writes, holding the learned codes in fixed-size slot records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "functions/module_functions.h"

namespace orvante::sim {

inline constexpr std::size_t kMaxLibrarySize = 65536;  // offsets travel as 16-bit values
// The ranges the console's requests keep to.
inline constexpr auto kMinPulseCapacity =
    static_cast<std::uint16_t>(functions::kPulseCapacityRange.min);
inline constexpr auto kMaxPulseCapacity =
    static_cast<std::uint16_t>(functions::kPulseCapacityRange.max);
inline constexpr int kMaxSlot = functions::kSlotRange.max;

// Slot record layout, at offset slot * RecordSize() (16-bit values low byte first):
//   0     marker: kCodeMarker when the slot holds a code; anything else is empty
//   1     carrier frequency in kHz
//   2..3  number of pulses n (1..capacity)
//   4..   n pulse durations in microseconds, 16 bits each; the rest of the record 0xFF
// A fresh or cleared image is all 0xFF, like erased flash. The larger the pulse capacity,
// the larger a record and the fewer slots fit: that is why setting it clears the codes.
inline constexpr std::uint8_t kCodeMarker = 0xA5;
inline constexpr std::uint8_t kErasedByte = 0xFF;
inline constexpr std::size_t kRecordHeaderSize = 4;
inline constexpr std::uint8_t kCarrierKhz = 38;

class CodeLibrary {
public:
    // An erased image of `size` bytes (at most kMaxLibrarySize) laid out for `capacity`
    // pulses per code (kMinPulseCapacity..kMaxPulseCapacity); throws std::invalid_argument
    // otherwise.
    CodeLibrary(std::size_t size, std::uint16_t capacity);

    std::size_t Size() const { return image_.size(); }
    std::span<const std::uint8_t> Image() const { return image_; }
    std::uint16_t Capacity() const { return capacity_; }
    std::size_t RecordSize() const { return kRecordHeaderSize + 2u * capacity_; }
    // Slots 0..SlotCount()-1 can hold a code: as many records as fit, at most kMaxSlot + 1.
    int SlotCount() const;

    // Lays the image out for a new capacity, erasing every code. False (and nothing
    // changes) for a capacity outside kMinPulseCapacity..kMaxPulseCapacity.
    bool SetCapacity(std::uint16_t capacity);

    // Stores a code; false when the slot does not fit or the code is empty or longer
    // than the capacity.
    bool WriteCode(int slot, std::span<const std::uint16_t> durations);
    // The pulse durations in a slot, or nothing when it holds no valid record.
    std::optional<std::vector<std::uint16_t>> ReadCode(int slot) const;

    // Up to `count` bytes from `offset`, cut at the end of the image.
    std::span<const std::uint8_t> Read(std::size_t offset, std::size_t count) const;
    // Writes `bytes` at `offset`; what falls beyond the image is dropped. Returns the
    // number of bytes written.
    std::size_t Write(std::size_t offset, std::span<const std::uint8_t> bytes);

private:
    bool SlotFits(int slot) const { return slot >= 0 && slot < SlotCount(); }

    std::vector<std::uint8_t> image_;
    std::uint16_t capacity_;
};

// A plausible learned code: a NEC-style frame (leader, 32 bits of address, inverted
// address, command and inverted command, stop mark): 67 durations in microseconds.
std::vector<std::uint16_t> NecStyleCode(std::uint8_t address, std::uint8_t command);

}  // namespace orvante::sim
