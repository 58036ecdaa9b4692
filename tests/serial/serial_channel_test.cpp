// The serial channel over real pseudo-terminals: the test plays the module on the
// master side and is the window thread on the slave side.
#include "serial/serial_channel.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <thread>

#include "serial/port_device.h"
#include "serial/port_list_posix.h"
#include "tests/support/fake_window.h"
#include "tests/support/pty_pair.h"
#include "tests/support/runtime_dir.h"
#include "tests/support/termios_probe.h"
#include "tests/support/wait.h"
#include "tests/support/window_serial_owner.h"
#include "ui/port_combo.h"

namespace orvante::serial {
namespace {

using namespace std::chrono_literals;
using test::FakeWindow;
using test::PtyPair;

constexpr int kPort = 7;
constexpr std::uint32_t kMask = EV_RXCHAR | EV_RXFLAG;

// The window side of a channel: records every message it handles, and checks that
// each is handled on the window thread.
class ChannelTest : public ::testing::Test {
protected:
    ChannelTest()
        : owner_(window_, [this](const SerialMessage& m) {
              if (!window_.Thread().IsWindowThread()) ++offThread_;
              messages_.push_back(m);
          }) {}

    PortResolver ResolveTo(int number, std::string path) {
        return [number, path](int port) -> std::optional<std::string> {
            if (port == number) return path;
            return std::nullopt;
        };
    }

    bool Open(CSerialChannel& channel, int baud = 9600, int port = kPort) {
        return channel.OpenPort(&owner_, port, baud, 'N', 8, 1, kMask, 512);
    }

    std::vector<std::uint8_t> ReceivedBytes() const {
        std::vector<std::uint8_t> bytes;
        for (const auto& m : messages_) {
            if (m.message == WM_SERIAL_RXCHAR) bytes.push_back(static_cast<std::uint8_t>(m.wParam));
        }
        return bytes;
    }

    std::size_t BoxesWithText(const std::string& text) const {
        std::size_t n = 0;
        for (const auto& box : window_.Boxes()) n += box.text == text;
        return n;
    }

    FakeWindow window_;
    test::WindowSerialOwner owner_;
    std::vector<SerialMessage> messages_;
    int offThread_ = 0;
    PtyPair pty_;
};

TEST_F(ChannelTest, StreamFromThePeerArrivesInOrderExactlyOnceOnTheWindowThread) {
    CSerialChannel channel(ResolveTo(kPort, pty_.SlavePath()));
    ASSERT_TRUE(Open(channel, 230400));
    ASSERT_TRUE(channel.StartMonitor());

    std::vector<std::uint8_t> sent(64 * 1024);
    std::mt19937 random(1234);
    for (auto& b : sent) b = static_cast<std::uint8_t>(random());
    sent[100] = 0xFF;
    std::thread peer([&] { pty_.Write(sent); });
    EXPECT_TRUE(window_.PumpUntil([&] { return ReceivedBytes().size() >= sent.size(); }, 20s));
    peer.join();
    window_.PumpUntil([] { return false; }, 50ms);  // nothing more may come

    EXPECT_EQ(ReceivedBytes(), sent);
    EXPECT_EQ(offThread_, 0);
    for (const auto& m : messages_) {
        EXPECT_LE(m.wParam, 255u);
        EXPECT_EQ(m.lParam, kPort);
    }
}

TEST_F(ChannelTest, EachPortEventEndsWithTheNotificationsOfTheMask) {
    CSerialChannel channel(ResolveTo(kPort, pty_.SlavePath()));
    ASSERT_TRUE(channel.OpenPort(&owner_, kPort, 9600, 'N', 8, 1,
                                 EV_RXCHAR | EV_RXFLAG | EV_CTS | EV_RING, 512));
    ASSERT_TRUE(channel.StartMonitor());
    pty_.Write({0x01, 0xFF});
    ASSERT_TRUE(window_.PumpUntil([&] { return messages_.size() >= 5; }));

    ASSERT_EQ(messages_.size(), 5u) << "one port event: two bytes, then CTS, RING, RXFLAG";
    EXPECT_EQ(messages_[0].message, WM_SERIAL_RXCHAR);
    EXPECT_EQ(messages_[1].wParam, 255u);
    EXPECT_EQ(messages_[2].message, WM_SERIAL_CTS);
    EXPECT_EQ(messages_[3].message, WM_SERIAL_RING);
    EXPECT_EQ(messages_[4].message, WM_SERIAL_RXFLAG);
}

// Frames are written whole and in order per thread, whichever thread queues them.
TEST_F(ChannelTest, FramesFromTwoThreadsReachThePeerWholeAndInOrder) {
    CSerialChannel channel(ResolveTo(kPort, pty_.SlavePath()));
    ASSERT_TRUE(Open(channel, 230400));
    ASSERT_TRUE(channel.StartMonitor());

    constexpr int kFrames = 300;
    constexpr std::size_t kFrameSize = 40;
    auto makeFrame = [](std::uint8_t thread, int sequence) {
        std::vector<std::uint8_t> frame(kFrameSize, thread);
        frame[1] = static_cast<std::uint8_t>(sequence & 0xFF);
        frame[2] = static_cast<std::uint8_t>(sequence >> 8);
        return frame;
    };
    std::thread worker([&] {
        for (int i = 0; i < kFrames; ++i) {
            auto frame = makeFrame(0xBB, i);
            channel.QueueSend(frame.data(), frame.size());
        }
    });
    for (int i = 0; i < kFrames; ++i) {
        auto frame = makeFrame(0xAA, i);
        channel.QueueSend(frame.data(), frame.size());
    }
    worker.join();

    const auto wire = pty_.Read(2 * kFrames * kFrameSize, 20s);
    ASSERT_EQ(wire.size(), 2 * kFrames * kFrameSize);
    int next[2] = {0, 0};
    for (std::size_t at = 0; at < wire.size(); at += kFrameSize) {
        const std::uint8_t tag = wire[at];
        ASSERT_TRUE(tag == 0xAA || tag == 0xBB) << "frame boundary lost at " << at;
        const int sequence = wire[at + 1] | (wire[at + 2] << 8);
        EXPECT_EQ(sequence, next[tag == 0xBB]++);
        for (std::size_t i = 3; i < kFrameSize; ++i) ASSERT_EQ(wire[at + i], tag);
    }
    EXPECT_TRUE(window_.Boxes().empty());
}

// A reply that has arrived but was not yet handled survives a frame going out.
TEST_F(ChannelTest, WritingAFrameKeepsReceivedBytesThatWereNotYetRead) {
    CSerialChannel channel(ResolveTo(kPort, pty_.SlavePath()));
    ASSERT_TRUE(Open(channel));
    ASSERT_TRUE(channel.StartMonitor());
    pty_.Write({0x7E, 0x05});
    // The window is busy: the monitor waits with the first bytes while more arrive.
    ASSERT_TRUE(window_.WaitForDelivery(5s));
    pty_.Write({0x00, 0x34, 0x12});
    const std::vector<std::uint8_t> frame = {0x7E, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x80};
    channel.QueueSend(frame.data(), frame.size());

    EXPECT_TRUE(window_.PumpUntil([&] { return ReceivedBytes().size() >= 5; }));
    EXPECT_EQ(pty_.Read(frame.size()), frame);
    EXPECT_EQ(ReceivedBytes(), (std::vector<std::uint8_t>{0x7E, 0x05, 0x00, 0x34, 0x12}));
}

TEST_F(ChannelTest, OpeningPurgesWhatWaitedOnTheLine) {
    pty_.Write({1, 2, 3});
    CSerialChannel channel(ResolveTo(kPort, pty_.SlavePath()));
    ASSERT_TRUE(Open(channel));
    ASSERT_TRUE(channel.StartMonitor());
    pty_.Write({4});
    ASSERT_TRUE(window_.PumpUntil([&] { return !ReceivedBytes().empty(); }));
    EXPECT_EQ(ReceivedBytes(), std::vector<std::uint8_t>{4});
}

TEST_F(ChannelTest, QueueSendWithoutAnOpenPortShowsTheBoxAndSendsNothing) {
    CSerialChannel channel(ResolveTo(kPort, pty_.SlavePath()));
    EXPECT_FALSE(channel.OpenPort(&owner_, kPort + 1, 9600, 'N', 8, 1, kMask, 512))
        << "no such port";
    EXPECT_FALSE(channel.IsPortOpen());
    const std::uint8_t frame[] = {0x7E, 1, 2};
    channel.QueueSend(frame, sizeof frame);
    EXPECT_EQ(BoxesWithText("请先打开串口!\n"), 1u);
    EXPECT_TRUE(pty_.ReadAvailable(50ms).empty());
}

TEST_F(ChannelTest, StopMonitorClosesThePort) {
    CSerialChannel channel(ResolveTo(kPort, pty_.SlavePath()));
    ASSERT_TRUE(Open(channel));
    ASSERT_TRUE(channel.StartMonitor());
    channel.StopMonitor();
    ASSERT_TRUE(test::WaitFor([&] { return !channel.IsMonitorRunning(); }));
    EXPECT_FALSE(channel.IsPortOpen());

    const std::uint8_t frame[] = {0x7E};
    channel.QueueSend(frame, 1);
    EXPECT_EQ(BoxesWithText("请先打开串口!\n"), 1u);
    // Closed means closed: the device can be taken again.
    PortDevice other;
    platform::SysError error;
    EXPECT_TRUE(other.Open(pty_.SlavePath(), &error)) << error.text;
}

TEST_F(ChannelTest, OpenPortWhileMonitoredEndsTheMonitorAndAppliesNewSettings) {
    CSerialChannel channel(ResolveTo(kPort, pty_.SlavePath()));
    ASSERT_TRUE(Open(channel, 9600));
    ASSERT_TRUE(channel.StartMonitor());
    EXPECT_TRUE(channel.IsMonitorRunning());

    ASSERT_TRUE(Open(channel, 56000));
    EXPECT_FALSE(channel.IsMonitorRunning());
    EXPECT_TRUE(channel.IsPortOpen());
    test::ProbedTermios seen{};
    ASSERT_TRUE(test::ProbeTermios(pty_.SlaveFd(), &seen));
    EXPECT_EQ(seen.ospeed, 56000u);

    // Open but not monitored: a frame waits, and the next open drops it.
    const std::uint8_t stale[] = {0x11, 0x22};
    channel.QueueSend(stale, sizeof stale);
    EXPECT_TRUE(pty_.ReadAvailable(50ms).empty());
    ASSERT_TRUE(Open(channel, 9600));
    ASSERT_TRUE(channel.StartMonitor());
    const std::uint8_t fresh[] = {0x33};
    channel.QueueSend(fresh, sizeof fresh);
    EXPECT_EQ(pty_.Read(1), std::vector<std::uint8_t>{0x33});
    EXPECT_TRUE(pty_.ReadAvailable(50ms).empty());
}

TEST_F(ChannelTest, FrameQueuedBeforeTheMonitorStartsIsWrittenOnceItRuns) {
    CSerialChannel channel(ResolveTo(kPort, pty_.SlavePath()));
    ASSERT_TRUE(Open(channel));
    const std::uint8_t frame[] = {0x7E, 0x05, 0x00};
    channel.QueueSend(frame, sizeof frame);
    ASSERT_TRUE(channel.StartMonitor());
    EXPECT_EQ(pty_.Read(3), std::vector<std::uint8_t>(frame, frame + 3));
}

// Destruction and OpenPort wait for the monitor while it may be blocked handing
// bytes to this very thread: they must keep serving it, and return promptly.
TEST_F(ChannelTest, DestructionWhileBytesStreamInReturnsPromptly) {
    std::atomic<bool> streaming{true};
    std::thread peer;
    {
        CSerialChannel channel(ResolveTo(kPort, pty_.SlavePath()));
        ASSERT_TRUE(Open(channel, 230400));
        ASSERT_TRUE(channel.StartMonitor());
        peer = std::thread([&] {
            const std::vector<std::uint8_t> chunk(256, 0x55);
            while (streaming) {
                // Never blocks for long: once the port is gone nobody drains the line.
                if (write(pty_.MasterFd(), chunk.data(), chunk.size()) < 0) {
                    pollfd writable{pty_.MasterFd(), POLLOUT, 0};
                    poll(&writable, 1, 10);
                }
            }
        });
        ASSERT_TRUE(window_.PumpUntil([&] { return ReceivedBytes().size() > 4096; }));
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(Open(channel, 9600));  // ends the streaming monitor first
        ASSERT_TRUE(channel.StartMonitor());
        ASSERT_TRUE(window_.PumpUntil([&] { return messages_.size() > 10000; }));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    }  // the channel is destroyed here, with bytes still coming
    streaming = false;
    peer.join();
}

TEST_F(ChannelTest, PeerHangingUpIsReportedOnceAndEndsTheMonitor) {
    CSerialChannel channel(ResolveTo(kPort, pty_.SlavePath()));
    ASSERT_TRUE(Open(channel));
    ASSERT_TRUE(channel.StartMonitor());
    pty_.Write({1, 2, 3});
    ASSERT_TRUE(window_.PumpUntil([&] { return ReceivedBytes().size() == 3; }));

    pty_.CloseMaster();
    // The monitor must end on its own (no spinning, no waiting for a stop).
    EXPECT_TRUE(window_.PumpUntil([&] { return !channel.IsMonitorRunning(); }, 2s));
    EXPECT_FALSE(channel.IsPortOpen());
    window_.PumpUntil([] { return false; }, 50ms);

    const auto boxes = window_.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Application Error");
    EXPECT_EQ(boxes[0].icon, ui::BoxIcon::kStop);
    EXPECT_FALSE(boxes[0].owned);
    EXPECT_NE(boxes[0].text.find("WARNING:  "), std::string::npos);
    EXPECT_NE(boxes[0].text.find("Port: 7\n"), std::string::npos);

    const std::uint8_t frame[] = {0x7E};
    channel.QueueSend(frame, 1);
    EXPECT_EQ(BoxesWithText("请先打开串口!\n"), 1u);
}

TEST_F(ChannelTest, ConfigurationFailureShowsOneBoxAndLeavesThePortOpen) {
    CSerialChannel channel(ResolveTo(kPort, pty_.SlavePath()));
    EXPECT_TRUE(channel.OpenPort(&owner_, kPort, 9600, 'X', 8, 1, kMask, 512));
    EXPECT_TRUE(channel.IsPortOpen());
    const auto boxes = window_.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(
        boxes[0].text.rfind("WARNING:  BuildCommDCB() Failed with the following error: \n", 0), 0u);
    EXPECT_EQ(boxes[0].caption, "Application Error");
}

// Every descriptor the process may have is taken while the channel is made, so that
// its events cannot be: the open then fails once, with the channel's own box.
TEST_F(ChannelTest, EventsThatCouldNotBeMadeFailTheOpenWithOneBox) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers need descriptors of their own to check the channel";
#endif
    std::vector<int> taken;
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit lowered{64, limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    for (int fd = dup(0); fd >= 0; fd = dup(0)) taken.push_back(fd);
    std::optional<CSerialChannel> channel(std::in_place, ResolveTo(kPort, pty_.SlavePath()));
    for (const int fd : taken) close(fd);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);

    const PortOpenResult result = channel->Open(&owner_, kPort, 9600, 'N', 8, 1, kMask, 512);
    EXPECT_EQ(result.status, PortOpenStatus::kSystemFailure);
    EXPECT_FALSE(channel->IsPortOpen());
    EXPECT_FALSE(channel->StartMonitor());
    ASSERT_EQ(window_.Boxes().size(), 1u);
    EXPECT_EQ(
        window_.Boxes()[0].text.rfind("WARNING:  eventfd() Failed with the following error: \n", 0),
        0u);
    channel.reset();  // returns: no monitor was left behind
}

TEST_F(ChannelTest, PortNumbersAboveNineOpen) {
    CSerialChannel channel(ResolveTo(12, pty_.SlavePath()));
    EXPECT_TRUE(Open(channel, 9600, 12));
    EXPECT_TRUE(channel.IsPortOpen());
    EXPECT_EQ(channel.PortNumber(), 12);
}

TEST(PortErrorText, NamesTheCallTheErrorAndThePort) {
    EXPECT_EQ(ComposePortError("SetCommState()", {22, "Invalid argument"}, 3),
              "WARNING:  SetCommState() Failed with the following error: \n"
              "Invalid argument\n\nPort: 3\n");
    // Longer than any fixed composing buffer: kept whole.
    const std::string longName(500, 'x');
    EXPECT_NE(ComposePortError(longName, {5, std::string(300, 'y')}, 1).find(longName),
              std::string::npos);
}

// The ports directory: COM<n> links are listed and opened through the device map.
class PortsDirectoryTest : public ChannelTest {
protected:
    void SetUp() override {
        std::filesystem::create_directories(PortsDirectory());
        std::filesystem::permissions(PortsDirectory(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
    }
    void Link(const std::string& target, const std::string& name) {
        std::filesystem::create_symlink(target, std::filesystem::path(PortsDirectory()) / name);
    }

    test::PrivateRuntimeDir runtimeDir_;
};

TEST_F(PortsDirectoryTest, LinkedPtyIsListedAndOpensByItsNumber) {
    Link(pty_.SlavePath(), "COM150");
    Link("/dev/does-not-exist", "COM151");
    window_.MakeSortedCombo(1003);

    ui::EnumeratePorts(window_, 1003);
    int found = -1;
    for (int i = 0; i < window_.GetCount(1003); ++i) {
        const int number = PortNumberFromName(window_.GetItemText(1003, i));
        EXPECT_NE(number, 151) << "a dangling link is not a port";
        if (number == 150) found = i;
    }
    ASSERT_GE(found, 0);
    EXPECT_EQ(window_.GetCurSel(1003), 0);

    CSerialChannel channel;  // the machine's device map
    ASSERT_TRUE(channel.OpenPort(&owner_, 150, 9600, 'N', 8, 1, kMask, 512));
    ASSERT_TRUE(channel.StartMonitor());
    const std::uint8_t frame[] = {0x7E, 0x01};
    channel.QueueSend(frame, sizeof frame);
    EXPECT_EQ(pty_.Read(2), std::vector<std::uint8_t>(frame, frame + 2));
    EXPECT_FALSE(channel.OpenPort(&owner_, 151, 9600, 'N', 8, 1, kMask, 512));
}

}  // namespace
}  // namespace orvante::serial

namespace orvante::serial {
namespace {

// Real hardware, only when a port is named: ORVANTE_TEST_PORT=/dev/ttyUSB0. Nothing
// needs to be attached: the frame goes out, and the channel stays quiet and healthy.
TEST(HardwareChannel, OpensMonitorsSendsAndStops) {
    const char* path = std::getenv("ORVANTE_TEST_PORT");
    if (path == nullptr) GTEST_SKIP() << "set ORVANTE_TEST_PORT to a serial device to run this";
    test::FakeWindow window;
    test::WindowSerialOwner owner(window, [](const SerialMessage&) {});
    CSerialChannel channel([path](int) { return std::string(path); });
    ASSERT_TRUE(channel.OpenPort(&owner, 1, 9600, 'N', 8, 1, kMask, 512));
    EXPECT_TRUE(window.Boxes().empty()) << window.Boxes().front().text;
    ASSERT_TRUE(channel.StartMonitor());
    const std::uint8_t frame[] = {0x7E, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x80};
    channel.QueueSend(frame, sizeof frame);
    window.PumpUntil([] { return false; }, 50ms);
    EXPECT_TRUE(channel.IsMonitorRunning());
    channel.StopMonitor();
    EXPECT_TRUE(window.PumpUntil([&] { return !channel.IsMonitorRunning(); }));
    EXPECT_FALSE(channel.IsPortOpen());
    EXPECT_TRUE(window.Boxes().empty());
}

}  // namespace
}  // namespace orvante::serial
