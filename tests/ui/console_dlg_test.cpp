// The console window's logic on the in-memory window: start-up, routing, closing,
// the line settings, sending commands and dispatching replies.
#include "ui/console_dlg.h"

#include <gtest/gtest.h>

#include "protocol/commands.h"
#include "tests/support/console_fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/termios_probe.h"

namespace orvante::ui {
namespace {

using test::ConsoleFixture;
using test::Reply;

class ConsoleDialog : public ConsoleFixture {};

TEST_F(ConsoleDialog, StartsWithTheDefaults) {
    EXPECT_EQ(window_.GetCurSel(IDC_BAUD), 5);
    EXPECT_EQ(window_.GetText(IDC_BAUD), "9600");
    EXPECT_EQ(window_.GetText(IDC_PARITY), "NONE");
    EXPECT_EQ(window_.GetText(IDC_DATA_BITS), "8");
    EXPECT_EQ(window_.GetText(IDC_STOP_BITS), "1");
    for (int id : {IDC_AC_POWER, IDC_AC_MODE, IDC_AC_TEMPERATURE, IDC_AC_FAN, IDC_AC_SWING}) {
        EXPECT_EQ(window_.GetCurSel(id), 0) << id;
    }
    EXPECT_EQ(window_.GetText(IDC_AC_TEMPERATURE), "16度");
    EXPECT_EQ(window_.Control(IDC_INDICATOR).icon, IconId::kIndicatorOff);
    EXPECT_EQ(window_.Control(IDC_TARGET_ADDR).limit, 4);
    EXPECT_EQ(window_.Control(IDC_LEARN_INDEX).limit, 2);
    EXPECT_EQ(window_.Control(IDC_SEND_INDEX).limit, 2);
    EXPECT_EQ(window_.WindowIcon(), IconId::kApplication);
    ASSERT_EQ(window_.SystemMenu().size(), 2u);
    EXPECT_EQ(window_.SystemMenu()[1],
              std::make_pair(IDM_ABOUTBOX, std::string("关于 ORVANTE(&A)...")));

    EXPECT_EQ(Dialog().Port(), kLinePort);
    EXPECT_EQ(Dialog().Baud(), 9600);
    EXPECT_EQ(Dialog().Parity(), 'N');
    EXPECT_EQ(Dialog().DataBits(), 8);
    EXPECT_EQ(Dialog().StopBits(), 1);
    EXPECT_EQ(Dialog().EventMask(), 3u);
    EXPECT_FALSE(Dialog().IsConnected());
    EXPECT_FALSE(Dialog().Channel().IsPortOpen()) << "the port stays closed until connect";
    // The six bound texts were written out empty, the local-address field among them.
    EXPECT_EQ(window_.GetText(IDC_LOCAL_ADDR), "");
    EXPECT_EQ(window_.GetText(IDC_LOG), "");
    // The hidden controls stay hidden.
    for (int id : {IDC_PARITY, IDC_STOP_BITS, IDC_DATA_BITS, IDC_SHOW_ADVANCED}) {
        EXPECT_FALSE(window_.IsControlVisible(id)) << id;
    }
}

TEST_F(ConsoleDialog, TypingStopsAtTheLimits) {
    window_.Type(IDC_TARGET_ADDR, "12345");
    window_.Type(IDC_LEARN_INDEX, "123");
    window_.Type(IDC_SEND_INDEX, "999");
    EXPECT_EQ(window_.GetText(IDC_TARGET_ADDR), "1234");
    EXPECT_EQ(window_.GetText(IDC_LEARN_INDEX), "12");
    EXPECT_EQ(window_.GetText(IDC_SEND_INDEX), "99");
}

TEST(ConsolePortList, SortsByCharactersAndTakesTheFirstPort) {
    test::FakeWindow window;
    window.LoadMainTemplate();
    ConsoleEnvironment environment;
    environment.scanPorts = [] {
        return serial::DeviceMap{{1, {"/dev/ttyS0", "ttyS0"}},
                                 {2, {"/dev/ttyS1", "ttyS1"}},
                                 {10, {"/dev/ttyS9", "ttyS9"}}};
    };
    CConsoleDlg dialog(window, environment);
    dialog.OnInitDialog();
    EXPECT_EQ(window.GetItemText(IDC_PORT, 0), "COM1 (ttyS0)");
    EXPECT_EQ(window.GetItemText(IDC_PORT, 1), "COM10 (ttyS9)");
    EXPECT_EQ(window.GetItemText(IDC_PORT, 2), "COM2 (ttyS1)");
    EXPECT_EQ(dialog.Port(), 1);
}

TEST(ConsolePortList, PortGivenOnTheCommandLineIsSelectedWhenListed) {
    for (const auto& [given, selected] : {std::pair{10, 10}, std::pair{7, 1}}) {
        test::FakeWindow window;
        window.LoadMainTemplate();
        ConsoleEnvironment environment;
        environment.scanPorts = [] {
            return serial::DeviceMap{{1, {"/dev/ttyS0", "ttyS0"}}, {10, {"/dev/ttyS9", "ttyS9"}}};
        };
        environment.preselectedPort = given;
        CConsoleDlg dialog(window, environment);
        dialog.OnInitDialog();
        EXPECT_EQ(dialog.Port(), selected) << given;
        EXPECT_EQ(serial::PortNumberFromName(window.GetText(IDC_PORT)), selected) << given;
    }
}

TEST(ConsolePortList, NoPortsGivesAnEmptyListAndPortZero) {
    test::FakeWindow window;
    window.LoadMainTemplate();
    ConsoleEnvironment environment;
    environment.scanPorts = [] { return serial::DeviceMap{}; };
    CConsoleDlg dialog(window, environment);
    dialog.OnInitDialog();
    EXPECT_EQ(window.GetCount(IDC_PORT), 0);
    EXPECT_EQ(dialog.Port(), 0);
    window.Click(IDC_CONNECT);
    EXPECT_EQ(window.Boxes().back().text, "没有发现此串口或被占用");
}

TEST_F(ConsoleDialog, EnterNeverClosesAndClosingAsksFirst) {
    window_.Type(IDC_TARGET_ADDR, "12");
    Dialog().OnOK();
    EXPECT_FALSE(window_.EndResult());
    EXPECT_TRUE(window_.Boxes().empty());

    ConnectTo(0x1234);
    window_.AnswerNextBox(IDNO);
    Dialog().OnCancel();
    ASSERT_EQ(window_.Boxes().back().text, "确定退出软件？");
    EXPECT_EQ(window_.Boxes().back().buttons, BoxButtons::kYesNo);
    EXPECT_FALSE(window_.EndResult()) << "No keeps the window";
    EXPECT_TRUE(Dialog().Channel().IsPortOpen()) << "and the open port";
    EXPECT_TRUE(Dialog().IsConnected());

    window_.AnswerNextBox(IDYES);
    Dialog().OnCancel();
    EXPECT_EQ(window_.EndResult(), IDCANCEL);
}

TEST_F(ConsoleDialog, WindowMenuCommandsOpenTheAboutBoxAfterMasking) {
    for (unsigned command : {0x0010u, 0x0015u, 0x001Fu}) Dialog().OnSysCommand(command);
    Dialog().OnSysCommand(0x0020);
    Dialog().OnHelp();  // F1
    EXPECT_EQ(window_.DialogsRun(), std::vector<int>(4, IDD_ABOUTBOX));
}

TEST_F(ConsoleDialog, ButtonsWithoutAFunctionDoNothing) {
    for (int id : {IDC_IO1_SET, IDC_RAW_LEARN}) window_.Click(id);
    EXPECT_TRUE(window_.Boxes().empty());
    EXPECT_EQ(window_.GetText(IDC_LOG), "");
}

// The bound texts go back as they were read; the log keeps what came since.
TEST_F(ConsoleDialog, DataExchangePutsBackTheTextsReadLast) {
    Dialog().LogEvent("first");
    Dialog().UpdateData(true);
    Dialog().LogEvent("second");
    const std::string logNow = window_.GetText(IDC_LOG);
    window_.SetText(IDC_LOCAL_ADDR, "changed");
    Dialog().UpdateData(false);
    EXPECT_EQ(window_.GetText(IDC_LOG), logNow);
    EXPECT_EQ(window_.GetText(IDC_LOCAL_ADDR), "");
}

// ---- sending -------------------------------------------------------------------

TEST_F(ConsoleDialog, TestConnectionFrameGoesFromTheLocalAddressToTheTypedTarget) {
    ConnectTo(0x0001);
    window_.Type(IDC_TARGET_ADDR, "1234");
    window_.Click(IDC_TEST_CONNECTION);
    EXPECT_EQ(ReadFromConsole(9),
              (std::vector<std::uint8_t>{0x7E, 0x05, 0x00, 0x01, 0x00, 0x34, 0x12, 0x01, 0xCB}));
    EXPECT_EQ(LogLines().back(), "发送:7E 05 00 01 00 34 12 01 CB ");
}

TEST_F(ConsoleDialog, SendCommandUpperCasesTheTargetAndFramesItLittleEndian) {
    ConnectTo(0x1234);
    window_.Type(IDC_TARGET_ADDR, "00a1");
    Dialog().SendCommand(protocol::kCmdReadPulseCapacity, nullptr, 0);
    EXPECT_EQ(ReadFromConsole(9),
              (std::vector<std::uint8_t>{0x7E, 0x05, 0x00, 0x34, 0x12, 0xA1, 0x00, 0x11, 0x7B}));
    Dialog().UpdateData(false);
    EXPECT_EQ(window_.GetText(IDC_TARGET_ADDR), "00A1");

    std::vector<std::uint8_t> payload(27, 0x7E);
    Dialog().SendCommand(protocol::kCmdSetTimedTasks, payload.data(), 27);
    const auto frame = ReadFromConsole(36);
    ASSERT_EQ(frame.size(), 36u);
    EXPECT_EQ(frame[1], 0x20);
    EXPECT_EQ(frame[2], 0x00);
    EXPECT_EQ(frame[8], 0x7E) << "sent as it is, without escaping";
}

TEST_F(ConsoleDialog, RefusedTargetsGiveTheBoxAndNoFrameAndNoLogLine) {
    ConnectTo(0x1234);
    const auto logBefore = LogLines();
    for (const char* target : {"", "0", "0000", "1G", " 12", "12 "}) {
        window_.ClearBoxes();
        window_.SetText(IDC_TARGET_ADDR, target);
        Dialog().SendCommand(protocol::kCmdReadPulseCapacity, nullptr, 0);
        EXPECT_EQ(BoxesWithText("目标地址非法!"), 1u) << "'" << target << "'";
    }
    EXPECT_TRUE(pty_.ReadAvailable(std::chrono::milliseconds(30)).empty());
    EXPECT_EQ(LogLines(), logBefore);
}

TEST_F(ConsoleDialog, FrameSentWithThePortClosedIsStillLoggedAfterTheChannelsBox) {
    window_.Type(IDC_TARGET_ADDR, "1234");
    Dialog().SendCommand(protocol::kCmdReadPulseCapacity, nullptr, 0);
    EXPECT_EQ(BoxesWithText("请先打开串口!\n"), 1u);
    EXPECT_EQ(LogLines().back(), "发送:7E 05 00 00 00 34 12 11 DA ")
        << "the source is 0 before any handshake";
}

// ---- receiving -----------------------------------------------------------------

TEST_F(ConsoleDialog, EveryFrameIsLoggedAndOnlyKnownRepliesAreHandled) {
    ConnectTo(0x1234);
    const auto linesBefore = LogLines().size();
    for (std::uint8_t command : {1, 18, 53}) {
        pty_.Write(Reply(0x1234, 0xFFFF, command));
    }
    ASSERT_TRUE(PumpUntil([&] { return LogLines().size() == linesBefore + 3; }));
    EXPECT_EQ(LogLines().back(), "接收:7E 05 00 34 12 FF FF 35 FC ");
}

TEST_F(ConsoleDialog, ReplyTooShortForItsHandlerIsLoggedAndIgnored) {
    ConnectTo(0x1234);
    window_.Type(IDC_TARGET_ADDR, "4321");
    window_.Click(IDC_TEST_CONNECTION);
    ASSERT_EQ(ReadFromConsole(9).size(), 9u);
    // LEN 4: source and destination but no command byte.
    const std::vector<std::uint8_t> shortFrame = {0x7E, 0x04, 0x00, 0x21, 0x43, 0xFF, 0xFF, 0xE4};
    pty_.Write(shortFrame);
    ASSERT_TRUE(PumpUntil([&] { return LogHas("接收:7E 04 00 21 43 FF FF E4 "); }));
    EXPECT_EQ(Dialog().PendingOp(), 1) << "no handler, no end of supervision";
    EXPECT_TRUE(window_.TimerPeriod(kReplyTimerId));
}

// ---- line settings -------------------------------------------------------------

TEST_F(ConsoleDialog, BaudChoiceIsRecordedAndUsedAtTheNextConnect) {
    window_.SelectItem(IDC_BAUD, 12);
    EXPECT_EQ(Dialog().Baud(), 230400);
    window_.SelectItem(IDC_BAUD, 8);
    EXPECT_EQ(Dialog().Baud(), 43000);
    EXPECT_FALSE(Dialog().Channel().IsPortOpen());
    ConnectTo(0x1234);
    test::ProbedTermios seen{};
    ASSERT_TRUE(test::ProbeTermios(pty_.SlaveFd(), &seen));
    EXPECT_EQ(seen.ospeed, 43000u);
}

// Another port chosen while connected: the window disconnects as for a lost device, and
// no "连接失败!" follows a change made before the handshake's answer.
TEST_F(ConsoleDialog, PortChangeWhileConnectedDisconnects) {
    for (const bool answered : {true, false}) {
        SCOPED_TRACE(answered);
        if (answered) {
            ConnectTo(0x1234);
        } else {
            window_.Click(IDC_CONNECT);
        }
        window_.SelectItem(IDC_PORT, 1);
        EXPECT_EQ(Dialog().Port(), kLinePort + 1);
        ASSERT_TRUE(PumpUntil([&] { return !Dialog().Channel().IsPortOpen(); }));
        EXPECT_FALSE(Dialog().IsConnected());
        EXPECT_EQ(window_.GetText(IDC_CONNECT), "连接红外");
        EXPECT_EQ(window_.GetText(IDC_STATUS), "运行状态：");
        EXPECT_EQ(window_.Control(IDC_INDICATOR).icon, IconId::kIndicatorOff);
        EXPECT_TRUE(LogHas("串口COM" + std::to_string(kLinePort) + "已关闭：已选择其他串口"));
        EXPECT_FALSE(window_.TimerPeriod(kReplyTimerId).has_value());
        EXPECT_TRUE(window_.Boxes().empty());
        window_.SelectItem(IDC_PORT, 0);
    }
}

TEST_F(ConsoleDialog, HiddenSettingWhileConnectedReopensWithoutAMonitor) {
    ConnectTo(0x1234);
    window_.SelectItem(IDC_STOP_BITS, 1);
    EXPECT_EQ(Dialog().StopBits(), 2);
    EXPECT_TRUE(Dialog().Channel().IsPortOpen());
    EXPECT_FALSE(Dialog().Channel().IsMonitorRunning());
    EXPECT_EQ(window_.Control(IDC_INDICATOR).icon, IconId::kIndicatorOff);
    test::ProbedTermios seen{};
    ASSERT_TRUE(test::ProbeTermios(pty_.SlaveFd(), &seen));
    EXPECT_TRUE(seen.cflag & 0100) << "CSTOPB";
}

TEST_F(ConsoleDialog, HiddenSettingWhileDisconnectedOpensAndMonitorsWithoutAHandshake) {
    window_.SelectItem(IDC_PARITY, 2);
    EXPECT_EQ(Dialog().Parity(), 'E');
    EXPECT_TRUE(Dialog().Channel().IsMonitorRunning());
    EXPECT_EQ(window_.Control(IDC_INDICATOR).icon, IconId::kIndicatorOn);
    EXPECT_FALSE(Dialog().IsConnected());
    EXPECT_TRUE(pty_.ReadAvailable(std::chrono::milliseconds(30)).empty());
    EXPECT_EQ(LogLines().size(), 0u);
    // Received bytes reach the receiver all the same.
    pty_.Write(Reply(0x1234, 0xFFFF, 53));
    EXPECT_TRUE(PumpUntil([&] { return LogHas("接收:7E 05 00 34 12 FF FF 35 FC "); }));
}

TEST_F(ConsoleDialog, HiddenSettingOnAMissingPortSaysSo) {
    window_.SelectItem(IDC_PORT, 1);  // the port that cannot be opened
    window_.SelectItem(IDC_DATA_BITS, 1);
    EXPECT_EQ(Dialog().DataBits(), 7);
    EXPECT_EQ(BoxesWithText("没有成功，请重试"), 1u);
    EXPECT_EQ(window_.Control(IDC_INDICATOR).icon, IconId::kIndicatorOff);
}

// Opening the port list fills it anew from the machine, one step after the other; the
// selection and m_nPort stay consistent, and nothing else changes: no box, no log line,
// no touch on the channel.
// The list is filled anew when opened, and its selection never moves on its own: a
// port that has gone stays selected with its last text until its number is back.
TEST_F(ConsoleDialog, OpeningThePortListRefreshesIt) {
    const serial::PortEntry line = ports_.at(kLinePort);
    const serial::PortEntry gone = ports_.at(kLinePort + 1);
    const serial::PortEntry added{"/nonexistent/new", "new"};
    const serial::PortEntry back{line.devicePath, "back"};
    enum class Action { kNone, kConnect, kDisconnect, kUnselect };
    const struct {
        const char* name;
        Action action;
        serial::DeviceMap ports;
        std::vector<std::string> items;
        int port;  // selected, and m_nPort
    } kSteps[] = {
        {"a port added after start appears",
         Action::kNone,
         {{3, line}, {4, gone}, {7, added}},
         {"COM3 (pty)", "COM4 (gone)", "COM7 (new)"},
         3},
        {"while connected, the connected port stays though it has gone",
         Action::kConnect,
         {{4, gone}, {7, added}},
         {"COM3 (pty)", "COM4 (gone)", "COM7 (new)"},
         3},
        {"after the disconnect it stays selected",
         Action::kDisconnect,
         {{4, gone}, {7, added}},
         {"COM3 (pty)", "COM4 (gone)", "COM7 (new)"},
         3},
        {"back again, it takes its new text",
         Action::kNone,
         {{3, back}, {7, added}},
         {"COM3 (back)", "COM7 (new)"},
         3},
        {"the last port goes", Action::kNone, {}, {"COM3 (back)"}, 3},
        {"with nothing selected, the first port that appears is taken",
         Action::kUnselect,
         {{7, added}, {9, gone}},
         {"COM7 (new)", "COM9 (gone)"},
         7},
    };
    for (const auto& step : kSteps) {
        SCOPED_TRACE(step.name);
        if (step.action == Action::kConnect) ConnectTo(0x1234);
        if (step.action == Action::kDisconnect) window_.Click(IDC_CONNECT);
        if (step.action == Action::kUnselect) {
            window_.ResetContent(IDC_PORT);
            window_.SetCurSel(IDC_PORT, -1);
        }
        const auto logLines = LogLines().size();
        ports_ = step.ports;
        window_.OpenList(IDC_PORT);
        EXPECT_EQ(window_.Control(IDC_PORT).items, step.items);
        EXPECT_EQ(serial::PortNumberFromName(window_.GetText(IDC_PORT)), step.port);
        EXPECT_EQ(Dialog().Port(), step.port);
        EXPECT_TRUE(!Dialog().IsConnected() || Dialog().Channel().IsMonitorRunning());
        EXPECT_EQ(LogLines().size(), logLines);
        EXPECT_TRUE(window_.Boxes().empty());
    }
}

// The log's context menu saves the whole log as UTF-8 text (a line an entry), says so
// in the log, and empties it; a file that cannot be written is said in a box.
TEST_F(ConsoleDialog, TheLogsMenuSavesAndClearsTheLog) {
    ASSERT_EQ(window_.EditMenu().size(), 2u);
    EXPECT_EQ(window_.EditMenu()[0].text, "保存日志…");
    EXPECT_EQ(window_.EditMenu()[1].text, "清空日志");
    test::TempDir dir;
    ConnectTo(0x1234);
    const auto lines = LogLines();
    ASSERT_FALSE(lines.empty());
    std::string expected;
    for (const std::string& line : lines)
        expected += "12:34:56 " + line + "\r\n";  // the fixture's clock

    window_.AnswerNextFileDialog(dir.File("日志.txt"));
    window_.ChooseEditMenuItem(IDC_LOG, IDM_LOG_SAVE);
    ASSERT_EQ(window_.FileDialogs().size(), 1u);
    EXPECT_TRUE(window_.FileDialogs()[0].save);
    EXPECT_EQ(window_.FileDialogs()[0].options.defaultSuffix, "txt");
    const auto saved = test::ReadFileBytes(dir.File("日志.txt"));
    EXPECT_EQ(std::string(saved.begin(), saved.end()), expected);
    // The log says where it went, after what the file holds.
    EXPECT_EQ(LogLines().back(), "日志已保存到" + dir.File("日志.txt"));

    const std::size_t linesBefore = LogLines().size();
    window_.AnswerNextFileDialog(dir.File("missing/日志.txt"));
    window_.ChooseEditMenuItem(IDC_LOG, IDM_LOG_SAVE);
    ASSERT_EQ(window_.Boxes().size(), 1u);
    EXPECT_EQ(window_.Boxes()[0].text.rfind("无法保存日志到文件", 0), 0u);
    EXPECT_EQ(LogLines().size(), linesBefore);

    window_.ChooseEditMenuItem(IDC_LOG, IDM_LOG_CLEAR);
    EXPECT_EQ(window_.GetText(IDC_LOG), "");
}

}  // namespace
}  // namespace orvante::ui
