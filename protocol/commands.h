// Command codes of the module link, the reply code that answers each request, and the
// fixed connect handshake.
#pragma once

#include <array>
#include <cstdint>

namespace orvante::protocol {

// Requests and their replies. Every reply is the request code plus one, except the two
// pulse-capacity requests, which the module answers with their own codes.
inline constexpr std::uint8_t kCmdConnect = 1;  // handshake and test connection
inline constexpr std::uint8_t kCmdConnectReply = 2;
inline constexpr std::uint8_t kCmdSetPulseCapacity = 16;
inline constexpr std::uint8_t kCmdSetPulseCapacityReply = 16;
inline constexpr std::uint8_t kCmdReadPulseCapacity = 17;
inline constexpr std::uint8_t kCmdReadPulseCapacityReply = 17;
inline constexpr std::uint8_t kCmdLearn = 18;
inline constexpr std::uint8_t kCmdLearnReply = 19;
inline constexpr std::uint8_t kCmdTransmit = 20;
inline constexpr std::uint8_t kCmdTransmitReply = 21;
inline constexpr std::uint8_t kCmdReadTimedTasks = 22;
inline constexpr std::uint8_t kCmdReadTimedTasksReply = 23;
inline constexpr std::uint8_t kCmdSetTimedTasks = 24;
inline constexpr std::uint8_t kCmdSetTimedTasksReply = 25;
inline constexpr std::uint8_t kCmdSendAcCode = 26;
inline constexpr std::uint8_t kCmdSendAcCodeReply = 27;
inline constexpr std::uint8_t kCmdExportBlock = 49;
inline constexpr std::uint8_t kCmdExportBlockReply = 50;
inline constexpr std::uint8_t kCmdImportBlock = 51;
inline constexpr std::uint8_t kCmdImportBlockReply = 52;

// Source and destination of the handshake, destination of the library transfer frames.
inline constexpr std::uint16_t kBroadcastAddress = 0xFFFF;

// The connect handshake: command 1 from and to the broadcast address, no payload. It is
// sent before the module's address is known, so it is a fixed frame.
inline constexpr std::array<std::uint8_t, 9> kHandshakeFrame = {0x7E, 0x05, 0x00, 0xFF, 0xFF,
                                                                0xFF, 0xFF, 0x01, 0x80};

}  // namespace orvante::protocol
