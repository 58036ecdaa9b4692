// The console against the virtual module, found through the ports directory the way
// an operator finds it: by its COM number in the port list.
#include "sim/virtual_module.h"

#include <gtest/gtest.h>

#include "serial/port_list.h"
#include "tests/support/console_fixture.h"
#include "tests/support/fake_window.h"
#include "tests/support/runtime_dir.h"
#include "tests/support/sim_line.h"
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

}  // namespace
}  // namespace orvante::ui
