// Connecting to a module and supervising the requests that wait for a reply, with the
// test playing the module on the far end of a pseudo-terminal.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "protocol/commands.h"
#include "tests/support/console_fixture.h"
#include "tests/support/wait.h"

namespace orvante::ui {
namespace {

using namespace std::chrono_literals;
using test::Reply;

const std::vector<std::uint8_t> kHandshake(protocol::kHandshakeFrame.begin(),
                                           protocol::kHandshakeFrame.end());
const std::vector<std::uint8_t> kReplyFrom1234 = {0x7E, 0x05, 0x00, 0x34, 0x12,
                                                  0xFF, 0xFF, 0x02, 0xC9};

class Connection : public test::ConsoleFixture {
protected:
    // Clicks connect and checks the handshake went out; the reply is the test's.
    void StartConnect() {
        window_.Click(IDC_CONNECT);
        ASSERT_EQ(ReadFromConsole(9), kHandshake);
    }
    bool TimerRunning() const { return window_.TimerPeriod(kReplyTimerId).has_value(); }
};

TEST_F(Connection, HandshakeReplyGivesTheLocalAddress) {
    StartConnect();
    EXPECT_EQ(window_.GetText(IDC_CONNECT), "断开连接");
    EXPECT_EQ(window_.Control(IDC_INDICATOR).icon, IconId::kIndicatorOn);
    EXPECT_EQ(window_.TimerPeriod(kReplyTimerId), 3000);

    pty_.Write(kReplyFrom1234);
    ASSERT_TRUE(PumpUntil([&] { return LogHas("连接成功！"); }));
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"开始连接……", "发送:7E 05 00 FF FF FF FF 01 80 ",
                                        "接收:7E 05 00 34 12 FF FF 02 C9 ", "连接成功！"}));
    EXPECT_EQ(window_.GetText(IDC_LOCAL_ADDR), "本机地址：1234");
    EXPECT_EQ(window_.GetText(IDC_TARGET_ADDR), "1234");
    EXPECT_EQ(window_.GetText(IDC_STATUS), "连接成功！");
    EXPECT_EQ(Dialog().LocalAddress(), 0x1234);
    EXPECT_EQ(Dialog().PendingOp(), 0);
    EXPECT_FALSE(TimerRunning());
    EXPECT_TRUE(Dialog().IsConnected());
}

TEST_F(Connection, ReplyNotAddressedToTheBroadcastLeavesTheLocalAddressField) {
    StartConnect();
    pty_.Write(Reply(0x1234, 0x0001, protocol::kCmdConnectReply));
    ASSERT_TRUE(PumpUntil([&] { return LogHas("连接成功！"); }));
    EXPECT_EQ(window_.GetText(IDC_LOCAL_ADDR), "");
    EXPECT_EQ(window_.GetText(IDC_TARGET_ADDR), "1234");
    EXPECT_EQ(Dialog().LocalAddress(), 0x1234);
}

// A module address with leading zeros is shown with them and is the source of later frames.
TEST_F(Connection, LocalAddressKeepsItsLeadingZeros) {
    ConnectTo(0x00AB);
    EXPECT_EQ(window_.GetText(IDC_LOCAL_ADDR), "本机地址：00AB");
    EXPECT_EQ(window_.GetText(IDC_TARGET_ADDR), "00AB");
    window_.Click(IDC_TEST_CONNECTION);
    EXPECT_EQ(ReadFromConsole(9), Reply(0x00AB, 0x00AB, protocol::kCmdConnect));
}

TEST_F(Connection, HandshakeWithoutAnswerDisconnects) {
    StartConnect();
    std::vector<std::string> changes;
    window_.WatchChanges([&](const std::string& change) { changes.push_back(change); });
    window_.FireTimer(kReplyTimerId);
    // The box first, then the log line, then the disconnected controls.
    EXPECT_EQ(changes,
              (std::vector<std::string>{"box 连接失败!", "text 1002 \r\n12:34:56 连接失败!",
                                        "text 1009 连接红外", "icon 1011"}));
    EXPECT_EQ(window_.Control(IDC_INDICATOR).icon, IconId::kIndicatorOff);
    EXPECT_FALSE(Dialog().IsConnected());
    EXPECT_FALSE(TimerRunning());
    ASSERT_TRUE(PumpUntil([&] { return !Dialog().Channel().IsPortOpen(); }));
    window_.Type(IDC_TARGET_ADDR, "1234");
    window_.Click(IDC_TEST_CONNECTION);
    EXPECT_EQ(BoxesWithText("请先打开串口!\n"), 1u) << "the port is closed";
}

TEST_F(Connection, MissingPortSaysSoAndStaysDisconnected) {
    window_.SelectItem(IDC_PORT, 1);
    window_.Click(IDC_CONNECT);
    EXPECT_EQ(BoxesWithText("没有发现此串口或被占用"), 1u);
    EXPECT_EQ(window_.GetText(IDC_CONNECT), "连接红外");
    EXPECT_FALSE(Dialog().IsConnected());
    EXPECT_EQ(LogLines().size(), 0u);
}

TEST_F(Connection, DisconnectClosesThePortAndKeepsTheSupervision) {
    ConnectTo(0x1234);
    window_.Type(IDC_TARGET_ADDR, "00A1");
    window_.Click(IDC_TEST_CONNECTION);
    window_.Click(IDC_CONNECT);  // within the time-out
    EXPECT_EQ(window_.GetText(IDC_CONNECT), "连接红外");
    EXPECT_EQ(window_.Control(IDC_INDICATOR).icon, IconId::kIndicatorOff);
    ASSERT_TRUE(PumpUntil([&] { return !Dialog().Channel().IsPortOpen(); }));
    ASSERT_TRUE(TimerRunning());
    window_.FireTimer(kReplyTimerId);
    EXPECT_EQ(LogLines().back(), "与目标地址连接失败!");
}

TEST_F(Connection, TestWithoutAnswerTimesOutAndALateReplyKeepsTheLocalAddress) {
    ConnectTo(0x1234);
    window_.Type(IDC_TARGET_ADDR, "5678");
    window_.Click(IDC_TEST_CONNECTION);
    ASSERT_EQ(ReadFromConsole(9).size(), 9u);
    window_.FireTimer(kReplyTimerId);
    EXPECT_EQ(LogLines().back(), "与目标地址连接失败!");
    EXPECT_EQ(Dialog().PendingOp(), 1);
    EXPECT_FALSE(TimerRunning());

    window_.SetText(IDC_STATUS, "运行状态：");
    pty_.Write(Reply(0x5678, 0x1234, protocol::kCmdConnectReply));
    ASSERT_TRUE(PumpUntil([&] { return window_.GetText(IDC_STATUS) == "连接成功！"; }));
    EXPECT_EQ(window_.GetText(IDC_TARGET_ADDR), "5678");
    EXPECT_EQ(Dialog().LocalAddress(), 0x1234);
}

TEST_F(Connection, TestToTargetZeroIsRefusedButStillTimesOut) {
    ConnectTo(0x1234);
    window_.SetText(IDC_TARGET_ADDR, "0000");
    window_.Click(IDC_TEST_CONNECTION);
    EXPECT_EQ(BoxesWithText("目标地址非法!"), 1u);
    EXPECT_TRUE(pty_.ReadAvailable(30ms).empty());
    ASSERT_TRUE(TimerRunning());
    window_.FireTimer(kReplyTimerId);
    EXPECT_EQ(LogLines().back(), "与目标地址连接失败!");
}

TEST_F(Connection, TestStartedBeforeTheHandshakeReplyKeepsTheLocalAddressUnset) {
    StartConnect();
    window_.Type(IDC_TARGET_ADDR, "1234");
    window_.Click(IDC_TEST_CONNECTION);
    pty_.Write(kReplyFrom1234);
    ASSERT_TRUE(PumpUntil([&] { return LogHas("连接成功！"); }));
    EXPECT_EQ(Dialog().LocalAddress(), 0);
    EXPECT_EQ(window_.GetText(IDC_LOCAL_ADDR), "本机地址：1234");
}

// A frame cut off by a disconnect must not swallow the next connection's reply.
TEST_F(Connection, HalfAFrameBeforeADisconnectDoesNotSpoilTheNextConnect) {
    StartConnect();
    pty_.Write({0x7E, 0x05, 0x00, 0x34});
    window_.PumpUntil([] { return false; }, 30ms);
    window_.Click(IDC_CONNECT);
    ASSERT_TRUE(PumpUntil([&] { return !Dialog().Channel().IsPortOpen(); }));

    StartConnect();
    pty_.Write(kReplyFrom1234);
    EXPECT_TRUE(PumpUntil([&] { return Dialog().LocalAddress() == 0x1234; }));
}

// Faults of the line: the console ends in the right state every time.
TEST_F(Connection, ReplySplitIntoSingleBytesWithGapsAndGarbageBeforeIt) {
    StartConnect();
    std::vector<std::uint8_t> bytes = {0x00, 0x12, 0xFF};
    bytes.insert(bytes.end(), kReplyFrom1234.begin(), kReplyFrom1234.end());
    std::thread module([&] {
        for (std::uint8_t b : bytes) {
            pty_.Write({b});
            std::this_thread::sleep_for(2ms);  // the gap between bytes on a slow line
        }
    });
    EXPECT_TRUE(PumpUntil([&] { return Dialog().LocalAddress() == 0x1234; }));
    module.join();
    EXPECT_FALSE(TimerRunning());
}

// Frames the receiver drops never reach the log or a handler: a reply from 0x5678 with a
// bad checksum would otherwise end the handshake. Each is followed by a frame that is only
// logged, to know when it has passed.
TEST_F(Connection, DroppedFramesAreNeitherLoggedNorHandled) {
    StartConnect();
    auto badChecksum = Reply(0x5678, protocol::kBroadcastAddress, protocol::kCmdConnectReply);
    badChecksum.back() ^= 0x01;
    auto badChecksumIsStart = badChecksum;
    badChecksumIsStart.back() = 0x7E;
    const std::vector<std::uint8_t> badLength = {0x7E, 0x40, 0x00, 0x78, 0x56, 0xFF, 0xFF, 0x02};
    const auto logged = Reply(0x1234, protocol::kBroadcastAddress, 53);
    std::vector<std::string> expectedLog = LogLines();
    for (const auto& dropped : {badChecksum, badChecksumIsStart, badLength}) {
        pty_.Write(dropped);
        pty_.Write(logged);
        expectedLog.push_back("接收:7E 05 00 34 12 FF FF 35 FC ");
        ASSERT_TRUE(PumpUntil([&] { return LogLines().size() == expectedLog.size(); }));
    }
    EXPECT_EQ(LogLines(), expectedLog);
    EXPECT_EQ(Dialog().Receiver().BadChecksums(), 2u);
    EXPECT_EQ(Dialog().Receiver().BadLengths(), 1u);
    EXPECT_EQ(Dialog().LocalAddress(), 0);
    EXPECT_EQ(window_.GetText(IDC_TARGET_ADDR), "");
    EXPECT_TRUE(TimerRunning());

    pty_.Write(kReplyFrom1234);
    EXPECT_TRUE(PumpUntil([&] { return Dialog().LocalAddress() == 0x1234; }));
}

TEST_F(Connection, RepeatedReplyLeavesTheSameState) {
    StartConnect();
    std::vector<std::uint8_t> bytes = kReplyFrom1234;
    bytes.insert(bytes.end(), kReplyFrom1234.begin(), kReplyFrom1234.end());
    pty_.Write(bytes);
    ASSERT_TRUE(PumpUntil([&] { return Dialog().Receiver().FramesReceived() == 2; }));
    EXPECT_EQ(Dialog().LocalAddress(), 0x1234);
    EXPECT_EQ(Dialog().PendingOp(), 0);
    EXPECT_TRUE(Dialog().IsConnected());
    EXPECT_FALSE(TimerRunning());
}

// Only the handshake's own reply sets the local address: a command-2 reply handled
// after it, once PendingOp is back to 0, updates the target and the status but never the
// source of later frames. Each case connects anew, so each handshake sets it again.
TEST_F(Connection, OnlyTheHandshakeReplySetsTheLocalAddress) {
    const std::vector<std::uint8_t> fromB = Reply(0x5678, 0x1000, protocol::kCmdConnectReply);
    const struct {
        const char* name;
        bool testFirst;  // a test connection to B before B's frames come
        bool timedOut;   // and its time-out before them
        int copies;      // of B's reply
    } kCases[] = {
        {"B answers a test connection twice", true, false, 2},
        {"B's reply comes twice after the test timed out", true, true, 2},
        {"B sends a reply nobody asked for", false, false, 1},
    };
    std::uint16_t address = 0x1000;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        ConnectTo(++address);
        if (c.testFirst) {
            window_.Type(IDC_TARGET_ADDR, "5678");
            window_.Click(IDC_TEST_CONNECTION);
            ASSERT_EQ(ReadFromConsole(9).size(), 9u);
            if (c.timedOut) window_.FireTimer(kReplyTimerId);
        }
        for (int i = 0; i < c.copies; ++i) pty_.Write(fromB);
        const auto before = Dialog().Receiver().FramesReceived();
        ASSERT_TRUE(PumpUntil([&] {
            return Dialog().Receiver().FramesReceived() == before + static_cast<unsigned>(c.copies);
        }));
        EXPECT_EQ(Dialog().LocalAddress(), address);
        EXPECT_EQ(window_.GetText(IDC_TARGET_ADDR), "5678");
        EXPECT_EQ(Dialog().PendingOp(), 0);
        window_.Click(IDC_CONNECT);
    }
}

// Bytes the old monitor had read, but not yet handed over, when the operator connected
// again never reach the new connection's receiver.
TEST_F(Connection, BytesOfTheOldMonitorNeverReachTheNextConnection) {
    StartConnect();
    pty_.Write({0x7E, 0x05, 0x00, 0x34});
    // Read by the monitor, and held in its receiver: no frame has crossed yet.
    ASSERT_TRUE(test::WaitFor([&] {
        int waiting = 0;
        return ioctl(pty_.SlaveFd(), FIONREAD, &waiting) == 0 && waiting == 0;
    }));
    window_.Click(IDC_CONNECT);
    StartConnect();
    pty_.Write(kReplyFrom1234);
    ASSERT_TRUE(PumpUntil([&] { return Dialog().LocalAddress() == 0x1234; }));
    EXPECT_EQ(Dialog().Receiver().FramesReceived(), 1u);
    EXPECT_EQ(Dialog().Receiver().BadChecksums(), 0u);
}

// A delivery given up by a stopped monitor may still wait in the window's queue when the
// dialog goes; run afterwards, it must not reach the dialog (the sanitizer runs see it).
TEST_F(Connection, DeliveryLeftQueuedWhenTheDialogGoesIsDropped) {
    StartConnect();
    pty_.Write(kReplyFrom1234);
    ASSERT_TRUE(window_.WaitForDelivery(5s));
    window_.Click(IDC_CONNECT);
    ASSERT_TRUE(test::WaitFor([&] { return !Dialog().Channel().IsMonitorRunning(); }));
    dialog_.reset();
    EXPECT_EQ(window_.Pump(), 1u);
}

// The module's port goes away while connected (the pty's far side closes), before and
// after the handshake reply: the channel's one box, the window disconnected with one
// log line and no reply timer left, the monitor gone; connecting works again once a
// module is back on the port.
TEST_F(Connection, LostDeviceDisconnectsTheWindowAndConnectingAgainWorks) {
    const std::string lostLine = "串口COM3已断开：设备已拔出或线路已挂断";
    auto line = std::make_unique<test::PtyPair>();
    for (const bool answered : {true, false}) {
        SCOPED_TRACE(answered ? "handshake answered" : "handshake outstanding");
        ports_[kLinePort].devicePath = line->SlavePath();
        window_.Click(IDC_CONNECT);
        ASSERT_EQ(ReadFromConsole(*line, 9), kHandshake);
        if (answered) {
            line->Write(kReplyFrom1234);
            ASSERT_TRUE(PumpUntil([&] { return !TimerRunning(); }));
        }
        window_.ClearBoxes();

        line->CloseMaster();
        ASSERT_TRUE(PumpUntil([&] { return !Dialog().IsConnected(); }));
        Settle();
        ASSERT_EQ(window_.Boxes().size(), 1u);
        EXPECT_EQ(window_.Boxes()[0].caption, "Application Error");
        EXPECT_EQ(window_.GetText(IDC_CONNECT), "连接红外");
        EXPECT_EQ(window_.Control(IDC_INDICATOR).icon, IconId::kIndicatorOff);
        EXPECT_EQ(window_.GetText(IDC_STATUS), "运行状态：");
        EXPECT_FALSE(TimerRunning());
        EXPECT_FALSE(Dialog().Channel().IsMonitorRunning()) << "no monitor left to spin";
        const auto lines = LogLines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), lostLine), 1);
        EXPECT_EQ(lines.back(), lostLine);

        line = std::make_unique<test::PtyPair>();  // the module is back, on a new pty
        ports_[kLinePort].devicePath = line->SlavePath();
        window_.Click(IDC_CONNECT);
        ASSERT_EQ(ReadFromConsole(*line, 9), kHandshake);
        line->Write(Reply(0x4321, protocol::kBroadcastAddress, protocol::kCmdConnectReply));
        ASSERT_TRUE(PumpUntil([&] { return window_.GetText(IDC_TARGET_ADDR) == "4321"; }));
        EXPECT_TRUE(Dialog().IsConnected());
        window_.Click(IDC_CONNECT);
        window_.SetText(IDC_LOG, "");
    }
}

}  // namespace
}  // namespace orvante::ui
