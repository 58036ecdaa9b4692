// The console against the virtual module, found through the ports directory the way
// an operator finds it: by its COM number in the port list.
#include "sim/virtual_module.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "serial/in_process_port.h"
#include "serial/port_list.h"
#include "tests/support/console_fixture.h"
#include "tests/support/fake_window.h"
#include "tests/support/runtime_dir.h"
#include "tests/support/sim_line.h"
#include "tests/support/temp_dir.h"
#include "ui/command_line.h"
#include "ui/console_dlg.h"

namespace orvante::ui {
namespace {

using namespace std::chrono_literals;

class VirtualModuleConsole : public ::testing::Test {
protected:
    VirtualModuleConsole() {
        window_.LoadMainTemplate();
        dialog_.OnInitDialog();
    }
    ~VirtualModuleConsole() override { window_.SetEvents(nullptr); }

    // Picks the module's port in the list, as the operator does.
    void SelectModulePort() {
        for (int i = 0; i < window_.GetCount(IDC_PORT); ++i) {
            if (serial::PortNumberFromName(window_.GetItemText(IDC_PORT, i)) ==
                line_.PortNumber()) {
                window_.SelectItem(IDC_PORT, i);
                return;
            }
        }
        FAIL() << "COM" << line_.PortNumber() << " is not in the port list";
    }
    void SetFaults(const sim::Faults& faults) {
        line_.WithModule([&](sim::VirtualModule& module) { module.SetFaults(faults); });
    }
    bool Connect() {
        SelectModulePort();
        window_.Click(IDC_CONNECT);
        return window_.PumpUntil([&] { return dialog_.LocalAddress() == 0x1234; });
    }
    std::vector<std::string> LogLines() const { return test::LogLinesOf(window_); }

    test::PrivateRuntimeDir runtimeDir_;
    test::SimLine line_;
    test::FakeWindow window_;
    CConsoleDlg dialog_{window_};
};

TEST_F(VirtualModuleConsole, ConnectingShowsTheModulesAddress) {
    ASSERT_TRUE(Connect());
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"开始连接……", "发送:7E 05 00 FF FF FF FF 01 80 ",
                                        "接收:7E 05 00 34 12 FF FF 02 C9 ", "连接成功！"}));
    EXPECT_EQ(window_.GetText(IDC_LOCAL_ADDR), "本机地址：1234");
    EXPECT_EQ(window_.GetText(IDC_TARGET_ADDR), "1234");
    EXPECT_EQ(window_.GetText(IDC_STATUS), "连接成功！");
    EXPECT_FALSE(window_.TimerPeriod(kReplyTimerId));
}

TEST_F(VirtualModuleConsole, TestConnectionReachesTheModuleAndNotAStranger) {
    ASSERT_TRUE(Connect());
    window_.Click(IDC_TEST_CONNECTION);  // the target is the module itself now
    ASSERT_TRUE(window_.PumpUntil([&] { return LogLines().size() == 8; }));
    EXPECT_EQ(LogLines()[7], "连接成功！");
    EXPECT_EQ(dialog_.PendingOp(), 0);

    window_.Type(IDC_TARGET_ADDR, "4321");
    window_.Click(IDC_TEST_CONNECTION);
    ASSERT_TRUE(line_.WaitForFramesReceived(3));
    EXPECT_FALSE(window_.PumpUntil([&] { return LogLines().size() > 10; }, 50ms));
    window_.FireTimer(kReplyTimerId);
    EXPECT_EQ(LogLines().back(), "与目标地址连接失败!");
}

TEST_F(VirtualModuleConsole, ReplyInSingleBytesWithGapsAndGarbageStillConnects) {
    sim::Faults faults;
    faults.splitSize = 1;
    faults.splitGap = 2ms;
    faults.garbage = true;
    SetFaults(faults);
    EXPECT_TRUE(Connect());
    EXPECT_FALSE(window_.TimerPeriod(kReplyTimerId));
}

TEST_F(VirtualModuleConsole, RepeatedReplyLeavesOneConnection) {
    sim::Faults faults;
    faults.repeat = 2;
    SetFaults(faults);
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(window_.PumpUntil([&] { return dialog_.Receiver().FramesReceived() == 3; }));
    EXPECT_TRUE(dialog_.IsConnected());
    EXPECT_EQ(dialog_.PendingOp(), 0);
}

TEST_F(VirtualModuleConsole, CorruptedReplyTimesOutAndTheNextConnectSucceeds) {
    sim::Faults faults;
    faults.corruptChecksum = true;
    SetFaults(faults);
    SelectModulePort();
    window_.Click(IDC_CONNECT);
    ASSERT_TRUE(window_.PumpUntil([&] { return dialog_.Receiver().BadChecksums() == 1; }));
    EXPECT_EQ(dialog_.LocalAddress(), 0);
    window_.FireTimer(kReplyTimerId);
    EXPECT_EQ(LogLines().back(), "连接失败!");
    EXPECT_FALSE(dialog_.IsConnected());
    ASSERT_TRUE(window_.PumpUntil([&] { return !dialog_.Channel().IsPortOpen(); }));

    SetFaults({});
    EXPECT_TRUE(Connect());
    EXPECT_TRUE(dialog_.IsConnected());
}

// ---- the module functions, end to end ----

class VirtualModuleFunctions : public VirtualModuleConsole {
protected:
    void SetUp() override {
        line_.WithModule([](sim::VirtualModule& module) { module.SetLearnDelay(20ms); });
        ASSERT_TRUE(Connect());
    }
    // Clicks `button` and waits for `line` to be logged after the click.
    bool ClickAndWaitFor(int button, const std::string& line) {
        const std::size_t logged = LogLines().size();
        window_.Click(button);
        return window_.PumpUntil([&] {
            const auto lines = LogLines();
            return std::find(lines.begin() + static_cast<std::ptrdiff_t>(logged), lines.end(),
                             line) != lines.end();
        });
    }
    bool Learn(const std::string& slot) {
        window_.Type(IDC_LEARN_INDEX, slot);
        return ClickAndWaitFor(IDC_LEARN, "学习成功，退出学习状态！");
    }
    bool Transmit(const std::string& slot, const std::string& result) {
        window_.Type(IDC_SEND_INDEX, slot);
        return ClickAndWaitFor(IDC_TRANSMIT, result);
    }
    // Clicks `button`, waits until the module has the request, then a moment for an
    // answer that should not come.
    void ClickAndSettle(int button) {
        std::uint64_t received = 0;
        line_.WithModule([&](sim::VirtualModule& m) { received = m.Counters().framesReceived; });
        window_.Click(button);
        ASSERT_TRUE(line_.WaitForFramesReceived(received + 1));
        window_.PumpUntil([] { return false; }, 50ms);
    }
};

TEST_F(VirtualModuleFunctions, LearnedSlotTransmitsAndAnEmptyOneFails) {
    ASSERT_TRUE(Learn("3"));
    EXPECT_EQ(window_.GetText(IDC_PULSE_COUNT), "67");  // a NEC-style code
    EXPECT_EQ(dialog_.PendingOp(), 0);
    EXPECT_TRUE(Transmit("3", "发射成功！"));
    EXPECT_TRUE(Transmit("4", "发射失败！"));
    EXPECT_FALSE(window_.TimerPeriod(kReplyTimerId));

    // Slot 40 does not fit the default library: the module captures nothing.
    const std::size_t logged = LogLines().size();
    window_.Type(IDC_LEARN_INDEX, "40");
    ClickAndSettle(IDC_LEARN);
    EXPECT_EQ(LogLines().size(), logged + 2);  // "正在学习中……" and the request
    EXPECT_EQ(dialog_.PendingOp(), 18);
    EXPECT_EQ(window_.GetText(IDC_PULSE_COUNT), "67");
}

TEST_F(VirtualModuleFunctions, SettingTheCapacityClearsLearnedSlots) {
    ASSERT_TRUE(ClickAndWaitFor(IDC_READ_PULSE_CAPACITY, "读取成功！"));
    EXPECT_EQ(window_.GetText(IDC_PULSE_CAPACITY), "100");
    ASSERT_TRUE(Learn("9"));

    window_.SetText(IDC_PULSE_CAPACITY, "400");
    ASSERT_TRUE(ClickAndWaitFor(IDC_SET_PULSE_CAPACITY, "设置波形个数成功！"));
    window_.SetText(IDC_PULSE_CAPACITY, "");
    ASSERT_TRUE(ClickAndWaitFor(IDC_READ_PULSE_CAPACITY, "读取成功！"));
    EXPECT_EQ(window_.GetText(IDC_PULSE_CAPACITY), "400");
    EXPECT_TRUE(Transmit("9", "发射失败！"));
    ASSERT_TRUE(Learn("9"));  // the last slot that fits 400 pulses
    EXPECT_TRUE(Transmit("9", "发射成功！"));
}

TEST_F(VirtualModuleFunctions, TasksAreWrittenAndReadBackIntoEveryField) {
    const int kRows[3][5] = {
        {IDC_TASK1_ENABLE, IDC_TASK1_SLOT, IDC_TASK1_PERIOD, IDC_TASK1_DELAY, IDC_TASK1_LOOPS},
        {IDC_TASK2_ENABLE, IDC_TASK2_SLOT, IDC_TASK2_PERIOD, IDC_TASK2_DELAY, IDC_TASK2_LOOPS},
        {IDC_TASK3_ENABLE, IDC_TASK3_SLOT, IDC_TASK3_PERIOD, IDC_TASK3_DELAY, IDC_TASK3_LOOPS},
    };
    // Every field its own value, so that a field read from or written to the wrong
    // control shows in the module's bytes or the read-back.
    const char* const kTyped[3][4] = {
        {"1", "2", "3", "4"}, {"5", "600", "7", "70000"}, {"9", "10", "1100", "0"}};
    const sim::TaskBytes kExpected = {1, 1, 0,    2,    0, 3, 0, 4,  0, 0,    5,    0, 0x58, 0x02,
                                      7, 0, 0x70, 0x11, 1, 9, 0, 10, 0, 0x4C, 0x04, 0, 0};
    for (int task = 0; task < 3; ++task) {
        window_.SetCheck(kRows[task][0], task != 1);
        for (int field = 0; field < 4; ++field) {
            window_.SetText(kRows[task][field + 1], kTyped[task][field]);
        }
    }
    ASSERT_TRUE(ClickAndWaitFor(IDC_SET_TASKS, "设置定时任务成功！"));
    line_.WithModule([&](sim::VirtualModule& m) { EXPECT_EQ(m.Tasks(), kExpected); });

    for (const auto& row : kRows) {
        window_.SetCheck(row[0], 0);
        for (int field = 1; field < 5; ++field) window_.SetText(row[field], "");
    }
    window_.Click(IDC_READ_TASKS);
    ASSERT_TRUE(window_.PumpUntil([&] { return window_.GetText(IDC_TASK3_LOOPS) == "0"; }));
    for (int task = 0; task < 3; ++task) {
        EXPECT_EQ(window_.GetCheck(kRows[task][0]), task != 1) << task;
        for (int field = 0; field < 4; ++field) {
            const std::string expected = task == 1 && field == 3 ? "4464" : kTyped[task][field];
            EXPECT_EQ(window_.GetText(kRows[task][field + 1]), expected) << task << field;
        }
    }
}

// orvante --demo: the built-in module is listed under its own label and selected at
// start; the window connects and exports its library as over any port, and a second
// window finds what the first one learned.
TEST(BuiltInModuleConsole, IsListedSelectedConnectedAndRemembered) {
    test::PrivateStateDir state;
    test::TempDir files;
    ConsoleCommandLine commandLine;
    commandLine.demo = "demo:library-size=250,learn-delay=0";
    std::string warning;
    ConsoleEnvironment environment;
    environment.preselectedPort = PortToSelect(commandLine, &warning);
    EXPECT_EQ(environment.preselectedPort, serial::kFirstInProcessPortNumber);
    EXPECT_EQ(warning, "");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        test::FakeWindow window;
        window.LoadMainTemplate();
        CConsoleDlg dialog(window, environment);
        dialog.OnInitDialog();
        EXPECT_EQ(window.GetText(IDC_PORT), "COM200 (内置虚拟模块)");
        window.Click(IDC_CONNECT);
        ASSERT_TRUE(window.PumpUntil([&] { return dialog.LocalAddress() == 0x1234; }));
        if (round == 0) {
            window.Type(IDC_LEARN_INDEX, "0");
            window.Click(IDC_LEARN);
            ASSERT_TRUE(window.PumpUntil(
                [&] { return test::LogLinesOf(window).back() == "学习成功，退出学习状态！"; }));
        }
        window.AnswerNextFileDialog(files.File("out.db"));
        window.Click(IDC_EXPORT_LIBRARY);
        ASSERT_TRUE(window.PumpUntil([&] { return !dialog.IsLibraryTransferActive(); }, 10s));
        EXPECT_EQ(window.GetText(IDC_STATUS_TRANSFER), "导出完成 250 字节");
        // Slot 0's record starts the library: its code marker, in both windows.
        EXPECT_EQ(test::ReadFileBytes(files.File("out.db")).at(0), sim::kCodeMarker);
        window.Click(IDC_CONNECT);  // disconnects, and the module keeps its state
        window.SetEvents(nullptr);
    }
    serial::ForgetInProcessPorts();
}

}  // namespace
}  // namespace orvante::ui
