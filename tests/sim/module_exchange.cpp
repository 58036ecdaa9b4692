#include "tests/sim/module_exchange.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/module_frame.h"

namespace orvante::test::sim_exchange {

namespace proto = orvante::protocol;

Bytes Frame(std::uint16_t source, std::uint16_t destination, std::uint8_t command,
            const Bytes& payload) {
    return proto::BuildModuleFrame(source, destination, command, payload);
}

Bytes Request(std::uint8_t command, const Bytes& payload) {
    return Frame(kConsole, kModule, command, payload);
}

Bytes ReplyFrame(std::uint8_t command, const Bytes& payload) {
    return Frame(kModule, kConsole, command, payload);
}

Bytes Handshake() {
    return Bytes(proto::kHandshakeFrame.begin(), proto::kHandshakeFrame.end());
}

Bytes HandshakeReply() {
    return {0x7E, 0x05, 0x00, 0x34, 0x12, 0xFF, 0xFF, 0x02, 0xC9};
}

Bytes Concat(const std::vector<sim::Outgoing>& chunks) {
    Bytes all;
    for (const sim::Outgoing& chunk : chunks) {
        all.insert(all.end(), chunk.bytes.begin(), chunk.bytes.end());
    }
    return all;
}

Bytes Exchange(sim::VirtualModule& module, const Bytes& request, TimePoint now) {
    module.Receive(request, now);
    return Concat(module.TakeDue(now));
}

sim::ModuleConfig SmallLibrary(std::size_t size, std::uint16_t capacity) {
    sim::ModuleConfig config;
    config.librarySize = size;
    config.pulseCapacity = capacity;
    config.learnDelay = std::chrono::milliseconds(0);
    return config;
}

namespace {

Bytes BlockHeader(std::size_t offset, std::size_t count) {
    return {static_cast<std::uint8_t>(offset & 0xFF), static_cast<std::uint8_t>(offset >> 8),
            static_cast<std::uint8_t>(count)};
}

}  // namespace

Bytes ExportAll(sim::VirtualModule& module) {
    Bytes image;
    for (std::size_t offset = 0; offset <= sim::kMaxLibrarySize; offset += 50) {
        const Bytes reply = Exchange(
            module, Frame(kConsole, kBroadcast, proto::kCmdExportBlock, BlockHeader(offset, 50)));
        const proto::FrameView view(reply);
        EXPECT_EQ(view.Command(), proto::kCmdExportBlockReply);
        const auto payload = view.Payload();
        if (payload.size() < 3) break;
        const std::size_t blockOffset = payload[0] | (payload[1] << 8);
        const std::size_t count = payload[2];
        EXPECT_EQ(payload.size(), 3 + count);
        if (payload.size() < 3 + count) break;
        image.resize(std::max(image.size(), blockOffset + count));
        std::copy_n(payload.begin() + 3, count, image.begin() + blockOffset);
        if (count < 50) break;
    }
    return image;
}

void ImportAll(sim::VirtualModule& module, const Bytes& image) {
    for (std::size_t offset = 0;; offset += 50) {
        const std::size_t count = std::min<std::size_t>(50, image.size() - offset);
        Bytes payload = BlockHeader(offset, count);
        payload.insert(payload.end(), image.begin() + offset, image.begin() + offset + count);
        const Bytes reply =
            Exchange(module, Frame(kConsole, kBroadcast, proto::kCmdImportBlock, payload));
        EXPECT_EQ(proto::FrameView(reply).Command(), proto::kCmdImportBlockReply);
        if (count < 50) return;
    }
}

}  // namespace orvante::test::sim_exchange
