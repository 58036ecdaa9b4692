// Frames to and from the virtual module for its tests, with time passed in.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "protocol/commands.h"
#include "sim/virtual_module.h"

namespace orvante::test::sim_exchange {

using Bytes = std::vector<std::uint8_t>;
using sim::TimePoint;

inline constexpr std::uint16_t kConsole = 0x0001;
inline constexpr std::uint16_t kModule = sim::kDefaultAddress;
inline constexpr std::uint16_t kBroadcast = protocol::kBroadcastAddress;
// An arbitrary start time; the model only compares times.
inline const TimePoint t0 = TimePoint{} + std::chrono::hours(1);

Bytes Frame(std::uint16_t source, std::uint16_t destination, std::uint8_t command,
            const Bytes& payload = {});
// A request from the console to the module, and the module's reply to the console.
Bytes Request(std::uint8_t command, const Bytes& payload = {});
Bytes ReplyFrame(std::uint8_t command, const Bytes& payload = {});
// The handshake, and the default module's reply to it.
Bytes Handshake();
Bytes HandshakeReply();

Bytes Concat(const std::vector<sim::Outgoing>& chunks);
// Sends `request` at `now` and returns all the bytes due by then.
Bytes Exchange(sim::VirtualModule& module, const Bytes& request, TimePoint now = t0);

// A module with a small library, the given capacity and no learn delay.
sim::ModuleConfig SmallLibrary(std::size_t size, std::uint16_t capacity = 10);
// Reads the whole library as the console does: block after block until a short one,
// each placed at the offset its reply names.
Bytes ExportAll(sim::VirtualModule& module);
// Writes an image block after block, ending with a short (possibly empty) block.
void ImportAll(sim::VirtualModule& module, const Bytes& image);

}  // namespace orvante::test::sim_exchange
