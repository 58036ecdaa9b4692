// The channel over the Win32 port layer, run under Wine against the virtual module on
// Linux: each port below is a pseudo-terminal that the test run publishes as COM<n>.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "protocol/commands.h"
#include "protocol/frame_receiver.h"
#include "protocol/module_frame.h"
#include "serial/port_list.h"
#include "serial/serial_channel.h"
#include "session/module_link.h"
#include "tests/support/fake_window.h"
#include "tests/support/window_serial_owner.h"

namespace orvante::serial {
namespace {

using namespace std::chrono_literals;

constexpr int kModulePort = 5;  // a virtual module that stays
constexpr int kLostPort = 6;    // a virtual module that ends when the test asks
constexpr std::uint16_t kModuleAddress = 0x1234;

class Win32ChannelTest : public ::testing::Test {
protected:
    Win32ChannelTest()
        : owner_(
              window_,
              [this](const SerialMessage& m) {
                  if (m.message == WM_SERIAL_RXCHAR) {
                      received_.push_back(static_cast<std::uint8_t>(m.wParam));
                  }
              },
              [this](int port, const platform::SysError& error) {
                  lostPorts_.push_back(port);
                  lostErrors_.push_back(error);
              }) {}

    PortOpenResult Open(CSerialChannel& channel, int port, int baud) {
        return channel.Open(&owner_, port, baud, 'N', 8, 1, EV_RXCHAR, 512);
    }

    // The whole frames received so far, in order.
    std::vector<std::vector<std::uint8_t>> Frames() const {
        protocol::FrameReceiver receiver;
        std::vector<std::vector<std::uint8_t>> frames;
        for (std::uint8_t byte : received_) {
            if (receiver.Feed(byte) == protocol::FrameReceiver::Result::kFrame) {
                frames.emplace_back(receiver.Frame().begin(), receiver.Frame().end());
            }
        }
        return frames;
    }

    // Opens `port`, starts the monitor and waits for the module's answer to the handshake.
    void Connect(CSerialChannel& channel, int port, int baud) {
        const PortOpenResult opened = Open(channel, port, baud);
        ASSERT_TRUE(opened.PortIsOpen()) << opened.error.text;
        ASSERT_TRUE(channel.StartMonitor());
        channel.QueueSend(protocol::kHandshakeFrame.data(), protocol::kHandshakeFrame.size());
        ASSERT_TRUE(window_.PumpUntil([&] { return Frames().size() == 1; }, 10s));
    }

    test::FakeWindow window_;
    test::WindowSerialOwner owner_;
    std::vector<std::uint8_t> received_;
    std::vector<int> lostPorts_;
    std::vector<platform::SysError> lostErrors_;
};

TEST_F(Win32ChannelTest, TheModulesPortsAreListed) {
    const DeviceMap ports = ScanDeviceMap();
    EXPECT_TRUE(ports.contains(kModulePort));
    EXPECT_TRUE(ports.contains(kLostPort));
}

// The rate is read back after it is set: one the port does not run (Wine applies 43000
// as 38400) is refused with the channel's box, and the port stays open.
TEST_F(Win32ChannelTest, ARateIsTakenOnlyWhenThePortRunsIt) {
    struct Row {
        int baud;
        PortOpenStatus status;
    };
    for (const Row& row : {Row{115200, PortOpenStatus::kOpened}, Row{9600, PortOpenStatus::kOpened},
                           Row{43000, PortOpenStatus::kSettingsRefused}}) {
        CSerialChannel channel;
        const PortOpenResult result = Open(channel, kModulePort, row.baud);
        EXPECT_EQ(result.status, row.status) << row.baud << ": " << result.error.text;
        EXPECT_TRUE(channel.IsPortOpen()) << row.baud;
        if (row.status == PortOpenStatus::kSettingsRefused) {
            EXPECT_EQ(result.failedCall, "SetCommState()");
        }
    }
}

TEST_F(Win32ChannelTest, APortNobodyPublishedIsNotFound) {
    CSerialChannel channel;
    EXPECT_EQ(Open(channel, 77, 9600).status, PortOpenStatus::kNotFound);
    EXPECT_FALSE(channel.IsPortOpen());
}

// Requests queued back to back go out whole and in order, and every reply comes back
// whole: bytes both ways through the overlapped port and the comm-event wait.
TEST_F(Win32ChannelTest, QueuedRequestsAreAnsweredWholeAndInOrder) {
    CSerialChannel channel;
    ASSERT_NO_FATAL_FAILURE(Connect(channel, kModulePort, 115200));

    constexpr int kRequests = 20;
    for (int i = 0; i < kRequests; ++i) {
        const std::vector<std::uint8_t> ping = protocol::BuildModuleFrame(
            static_cast<std::uint16_t>(0x0100 + i), kModuleAddress, protocol::kCmdConnect, {});
        channel.QueueSend(ping.data(), ping.size());
    }
    ASSERT_TRUE(window_.PumpUntil([&] { return Frames().size() == 1 + kRequests; }, 20s))
        << Frames().size() << " frames";
    const auto frames = Frames();
    for (int i = 0; i < kRequests; ++i) {
        const protocol::FrameView reply(frames[1 + static_cast<std::size_t>(i)]);
        EXPECT_EQ(reply.Command(), protocol::kCmdConnectReply);
        EXPECT_EQ(reply.Destination(), 0x0100 + i) << "reply " << i << " answers request " << i;
    }
    window_.PumpUntil([] { return false; }, 100ms);  // nothing more may come
    EXPECT_EQ(Frames().size(), 1u + kRequests);

    channel.StopMonitor();
    EXPECT_TRUE(window_.PumpUntil([&] { return !channel.IsMonitorRunning(); }, 5s));
    EXPECT_FALSE(channel.IsPortOpen());
}

// The module's side goes away: reported once, in the channel's box, and the monitor ends.
TEST_F(Win32ChannelTest, ALostDeviceIsReportedOnceAndTheMonitorEnds) {
    CSerialChannel channel;
    ASSERT_NO_FATAL_FAILURE(Connect(channel, kLostPort, 9600));

    // The test run ends the module when this file appears (ORVANTE_HANGUP_FILE).
    const char* hangup = std::getenv("ORVANTE_HANGUP_FILE");
    ASSERT_NE(hangup, nullptr);
    std::ofstream(hangup) << "now\n";
    ASSERT_TRUE(window_.PumpUntil([&] { return !lostPorts_.empty(); }, 30s))
        << "the module did not end";
    EXPECT_TRUE(window_.PumpUntil([&] { return !channel.IsMonitorRunning(); }, 5s));
    window_.PumpUntil([] { return false; }, 200ms);
    EXPECT_EQ(lostPorts_, std::vector<int>{kLostPort});
    // The reason the log gives, as on Linux.
    EXPECT_EQ(session::DeviceLostText(kLostPort, lostErrors_.at(0)),
              "串口COM6已断开：设备已拔出或线路已挂断")
        << lostErrors_.at(0).code << " " << lostErrors_.at(0).text;
    EXPECT_FALSE(channel.IsPortOpen());
    EXPECT_EQ(window_.Boxes().size(), 1u);
}

}  // namespace
}  // namespace orvante::serial
