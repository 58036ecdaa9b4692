// The module functions in the console: what each reply does to the log, the controls and
// the supervision, what the buttons refuse, and what happens when no answer comes. The
// test plays the module on the far end of a pseudo-terminal.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "tests/support/console_fixture.h"

namespace orvante::ui {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kModule = 0x1234;

class ModuleFunctions : public test::ConsoleFixture {
protected:
    void SetUp() override { ConnectTo(kModule); }

    bool TimerRunning() const { return window_.TimerPeriod(kReplyTimerId).has_value(); }

    // A test connection left waiting (PendingOp 1, reply timer running), so that a reply
    // that wrongly ends the supervision, or wrongly leaves it, shows.
    void StartPendingTest() {
        window_.Click(IDC_TEST_CONNECTION);
        ASSERT_EQ(ReadFromConsole(9).size(), 9u);
        ASSERT_EQ(Dialog().PendingOp(), 1);
        ASSERT_TRUE(TimerRunning());
    }

    // The module's reply; returns once the console has received it.
    void Receive(std::uint8_t command, const Bytes& payload) {
        const std::uint64_t before = Dialog().Receiver().FramesReceived();
        pty_.Write(test::Reply(kModule, kModule, command, payload));
        ASSERT_TRUE(PumpUntil([&] { return Dialog().Receiver().FramesReceived() > before; }));
    }

    std::vector<std::string> LogLinesFrom(std::size_t first) const {
        const auto lines = LogLines();
        return {lines.begin() + static_cast<std::ptrdiff_t>(first), lines.end()};
    }
};

// The controls the replies write, as shown: an edit's or a static's text, a check box's
// "on" or "off".
const int kWritten[] = {IDC_PULSE_CAPACITY, IDC_PULSE_COUNT,  IDC_TASK1_ENABLE, IDC_TASK1_SLOT,
                        IDC_TASK1_PERIOD,   IDC_TASK1_DELAY,  IDC_TASK1_LOOPS,  IDC_TASK2_ENABLE,
                        IDC_TASK2_SLOT,     IDC_TASK2_PERIOD, IDC_TASK2_DELAY,  IDC_TASK2_LOOPS,
                        IDC_TASK3_ENABLE,   IDC_TASK3_SLOT,   IDC_TASK3_PERIOD, IDC_TASK3_DELAY,
                        IDC_TASK3_LOOPS};

bool IsCheckBox(int id) {
    return id == IDC_TASK1_ENABLE || id == IDC_TASK2_ENABLE || id == IDC_TASK3_ENABLE;
}

TEST_F(ModuleFunctions, RepliesLogWriteTheirControlsAndEndSupervisionOrNot) {
    const Bytes tasks = {0x03, 0x05, 0x00, 0x0A, 0x00, 0x02, 0x00, 0x00, 0x00,   // on: bit 0
                         0x02, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00, 0x70, 0x11,   // off: bit 0
                         0x01, 0x64, 0x00, 0xA0, 0x05, 0x00, 0x00, 0xFF, 0xFF};  // on
    const std::map<int, std::string> taskFields = {
        {IDC_TASK1_ENABLE, "on"},   {IDC_TASK1_SLOT, "5"},    {IDC_TASK1_PERIOD, "10"},
        {IDC_TASK1_DELAY, "2"},     {IDC_TASK1_LOOPS, "0"},   {IDC_TASK2_ENABLE, "off"},
        {IDC_TASK2_SLOT, "65535"},  {IDC_TASK2_PERIOD, "1"},  {IDC_TASK2_DELAY, "0"},
        {IDC_TASK2_LOOPS, "4464"},  {IDC_TASK3_ENABLE, "on"}, {IDC_TASK3_SLOT, "100"},
        {IDC_TASK3_PERIOD, "1440"}, {IDC_TASK3_DELAY, "0"},   {IDC_TASK3_LOOPS, "65535"}};
    const Bytes shortTasks(tasks.begin(), tasks.end() - 1);
    const char* const kLearned = "学习成功，退出学习状态！";
    const struct {
        std::uint8_t command;
        Bytes payload;
        const char* line;  // after the receive line; "" for none
        std::map<int, std::string> written;
        bool endsSupervision;
    } kCases[] = {
        {16, {0x00, 0x2C, 0x01}, "设置波形个数成功！", {}, true},
        {17, {0x00, 0x2C, 0x01}, "读取成功！", {{IDC_PULSE_CAPACITY, "300"}}, true},
        {17, {0x00, 0x2C}, "", {}, false},  // one byte short
        {19, {0x03, 0x00, 0x01, 0xC8, 0x00}, kLearned, {{IDC_PULSE_COUNT, "100"}}, true},
        {19, {0, 0, 0, 0x01, 0x00}, kLearned, {{IDC_PULSE_COUNT, "0"}}, true},
        {19, {0, 0, 0, 0xFF, 0xFF}, kLearned, {{IDC_PULSE_COUNT, "32767"}}, true},
        {19, {0, 0, 0, 0xC8}, "", {}, false},
        {21, {0x03, 0x00, 0x01}, "发射成功！", {}, true},
        {21, {0x03, 0x00, 0x00}, "发射失败！", {}, true},
        {21, {0x03, 0x00, 0x02}, "发射失败！", {}, true},
        {21, {0x03, 0x00}, "", {}, false},
        {23, tasks, "", taskFields, false},
        {23, shortTasks, "", {}, false},
        {25, {0x01}, "设置定时任务成功！", {}, true},
        {27, {0x01, 0x02, 0x00}, "发射失败！", {}, false},
    };
    const auto shown = [&](int id) {
        if (IsCheckBox(id)) return std::string(window_.GetCheck(id) ? "on" : "off");
        return window_.GetText(id);
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << int{c.command} << " with " << c.payload.size());
        for (int id : kWritten) {
            IsCheckBox(id) ? window_.SetCheck(id, id == IDC_TASK1_ENABLE ? 0 : 1)
                           : window_.SetText(id, "-");
        }
        std::map<int, std::string> expected;
        for (int id : kWritten) expected[id] = shown(id);
        for (const auto& [id, text] : c.written) expected[id] = text;
        StartPendingTest();
        const std::size_t logged = LogLines().size();

        Receive(c.command, c.payload);

        std::vector<std::string> lines = LogLinesFrom(logged);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].rfind("接收:", 0), 0u);
        lines.erase(lines.begin());
        EXPECT_EQ(lines, *c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
        for (int id : kWritten) EXPECT_EQ(shown(id), expected[id]) << id;
        EXPECT_EQ(Dialog().PendingOp(), c.endsSupervision ? 0 : 1);
        EXPECT_EQ(TimerRunning(), !c.endsSupervision);
    }
    EXPECT_TRUE(window_.Boxes().empty());
}

TEST_F(ModuleFunctions, RefusedFieldsAndADeclinedQuestionSendNothing) {
    const char* const kQuestion = "设置后会清除已学习功能，确认需要设置？";
    const char* const kSlotRange = "序号超范围!";
    const char* const kCapacityRange = "个数请设置1~400的值!";
    const struct {
        int button;
        int edit;
        const char* text;  // set as if pasted, past the edit's limit
        int answer;        // to the first box
        const char* refusal;
        int pendingOp;
    } kCases[] = {
        {IDC_LEARN, IDC_LEARN_INDEX, "-1", IDOK, kSlotRange, 18},
        {IDC_LEARN, IDC_LEARN_INDEX, "101", IDOK, kSlotRange, 18},
        {IDC_LEARN, IDC_LEARN_INDEX, "", IDOK, kSlotRange, 18},  // not slot 0
        {IDC_TRANSMIT, IDC_SEND_INDEX, " ", IDOK, kSlotRange, 20},
        {IDC_TRANSMIT, IDC_SEND_INDEX, "-1", IDOK, kSlotRange, 20},
        {IDC_RAW_SEND, IDC_SEND_INDEX, "101", IDOK, kSlotRange, 20},
        {IDC_SET_PULSE_CAPACITY, IDC_PULSE_CAPACITY, "0", IDYES, kCapacityRange, 16},
        {IDC_SET_PULSE_CAPACITY, IDC_PULSE_CAPACITY, "401", IDYES, kCapacityRange, 16},
        // 1 once wrapped to 32 bits, as atoi would
        {IDC_SET_PULSE_CAPACITY, IDC_PULSE_CAPACITY, "4294967297", IDYES, kCapacityRange, 16},
        {IDC_SET_PULSE_CAPACITY, IDC_PULSE_CAPACITY, "300", IDNO, nullptr, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.button << " with " << c.text);
        Receive(protocol::kCmdSetTimedTasksReply, {});  // back to PendingOp 0
        window_.ClearBoxes();
        const std::size_t logged = LogLines().size();
        window_.SetText(c.edit, c.text);
        window_.AnswerNextBox(c.answer);

        window_.Click(c.button);

        std::vector<std::string> expected, boxes;
        if (c.button == IDC_SET_PULSE_CAPACITY) expected.push_back(kQuestion);
        if (c.refusal) expected.push_back(c.refusal);
        for (const auto& box : window_.Boxes()) boxes.push_back(box.text);
        EXPECT_EQ(boxes, expected);
        EXPECT_EQ(Dialog().PendingOp(), c.pendingOp);
        EXPECT_FALSE(TimerRunning());
        EXPECT_EQ(LogLines().size(), logged);
        EXPECT_TRUE(pty_.ReadAvailable(20ms).empty());
    }
}

TEST_F(ModuleFunctions, TransmitWithoutAnswerReportsASendFailure) {
    const struct {
        const char* what;
        int button;
        const char* target;
        std::size_t boxes;  // "目标地址非法!"
    } kCases[] = {
        {"first button", IDC_TRANSMIT, "1234", 0},
        {"second button", IDC_RAW_SEND, "1234", 0},
        {"refused target", IDC_TRANSMIT, "0000", 1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        window_.ClearBoxes();
        window_.SetText(IDC_TARGET_ADDR, c.target);
        window_.Type(IDC_SEND_INDEX, "25");
        window_.Click(c.button);
        const Bytes frame = c.boxes == 0 ? ReadFromConsole(11) : pty_.ReadAvailable(20ms);
        EXPECT_EQ(frame, c.boxes == 0
                             ? test::Reply(kModule, 0x1234, protocol::kCmdTransmit, {0x19, 0x00})
                             : Bytes{});
        EXPECT_EQ(BoxesWithText("目标地址非法!"), c.boxes);
        EXPECT_EQ(LogLines().back().rfind(c.boxes == 0 ? "发送:" : "开始发射……", 0), 0u);
        EXPECT_EQ(window_.TimerPeriod(kReplyTimerId), 3000);

        window_.FireTimer(kReplyTimerId);
        EXPECT_EQ(LogLines().back(), "发送失败!");
        EXPECT_EQ(Dialog().PendingOp(), 20);
        EXPECT_FALSE(TimerRunning());
    }
}

// Learn and the capacity requests arm no timer; an earlier request's timer that expires
// while they wait reports nothing.
TEST_F(ModuleFunctions, UntimedRequestsReportNothingWhenNoAnswerComes) {
    const struct {
        const char* what;
        int button;
        std::size_t frameSize;
        int pendingOp;
    } kCases[] = {
        {"learn", IDC_LEARN, 11, 18},
        {"read capacity", IDC_READ_PULSE_CAPACITY, 9, 17},
        {"set capacity", IDC_SET_PULSE_CAPACITY, 12, 16},
    };
    window_.Type(IDC_LEARN_INDEX, "3");
    window_.SetText(IDC_PULSE_CAPACITY, "200");
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        window_.Click(c.button);
        EXPECT_EQ(ReadFromConsole(c.frameSize).size(), c.frameSize);
        EXPECT_FALSE(TimerRunning());

        StartPendingTest();
        window_.Click(c.button);
        EXPECT_EQ(ReadFromConsole(c.frameSize).size(), c.frameSize);
        const std::size_t logged = LogLines().size();
        window_.FireTimer(kReplyTimerId);
        EXPECT_EQ(LogLines().size(), logged);
        EXPECT_EQ(Dialog().PendingOp(), c.pendingOp);
        EXPECT_FALSE(TimerRunning());
    }
}

// Tasks and air-conditioner codes are not supervised: they leave a pending request alone.
TEST_F(ModuleFunctions, TaskAndAirConditionerRequestsLeaveTheSupervisionAlone) {
    window_.Type(IDC_AC_BRAND, "258");
    for (const auto& [list, index] : {std::pair{IDC_AC_POWER, 1},
                                      {IDC_AC_MODE, 4},
                                      {IDC_AC_TEMPERATURE, 14},
                                      {IDC_AC_FAN, 5},
                                      {IDC_AC_SWING, 2}}) {
        window_.SelectItem(list, index);
    }
    const struct {
        int button;
        std::uint8_t command;
        Bytes payload;
    } kCases[] = {
        {IDC_SET_TASKS, protocol::kCmdSetTimedTasks, Bytes(27, 0)},
        {IDC_READ_TASKS, protocol::kCmdReadTimedTasks, {}},
        {IDC_AC_SEND, protocol::kCmdSendAcCode, {0x01, 0x02, 1, 4, 30, 5, 2}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.button);
        StartPendingTest();
        window_.Click(c.button);
        const Bytes expected = test::Reply(kModule, kModule, c.command, c.payload);
        EXPECT_EQ(ReadFromConsole(expected.size()), expected);
        EXPECT_EQ(Dialog().PendingOp(), 1);
        EXPECT_EQ(window_.TimerPeriod(kReplyTimerId), 3000);
    }
}

}  // namespace
}  // namespace orvante::ui
