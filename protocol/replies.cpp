#include "protocol/replies.h"

#include <cstdio>

#include "protocol/commands.h"

namespace orvante::protocol {

namespace {

constexpr ReplyRoute kReplyRoutes[] = {
    {kCmdConnect, kCmdConnectReply, 0},
    {kCmdSetPulseCapacity, kCmdSetPulseCapacityReply, 0},
    {kCmdReadPulseCapacity, kCmdReadPulseCapacityReply, kPulseCapacityReplyMinPayload},
    {kCmdLearn, kCmdLearnReply, kLearnReplyMinPayload},
    {kCmdTransmit, kCmdTransmitReply, kTransmitReplyMinPayload},
    {kCmdReadTimedTasks, kCmdReadTimedTasksReply, kTimedTasksReplyMinPayload},
    {kCmdSetTimedTasks, kCmdSetTimedTasksReply, 0},
    {kCmdSendAcCode, kCmdSendAcCodeReply, 0},
    {kCmdExportBlock, kCmdExportBlockReply, kExportReplyMinPayload},
    {kCmdImportBlock, kCmdImportBlockReply, 0},
};

}  // namespace

const ReplyRoute* FindReplyRoute(std::uint8_t replyCommand) {
    for (const ReplyRoute& route : kReplyRoutes) {
        if (route.reply == replyCommand) return &route;
    }
    return nullptr;
}

std::optional<std::uint8_t> ReplyCommandFor(std::uint8_t requestCommand) {
    for (const ReplyRoute& route : kReplyRoutes) {
        if (route.request == requestCommand) return route.reply;
    }
    return std::nullopt;
}

const ReplyRoute* RouteOfReply(const FrameView& frame) {
    // A LEN below 5 leaves no command byte: such a frame answers nothing.
    if (frame.Length() < kLengthOverhead) return nullptr;
    const ReplyRoute* route = FindReplyRoute(frame.Command());
    if (route == nullptr || frame.PayloadSize() < route->minPayload) return nullptr;
    return route;
}

std::optional<HandshakeAnswer> ReadHandshakeAnswer(const FrameView& frame) {
    const ReplyRoute* route = RouteOfReply(frame);
    if (route == nullptr || route->reply != kCmdConnectReply) return std::nullopt;
    return HandshakeAnswer{frame.Source(), frame.Destination() == kBroadcastAddress};
}

std::string FormatAddress(std::uint16_t address) {
    char digits[5];
    std::snprintf(digits, sizeof digits, "%04X", address);
    return digits;
}

}  // namespace orvante::protocol
