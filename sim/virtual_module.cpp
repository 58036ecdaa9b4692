#include "sim/virtual_module.h"

#include <algorithm>

#include "protocol/commands.h"
#include "protocol/little_endian.h"

namespace orvante::sim {

namespace proto = orvante::protocol;
using proto::Append16;
using proto::Read16;

namespace {

// Status bytes of the replies (the console reads only the transmit status).
constexpr std::uint8_t kStatusFailed = 0;
constexpr std::uint8_t kStatusOk = 1;
constexpr std::uint8_t kTransmitEmptySlot = 0;
constexpr std::uint8_t kTransmitNoSuchSlot = 2;

constexpr std::size_t kMaxGarbageRun = 8;

// An air-conditioner request the module's library can send: a brand code it holds
// (high byte first) and a state it knows: power 0..1, mode 0..4, temperature 16..30
// degrees, fan 0..5, swing 0..2.
bool IsKnownAcCode(std::span<const std::uint8_t> request) {
    const auto brand = static_cast<std::uint16_t>(request[0] << 8 | request[1]);
    return brand >= kFirstAcBrand && brand <= kLastAcBrand && request[2] <= 1 && request[3] <= 4 &&
           functions::kAcTemperatureRange.Contains(request[4]) && request[5] <= 5 &&
           request[6] <= 2;
}

}  // namespace

VirtualModule::VirtualModule(const ModuleConfig& config)
    : address_(config.address),
      learnDelay_(config.learnDelay),
      library_(config.librarySize, config.pulseCapacity) {
    SetFaults(Faults{});
}

void VirtualModule::SetFaults(const Faults& faults) {
    faults_ = faults;
    repliesSinceFaultsSet_ = 0;
    exportsSinceFaultsSet_ = 0;
    garbageRandom_.seed(faults.garbageSeed);
}

KeptState VirtualModule::Kept() const {
    const std::span<const std::uint8_t> image = library_.Image();
    return {address_, library_.Capacity(), tasks_, {image.begin(), image.end()}};
}

bool VirtualModule::Restore(const KeptState& state) {
    if (state.pulseCapacity < kMinPulseCapacity || state.pulseCapacity > kMaxPulseCapacity ||
        state.library.empty() || state.library.size() > kMaxLibrarySize) {
        return false;
    }
    CodeLibrary library(state.library.size(), state.pulseCapacity);
    library.Write(0, state.library);
    library_ = std::move(library);
    address_ = state.address;
    tasks_ = state.tasks;
    learning_.reset();
    return true;
}

std::optional<std::size_t> VirtualModule::LearnedPulses(int slot) const {
    const auto code = library_.ReadCode(slot);
    if (!code) return std::nullopt;
    return code->size();
}

// ---- receiving ----

void VirtualModule::Receive(std::span<const std::uint8_t> bytes, TimePoint now) {
    Advance(now);
    // On a paced line the bytes follow each other across it, behind any still crossing; a
    // request is complete, and its answer starts, once its last byte is in.
    const TimePoint lineStart = std::max(now, inputFreeAt_);
    std::size_t crossed = 0;
    for (std::uint8_t byte : bytes) {
        inputFreeAt_ = lineStart + LineTimeOf(++crossed);
        switch (receiver_.Feed(byte)) {
            case proto::FrameReceiver::Result::kFrame:
                OnFrame(receiver_.Frame(), inputFreeAt_);
                Advance(now);  // a learn without delay completes before the next request
                break;
            case proto::FrameReceiver::Result::kBadLength:
            case proto::FrameReceiver::Result::kBadChecksum:
                ++counters_.badFrames;
                break;
            case proto::FrameReceiver::Result::kIncomplete:
                break;
        }
    }
}

void VirtualModule::OnFrame(std::span<const std::uint8_t> frame, TimePoint now) {
    ++counters_.framesReceived;
    Notify(FrameEvent::kReceived, frame);
    const proto::FrameView request(frame);
    if (!IsAddressedToMe(request.Destination()) || !Handle(request, now)) {
        ++counters_.framesIgnored;
        Notify(FrameEvent::kIgnored, frame);
    }
}

bool VirtualModule::IsAddressedToMe(std::uint16_t destination) const {
    return destination == address_ || destination == proto::kBroadcastAddress;
}

// Answers a request, now or (for a learn) later. False for a request that gets no answer:
// an unknown command, or a payload too short for its fields.
bool VirtualModule::Handle(const proto::FrameView& request, TimePoint now) {
    const std::span<const std::uint8_t> payload = request.Payload();
    const auto answer = [&](const Reply& reply) {
        SendReply(reply, request.Source(), now);
        return true;
    };
    switch (request.Command()) {
        case proto::kCmdConnect:
            return answer(Reply{proto::kCmdConnectReply, {}});
        case proto::kCmdSetPulseCapacity:
            return payload.size() >= std::tuple_size_v<functions::SetPulseCapacityRequest> &&
                   answer(OnSetPulseCapacity(payload));
        case proto::kCmdReadPulseCapacity:
            return answer(OnReadPulseCapacity());
        case proto::kCmdLearn:
            if (payload.size() < std::tuple_size_v<functions::SlotRequest>) return false;
            OnLearn(Read16(payload, 0), request.Source(), now);
            return true;
        case proto::kCmdTransmit:
            return payload.size() >= std::tuple_size_v<functions::SlotRequest> &&
                   answer(OnTransmit(Read16(payload, 0)));
        case proto::kCmdReadTimedTasks:
            return answer(Reply{proto::kCmdReadTimedTasksReply, {tasks_.begin(), tasks_.end()}});
        case proto::kCmdSetTimedTasks:
            return payload.size() >= kTimedTasksSize && answer(OnSetTimedTasks(payload));
        case proto::kCmdSendAcCode:
            if (payload.size() < kAcRequestSize) return false;
            if (auto failure = OnSendAcCode(payload)) answer(*failure);
            return true;
        case proto::kCmdExportBlock:
            if (payload.size() < 3) return false;
            AnswerExportBlock(OnExportBlock(payload), request.Source(), now);
            return true;
        case proto::kCmdImportBlock:
            if (auto reply = OnImportBlock(payload)) return answer(*reply);
            return false;
        default:
            return false;
    }
}

// Reply: status (1 set, 0 refused), then the capacity now in force.
VirtualModule::Reply VirtualModule::OnSetPulseCapacity(std::span<const std::uint8_t> payload) {
    const bool set = library_.SetCapacity(Read16(payload, 1));
    Reply reply{proto::kCmdSetPulseCapacityReply, {set ? kStatusOk : kStatusFailed}};
    Append16(reply.payload, library_.Capacity());
    return reply;
}

// Reply: 0x00, then the capacity, as in the set request.
VirtualModule::Reply VirtualModule::OnReadPulseCapacity() const {
    Reply reply{proto::kCmdReadPulseCapacityReply, {0x00}};
    Append16(reply.payload, library_.Capacity());
    return reply;
}

// Starts learning into a slot; a new learn replaces one in progress, which is then never
// answered. A slot beyond those that fit is never answered either: like a module that
// captured nothing, it sends no result, so the console shows no pulse count for it.
void VirtualModule::OnLearn(std::uint16_t slot, std::uint16_t requester, TimePoint now) {
    if (slot >= library_.SlotCount()) {
        learning_.reset();
        return;
    }
    learning_ = PendingLearn{slot, requester, now + learnDelay_};
}

// Learn reply: slot, status 1, then the byte count of the learned durations (two per
// pulse), of which the console shows half as the pulse count. A code that could not be
// stored gets no reply.
void VirtualModule::CompleteLearn() {
    const PendingLearn learn = *learning_;
    learning_.reset();
    ++learnSerial_;
    // The serial number leads, so that a code cut short by a small capacity still
    // differs from the one learned before.
    std::vector<std::uint16_t> code = NecStyleCode(static_cast<std::uint8_t>(learnSerial_),
                                                   static_cast<std::uint8_t>(learn.slot));
    code.resize(std::min<std::size_t>(code.size(), library_.Capacity()));
    // The capacity may have changed while learning, so the slot may no longer fit.
    if (!library_.WriteCode(learn.slot, code)) return;
    Reply reply{proto::kCmdLearnReply, {}};
    Append16(reply.payload, static_cast<std::uint16_t>(learn.slot));
    reply.payload.push_back(kStatusOk);
    Append16(reply.payload, static_cast<std::uint16_t>(2 * code.size()));
    SendReply(reply, learn.requester, learn.completesAt);
}

// Reply: slot, status (1 sent, 0 empty slot, 2 no such slot).
VirtualModule::Reply VirtualModule::OnTransmit(std::uint16_t slot) {
    std::uint8_t status = kTransmitNoSuchSlot;
    if (slot < library_.SlotCount()) {
        status = library_.ReadCode(slot) ? kStatusOk : kTransmitEmptySlot;
    }
    if (status == kStatusOk) ++counters_.codesTransmitted;
    Reply reply{proto::kCmdTransmitReply, {}};
    Append16(reply.payload, slot);
    reply.payload.push_back(status);
    return reply;
}

// The tasks are kept as the bytes that came (only their first 27 count). Reply: status 1.
VirtualModule::Reply VirtualModule::OnSetTimedTasks(std::span<const std::uint8_t> payload) {
    std::copy_n(payload.begin(), kTimedTasksSize, tasks_.begin());
    if (tasksObserver_) tasksObserver_(tasks_);
    return Reply{proto::kCmdSetTimedTasksReply, {kStatusOk}};
}

// A code the library holds is sent without an answer, as the console reads any answer
// as a failure. Otherwise the answer: the brand code as it came (high byte first), then
// status 0.
std::optional<VirtualModule::Reply> VirtualModule::OnSendAcCode(
    std::span<const std::uint8_t> payload) {
    AcRequest request;
    std::copy_n(payload.begin(), kAcRequestSize, request.begin());
    lastAcRequest_ = request;
    if (IsKnownAcCode(payload)) {
        ++counters_.codesTransmitted;
        return std::nullopt;
    }
    return Reply{proto::kCmdSendAcCodeReply, {request[0], request[1], kStatusFailed}};
}

// Request: offset, wanted length. Reply: offset, length n, then n library bytes; n is the
// wanted length cut to one block and to the end of the image, so the last block is short.
VirtualModule::Reply VirtualModule::OnExportBlock(std::span<const std::uint8_t> payload) const {
    const std::size_t offset = Read16(payload, 0);
    const std::size_t wanted = std::min<std::size_t>(payload[2], kLibraryBlockSize);
    const std::span<const std::uint8_t> block = library_.Read(offset, wanted);
    Reply reply{proto::kCmdExportBlockReply, {}};
    Append16(reply.payload, static_cast<std::uint16_t>(offset));
    reply.payload.push_back(static_cast<std::uint8_t>(block.size()));
    reply.payload.insert(reply.payload.end(), block.begin(), block.end());
    return reply;
}

// A stale copy of an earlier block is what a line gives when a reply was held up and
// comes after all, as the one asked for next is made.
void VirtualModule::AnswerExportBlock(const Reply& reply, std::uint16_t destination,
                                      TimePoint now) {
    if (faults_.staleExport && ++exportsSinceFaultsSet_ % 2 == 0 && lastExportReply_) {
        SendReply(*lastExportReply_, destination, now);
    }
    lastExportReply_ = reply;
    SendReply(reply, destination, now);
}

// Request: offset, length n, n bytes. Bytes beyond the image are dropped. Reply: offset
// and the number of bytes written. A length beyond the bytes present is malformed.
std::optional<VirtualModule::Reply> VirtualModule::OnImportBlock(
    std::span<const std::uint8_t> payload) {
    if (payload.size() < 3 || payload.size() - 3 < payload[2]) return std::nullopt;
    const std::uint16_t offset = Read16(payload, 0);
    const std::size_t written = library_.Write(offset, payload.subspan(3, payload[2]));
    Reply reply{proto::kCmdImportBlockReply, {}};
    Append16(reply.payload, offset);
    reply.payload.push_back(static_cast<std::uint8_t>(written));
    return reply;
}

// ---- sending ----

void VirtualModule::SendReply(const Reply& reply, std::uint16_t destination, TimePoint at) {
    ++counters_.framesAnswered;
    std::vector<std::uint8_t> frame =
        proto::BuildModuleFrame(address_, destination, reply.command, reply.payload);
    if (ShouldDropNextReply()) {
        ++counters_.repliesDropped;
        Notify(FrameEvent::kDropped, frame);
        return;
    }
    if (faults_.corruptChecksum) frame.back() = static_cast<std::uint8_t>(frame.back() + 1);
    Notify(FrameEvent::kSent, frame);

    QueuedReply queued{at + faults_.delay, {}};
    for (int copy = 0; copy <= std::max(faults_.repeat, 0); ++copy) {
        if (faults_.garbage) AppendGarbage(queued.wire);
        queued.wire.insert(queued.wire.end(), frame.begin(), frame.end());
    }
    const auto later =
        std::upper_bound(queued_.begin(), queued_.end(), queued.readyAt,
                         [](TimePoint t, const QueuedReply& other) { return t < other.readyAt; });
    queued_.insert(later, std::move(queued));
}

bool VirtualModule::ShouldDropNextReply() {
    ++repliesSinceFaultsSet_;
    if (faults_.dropNext > 0) {
        --faults_.dropNext;
        return true;
    }
    return faults_.dropEvery > 0 &&
           repliesSinceFaultsSet_ % static_cast<std::uint64_t>(faults_.dropEvery) == 0;
}

// A short run of bytes that a receiver hunting for a start byte skips: never 0x7E.
void VirtualModule::AppendGarbage(std::vector<std::uint8_t>& wire) {
    const std::size_t count = 1 + garbageRandom_() % kMaxGarbageRun;
    for (std::size_t i = 0; i < count; ++i) {
        auto byte = static_cast<std::uint8_t>(garbageRandom_() % 255);
        if (byte >= proto::kFrameStart) ++byte;
        wire.push_back(byte);
    }
}

void VirtualModule::Advance(TimePoint now) {
    if (learning_ && learning_->completesAt <= now) CompleteLearn();
    while (!queued_.empty() && queued_.front().readyAt <= now) {
        PutOnLine(queued_.front());
        queued_.pop_front();
    }
}

// The line sends one reply after the other: a reply starts when it is ready and the one
// before it has been sent, and its pieces follow each other with the gap between them.
void VirtualModule::PutOnLine(const QueuedReply& reply) {
    const std::size_t pieceSize = faults_.splitSize > 0 ? faults_.splitSize : reply.wire.size();
    TimePoint start = std::max(reply.readyAt, lineFreeAt_);
    for (std::size_t offset = 0; offset < reply.wire.size(); offset += pieceSize) {
        if (offset > 0) start += faults_.splitGap;
        const std::size_t count = std::min(pieceSize, reply.wire.size() - offset);
        const auto first = reply.wire.begin() + static_cast<std::ptrdiff_t>(offset);
        line_.push_back(LinePiece{start, {first, first + static_cast<std::ptrdiff_t>(count)}});
        start += LineTimeOf(count);
    }
    lineFreeAt_ = start;
}

std::chrono::nanoseconds VirtualModule::LineTimeOf(std::size_t count) const {
    if (faults_.baud <= 0) return std::chrono::nanoseconds(0);
    constexpr std::int64_t kNanosecondsPerByteAtOneBaud = 10'000'000'000;  // 10 bits a byte
    return std::chrono::nanoseconds(static_cast<std::int64_t>(count) *
                                    kNanosecondsPerByteAtOneBaud / faults_.baud);
}

std::size_t VirtualModule::HandoverAfter(std::size_t taken, std::size_t size) const {
    if (faults_.baud <= 0) return size;
    return std::min((taken / kUartFifoSize + 1) * kUartFifoSize, size);
}

std::vector<Outgoing> VirtualModule::TakeDue(TimePoint now) {
    Advance(now);
    std::vector<Outgoing> due;
    while (!line_.empty()) {
        LinePiece& piece = line_.front();
        const std::size_t size = piece.bytes.size();
        std::size_t sent = piece.taken;
        while (sent < size && piece.start + LineTimeOf(HandoverAfter(sent, size)) <= now) {
            sent = HandoverAfter(sent, size);
        }
        if (sent > piece.taken) {
            const auto first = piece.bytes.begin();
            due.push_back(Outgoing{piece.start + LineTimeOf(sent),
                                   {first + static_cast<std::ptrdiff_t>(piece.taken),
                                    first + static_cast<std::ptrdiff_t>(sent)}});
            piece.taken = sent;
        }
        if (piece.taken < size) break;
        line_.pop_front();
    }
    return due;
}

std::optional<TimePoint> VirtualModule::NextDue() const {
    std::optional<TimePoint> next;
    const auto consider = [&next](TimePoint t) {
        if (!next || t < *next) next = t;
    };
    if (learning_) consider(learning_->completesAt);
    if (!queued_.empty()) consider(queued_.front().readyAt);
    if (!line_.empty()) {
        const LinePiece& piece = line_.front();
        consider(piece.start + LineTimeOf(HandoverAfter(piece.taken, piece.bytes.size())));
    }
    return next;
}

void VirtualModule::Notify(FrameEvent event, std::span<const std::uint8_t> frame) const {
    if (frameObserver_) frameObserver_(event, frame);
}

}  // namespace orvante::sim
