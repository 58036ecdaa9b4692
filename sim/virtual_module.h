// The virtual module: a model of the infrared module at the level of its frames. It takes
// the bytes that arrive on its line and gives back the bytes it sends, each with the time
// it is due. It does no I/O, reads no clock and starts no thread: the caller passes the
// time in and writes the bytes out (LineServer does both on a pseudo-terminal).
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "functions/ac_code.h"
#include "functions/learn_transmit.h"
#include "functions/pulse_capacity.h"
#include "functions/timed_tasks.h"
#include "protocol/frame_receiver.h"
#include "protocol/module_frame.h"
#include "sim/code_library.h"

namespace orvante::sim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

inline constexpr std::uint16_t kDefaultAddress = 0x1234;
inline constexpr std::size_t kDefaultLibrarySize = 8192;
inline constexpr std::uint16_t kDefaultPulseCapacity = 100;
inline constexpr std::chrono::milliseconds kDefaultLearnDelay{1500};
inline constexpr std::size_t kLibraryBlockSize = 50;
inline constexpr std::size_t kTimedTasksSize = functions::kTimedTasksSize;
inline constexpr std::size_t kAcRequestSize = std::tuple_size_v<functions::AcCodePayload>;

// The brand codes whose air-conditioner codes the module's library holds.
inline constexpr std::uint16_t kFirstAcBrand = 1;
inline constexpr std::uint16_t kLastAcBrand = 1000;

// The three timed tasks as the module stores and sends them (the wire's 30 bytes);
// functions::TimedTasks is the same read into records.
using TaskBytes = functions::TimedTasksPayload;
using AcRequest = std::array<std::uint8_t, kAcRequestSize>;

struct ModuleConfig {
    std::uint16_t address = kDefaultAddress;
    std::chrono::milliseconds learnDelay = kDefaultLearnDelay;
    std::size_t librarySize = kDefaultLibrarySize;        // up to kMaxLibrarySize
    std::uint16_t pulseCapacity = kDefaultPulseCapacity;  // 1..400
};

// Line faults, all off by default. Drop, corrupt, garbage, repeat and delay are decided
// when a reply is made; split, gap and baud when it goes on the line.
struct Faults {
    int dropEvery = 0;                      // drop every Nth reply made since SetFaults; 0: none
    int dropNext = 0;                       // drop this many of the next replies (counts down)
    bool corruptChecksum = false;           // every reply's checksum byte is one too high
    std::chrono::milliseconds delay{0};     // added to every reply's time
    std::size_t splitSize = 0;              // send replies in pieces of this many bytes; 0: whole
    std::chrono::milliseconds splitGap{0};  // silence between two pieces
    bool garbage = false;                   // 1 to 8 bytes, never 0x7E, before every frame sent
    std::uint32_t garbageSeed = 1;
    int repeat = 0;            // extra copies of every reply
    bool staleExport = false;  // every other export reply comes after a stale copy of
                               // the export reply before it
    // Time the line as a UART at this rate would, 10 bits a byte, both ways: a request is
    // complete when its last byte has crossed, and a reply reaches the other side in
    // FIFO-sized pieces, each when its last byte has crossed. 0: no line time at all.
    int baud = 0;
};

// Bytes a UART hands over at once: its receive FIFO.
inline constexpr std::size_t kUartFifoSize = 16;

// Bytes for the line and the time by which they have been sent (for a paced line, when
// their last bit has crossed).
struct Outgoing {
    TimePoint due;
    std::vector<std::uint8_t> bytes;
};

struct ModuleCounters {
    std::uint64_t framesReceived = 0;  // frames that passed their checksum
    std::uint64_t framesIgnored = 0;   // of those: for another module, unknown or malformed
    std::uint64_t framesAnswered = 0;  // replies made, dropped ones included
    std::uint64_t repliesDropped = 0;
    std::uint64_t badFrames = 0;  // bad length or checksum
    std::uint64_t codesTransmitted = 0;
};

// What a module keeps through power loss: its address, its pulse capacity, its timed
// tasks and its code library (which holds the learned codes).
struct KeptState {
    std::uint16_t address = kDefaultAddress;
    std::uint16_t pulseCapacity = kDefaultPulseCapacity;
    TaskBytes tasks{};
    std::vector<std::uint8_t> library;  // 1..kMaxLibrarySize bytes

    bool operator==(const KeptState&) const = default;
};

enum class FrameEvent { kReceived, kIgnored, kSent, kDropped };
using FrameObserver = std::function<void(FrameEvent, std::span<const std::uint8_t>)>;

class VirtualModule {
public:
    explicit VirtualModule(const ModuleConfig& config = {});

    // The line. Receive takes bytes as they were handed to the line at `now` (on a paced
    // line they then still have to cross it); TakeDue hands out what is due by `now`, in
    // line order; NextDue is when the next piece is due. Times passed in are expected not
    // to go backwards.
    void Receive(std::span<const std::uint8_t> bytes, TimePoint now);
    std::vector<Outgoing> TakeDue(TimePoint now);
    std::optional<TimePoint> NextDue() const;

    std::uint16_t Address() const { return address_; }
    void SetAddress(std::uint16_t address) { address_ = address; }
    void SetLearnDelay(std::chrono::milliseconds delay) { learnDelay_ = delay; }

    const Faults& GetFaults() const { return faults_; }
    // Replaces the faults, restarts the every-Nth drop count and reseeds the garbage.
    void SetFaults(const Faults& faults);

    // Told of every frame received and every reply made (after corruption).
    void SetFrameObserver(FrameObserver observer) { frameObserver_ = std::move(observer); }
    // Told whenever a request writes the timed tasks (to keep them across power loss).
    void SetTasksObserver(std::function<void(const TaskBytes&)> observer) {
        tasksObserver_ = std::move(observer);
    }

    int SlotCount() const { return library_.SlotCount(); }
    // The number of pulses learned into a slot, nothing for an empty slot.
    std::optional<std::size_t> LearnedPulses(int slot) const;
    bool IsLearning() const { return learning_.has_value(); }
    const TaskBytes& Tasks() const { return tasks_; }
    void SetTasks(const TaskBytes& tasks) { tasks_ = tasks; }  // e.g. loaded at power-up
    const std::optional<AcRequest>& LastAcRequest() const { return lastAcRequest_; }
    std::span<const std::uint8_t> Library() const { return library_.Image(); }
    const ModuleCounters& Counters() const { return counters_; }

    KeptState Kept() const;
    // Takes over a kept state, as at power-up. False (and nothing changes) for a
    // capacity or a library size out of range.
    bool Restore(const KeptState& state);

private:
    struct Reply {
        std::uint8_t command;
        std::vector<std::uint8_t> payload;
    };
    struct PendingLearn {
        int slot;
        std::uint16_t requester;
        TimePoint completesAt;
    };
    // A reply made but not yet on the line, with all its wire bytes (garbage, copies).
    struct QueuedReply {
        TimePoint readyAt;
        std::vector<std::uint8_t> wire;
    };
    // A piece of a reply on the line; `taken` bytes of it have been handed out.
    struct LinePiece {
        TimePoint start;
        std::vector<std::uint8_t> bytes;
        std::size_t taken = 0;
    };

    void OnFrame(std::span<const std::uint8_t> frame, TimePoint now);
    bool IsAddressedToMe(std::uint16_t destination) const;
    bool Handle(const protocol::FrameView& request, TimePoint now);
    Reply OnSetPulseCapacity(std::span<const std::uint8_t> payload);
    Reply OnReadPulseCapacity() const;
    void OnLearn(std::uint16_t slot, std::uint16_t requester, TimePoint now);
    Reply OnTransmit(std::uint16_t slot);
    Reply OnSetTimedTasks(std::span<const std::uint8_t> payload);
    // Nothing when the code was sent; the failure answer otherwise.
    std::optional<Reply> OnSendAcCode(std::span<const std::uint8_t> payload);
    Reply OnExportBlock(std::span<const std::uint8_t> payload) const;
    // With staleExport, every other export reply is preceded by the one before it again.
    void AnswerExportBlock(const Reply& reply, std::uint16_t destination, TimePoint now);
    std::optional<Reply> OnImportBlock(std::span<const std::uint8_t> payload);

    // Completes a due learn and moves ready replies onto the line.
    void Advance(TimePoint now);
    void CompleteLearn();
    void SendReply(const Reply& reply, std::uint16_t destination, TimePoint at);
    bool ShouldDropNextReply();
    void AppendGarbage(std::vector<std::uint8_t>& wire);
    void PutOnLine(const QueuedReply& reply);
    // Time from a piece's start until `count` of its bytes have been sent.
    std::chrono::nanoseconds LineTimeOf(std::size_t count) const;
    // Of a piece of `size` bytes with `taken` handed out: how many have been handed out
    // once the next handover is due. A paced line hands over FIFO-sized pieces.
    std::size_t HandoverAfter(std::size_t taken, std::size_t size) const;
    void Notify(FrameEvent event, std::span<const std::uint8_t> frame) const;

    std::uint16_t address_;
    std::chrono::milliseconds learnDelay_;
    CodeLibrary library_;
    TaskBytes tasks_{};
    std::optional<AcRequest> lastAcRequest_;
    std::optional<PendingLearn> learning_;
    std::uint32_t learnSerial_ = 0;  // makes every learned code differ from the one before

    protocol::FrameReceiver receiver_;
    std::deque<QueuedReply> queued_;  // by readyAt, equal times in the order made
    std::deque<LinePiece> line_;
    TimePoint lineFreeAt_{};   // when the last piece on the line has been sent
    TimePoint inputFreeAt_{};  // when the last byte received has crossed the line

    Faults faults_;
    std::uint64_t repliesSinceFaultsSet_ = 0;
    std::uint64_t exportsSinceFaultsSet_ = 0;
    std::optional<Reply> lastExportReply_;
    std::minstd_rand garbageRandom_;

    ModuleCounters counters_;
    FrameObserver frameObserver_;
    std::function<void(const TaskBytes&)> tasksObserver_;
};

}  // namespace orvante::sim
