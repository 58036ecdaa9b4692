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

// The edits and check boxes the replies write, in task order: enabled, slot, period,
// start delay, loop count.
const int kTaskControls[3][5] = {
    {IDC_TASK1_ENABLE, IDC_TASK1_SLOT, IDC_TASK1_PERIOD, IDC_TASK1_DELAY, IDC_TASK1_LOOPS},
    {IDC_TASK2_ENABLE, IDC_TASK2_SLOT, IDC_TASK2_PERIOD, IDC_TASK2_DELAY, IDC_TASK2_LOOPS},
    {IDC_TASK3_ENABLE, IDC_TASK3_SLOT, IDC_TASK3_PERIOD, IDC_TASK3_DELAY, IDC_TASK3_LOOPS},
};

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

// What the replies write: the texts are "-" and the boxes 0 1 1 unless a case says
// otherwise.
struct DispatchCase {
    const char* what;
    std::uint8_t command;
    Bytes payload;
    std::vector<std::string> lines;  // after the receive line
    std::map<int, std::string> texts;
    std::map<int, int> checks;
    bool endsSupervision;
};

TEST_F(ModuleFunctions, RepliesLogWriteTheirControlsAndEndSupervisionOrNot) {
    Bytes tasks = {0x03, 0x05, 0x00, 0x0A, 0x00, 0x02, 0x00, 0x00, 0x00,   // on by bit 0
                   0x02, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00, 0x70, 0x11,   // off: bit 0 clear
                   0x00, 0x64, 0x00, 0xA0, 0x05, 0x00, 0x00, 0xFF, 0xFF};  // off
    const std::map<int, std::string> taskTexts = {
        {IDC_TASK1_SLOT, "5"},      {IDC_TASK1_PERIOD, "10"},  {IDC_TASK1_DELAY, "2"},
        {IDC_TASK1_LOOPS, "0"},     {IDC_TASK2_SLOT, "65535"}, {IDC_TASK2_PERIOD, "1"},
        {IDC_TASK2_DELAY, "0"},     {IDC_TASK2_LOOPS, "4464"}, {IDC_TASK3_SLOT, "100"},
        {IDC_TASK3_PERIOD, "1440"}, {IDC_TASK3_DELAY, "0"},    {IDC_TASK3_LOOPS, "65535"},
    };
    const DispatchCase kCases[] = {
        {"set capacity", 16, {0x00, 0x2C, 0x01}, {"设置波形个数成功！"}, {}, {}, true},
        {"read capacity",
         17,
         {0x00, 0x2C, 0x01},
         {"读取成功！"},
         {{IDC_PULSE_CAPACITY, "300"}},
         {},
         true},
        {"read capacity, one byte short", 17, {0x00, 0x2C}, {}, {}, {}, false},
        {"learn result",
         19,
         {0x03, 0x00, 0x01, 0xC8, 0x00},
         {"学习成功，退出学习状态！"},
         {{IDC_PULSE_COUNT, "100"}},
         {},
         true},
        {"learn result, count 1",
         19,
         {0, 0, 0, 0x01, 0x00},
         {"学习成功，退出学习状态！"},
         {{IDC_PULSE_COUNT, "0"}},
         {},
         true},
        {"learn result, count FFFF",
         19,
         {0, 0, 0, 0xFF, 0xFF},
         {"学习成功，退出学习状态！"},
         {{IDC_PULSE_COUNT, "32767"}},
         {},
         true},
        {"learn result, one byte short", 19, {0, 0, 0, 0xC8}, {}, {}, {}, false},
        {"transmit sent", 21, {0x03, 0x00, 0x01}, {"发射成功！"}, {}, {}, true},
        {"transmit status 0", 21, {0x03, 0x00, 0x00}, {"发射失败！"}, {}, {}, true},
        {"transmit status 2", 21, {0x03, 0x00, 0x02}, {"发射失败！"}, {}, {}, true},
        {"transmit, one byte short", 21, {0x03, 0x00}, {}, {}, {}, false},
        {"read tasks",
         23,
         tasks,
         {},
         taskTexts,
         {{IDC_TASK1_ENABLE, 1}, {IDC_TASK2_ENABLE, 0}, {IDC_TASK3_ENABLE, 0}},
         false},
        {"read tasks, one byte short",
         23,
         Bytes(tasks.begin(), tasks.end() - 1),
         {},
         {},
         {},
         false},
        {"tasks written", 25, {0x01}, {"设置定时任务成功！"}, {}, {}, true},
        {"air-conditioner answer", 27, {0x01, 0x02, 0x00}, {"发射失败！"}, {}, {}, false},
    };
    std::vector<int> watchedTexts = {IDC_PULSE_CAPACITY, IDC_PULSE_COUNT};
    for (const auto& [id, text] : taskTexts) watchedTexts.push_back(id);
    const std::map<int, int> checksBefore = {
        {IDC_TASK1_ENABLE, 0}, {IDC_TASK2_ENABLE, 1}, {IDC_TASK3_ENABLE, 1}};

    for (const DispatchCase& c : kCases) {
        SCOPED_TRACE(c.what);
        for (int id : watchedTexts) window_.SetText(id, "-");
        for (const auto& [id, check] : checksBefore) window_.SetCheck(id, check);
        StartPendingTest();
        const std::size_t logged = LogLines().size();

        Receive(c.command, c.payload);

        const auto lines = LogLinesFrom(logged);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].rfind("接收:", 0), 0u);
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), c.lines);
        for (int id : watchedTexts) {
            const auto it = c.texts.find(id);
            EXPECT_EQ(window_.GetText(id), it == c.texts.end() ? "-" : it->second) << id;
        }
        for (const auto& [id, before] : checksBefore) {
            const auto it = c.checks.find(id);
            EXPECT_EQ(window_.GetCheck(id), it == c.checks.end() ? before : it->second) << id;
        }
        EXPECT_EQ(Dialog().PendingOp(), c.endsSupervision ? 0 : 1);
        EXPECT_EQ(TimerRunning(), !c.endsSupervision);
    }
    EXPECT_TRUE(window_.Boxes().empty());
}

TEST_F(ModuleFunctions, RefusedFieldsAndADeclinedQuestionSendNothing) {
    const char* const kQuestion = "设置后会清除已学习功能，确认需要设置？";
    const char* const kCapacityRange = "个数请设置1~400的值!";
    const struct {
        const char* what;
        int button;
        int edit;
        const char* text;  // set as if pasted, past the edit's limit
        int answer;        // to the first box
        std::vector<std::string> boxes;
        int pendingOp;
    } kCases[] = {
        {"learn slot -1", IDC_LEARN, IDC_LEARN_INDEX, "-1", IDOK, {"序号超范围!"}, 18},
        {"learn slot 101", IDC_LEARN, IDC_LEARN_INDEX, "101", IDOK, {"序号超范围!"}, 18},
        {"transmit slot -1", IDC_TRANSMIT, IDC_SEND_INDEX, "-1", IDOK, {"序号超范围!"}, 20},
        {"transmit slot 101 from the second button",
         IDC_RAW_SEND,
         IDC_SEND_INDEX,
         "101",
         IDOK,
         {"序号超范围!"},
         20},
        {"capacity 0",
         IDC_SET_PULSE_CAPACITY,
         IDC_PULSE_CAPACITY,
         "0",
         IDYES,
         {kQuestion, kCapacityRange},
         16},
        {"capacity 401",
         IDC_SET_PULSE_CAPACITY,
         IDC_PULSE_CAPACITY,
         "401",
         IDYES,
         {kQuestion, kCapacityRange},
         16},
        {"capacity that wraps to 1 in 32 bits",
         IDC_SET_PULSE_CAPACITY,
         IDC_PULSE_CAPACITY,
         "4294967297",
         IDYES,
         {kQuestion, kCapacityRange},
         16},
        {"capacity question answered No",
         IDC_SET_PULSE_CAPACITY,
         IDC_PULSE_CAPACITY,
         "300",
         IDNO,
         {kQuestion},
         0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Receive(protocol::kCmdSetTimedTasksReply, {});  // back to PendingOp 0
        window_.ClearBoxes();
        const std::size_t logged = LogLines().size();
        window_.SetText(c.edit, c.text);
        window_.AnswerNextBox(c.answer);

        window_.Click(c.button);

        std::vector<std::string> boxes;
        for (const auto& box : window_.Boxes()) boxes.push_back(box.text);
        EXPECT_EQ(boxes, c.boxes);
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
    const struct {
        int button;
        std::size_t frameSize;
    } kCases[] = {{IDC_SET_TASKS, 36}, {IDC_READ_TASKS, 9}, {IDC_AC_SEND, 16}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.button);
        StartPendingTest();
        window_.Click(c.button);
        EXPECT_EQ(ReadFromConsole(c.frameSize).size(), c.frameSize);
        EXPECT_EQ(Dialog().PendingOp(), 1);
        EXPECT_EQ(window_.TimerPeriod(kReplyTimerId), 3000);
    }
}

}  // namespace
}  // namespace orvante::ui
