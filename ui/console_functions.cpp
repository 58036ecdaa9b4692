// The module functions of the console: learn and transmit, pulse capacity, timed tasks
// and air-conditioner codes. Each button builds its request from the controls and sends
// it with SendCommand; DispatchResponse hands each reply to its handler here and then
// ends the supervision where the reply calls for it.
#include <optional>
#include <string>

#include "functions/ac_code.h"
#include "functions/decimal_field.h"
#include "functions/learn_transmit.h"
#include "functions/pulse_capacity.h"
#include "functions/timed_tasks.h"
#include "protocol/commands.h"
#include "ui/console_dlg.h"
#include "ui/pending_op.h"

namespace orvante::ui {

namespace {

using functions::Low16;
using functions::ParseDecimalField;

// The controls of one timed task's row.
struct TaskControls {
    int enabled;
    int slot;
    int period;
    int startDelay;
    int loopCount;
};

constexpr TaskControls kTaskControls[functions::kTimedTaskCount] = {
    {IDC_TASK1_ENABLE, IDC_TASK1_SLOT, IDC_TASK1_PERIOD, IDC_TASK1_DELAY, IDC_TASK1_LOOPS},
    {IDC_TASK2_ENABLE, IDC_TASK2_SLOT, IDC_TASK2_PERIOD, IDC_TASK2_DELAY, IDC_TASK2_LOOPS},
    {IDC_TASK3_ENABLE, IDC_TASK3_SLOT, IDC_TASK3_PERIOD, IDC_TASK3_DELAY, IDC_TASK3_LOOPS},
};

// A field without a range test of its own: the low 16 bits of what was typed.
std::uint16_t Field16(const Window& window, int id) {
    return Low16(ParseDecimalField(window.GetText(id)));
}

// A list's selected index as the byte the request carries.
std::uint8_t Selection(const Window& window, int id) {
    return static_cast<std::uint8_t>(window.GetCurSel(id));
}

// The slot typed into a slot edit; nothing, after telling the operator, when it is
// empty or out of range.
std::optional<std::uint16_t> SlotInRange(Window& window, const std::string& typed) {
    const std::int32_t slot = ParseDecimalField(typed);
    // An emptied field names no slot; read as 0 it would overwrite slot 0's code.
    const bool empty = typed.find_first_not_of(" \t\n\v\f\r") == std::string::npos;
    if (empty || !functions::kSlotRange.Contains(slot)) {
        window.MessageBox("序号超范围!", BoxButtons::kOk);
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(slot);
}

template <std::size_t N>
void Send(CConsoleDlg& dialog, std::uint8_t command, const std::array<std::uint8_t, N>& payload) {
    dialog.SendCommand(command, payload.data(), static_cast<std::uint16_t>(N));
}

}  // namespace

// ---- learn and transmit --------------------------------------------------------

void CConsoleDlg::OnLearn() {
    m_pendingOp = kOpLearn;
    UpdateData(true);
    const auto slot = SlotInRange(m_window, m_strLearnIndex);
    if (!slot) return;
    LogEvent("正在学习中……");
    Send(*this, protocol::kCmdLearn, functions::EncodeSlotRequest(*slot));
    // No time-out: the module answers only once the operator has pointed a remote at it.
}

void CConsoleDlg::OnTransmit() {
    m_pendingOp = kOpTransmit;
    UpdateData(true);
    const auto slot = SlotInRange(m_window, m_strSendIndex);
    if (!slot) return;
    LogEvent("开始发射……");
    Send(*this, protocol::kCmdTransmit, functions::EncodeSlotRequest(*slot));
    // Armed also when SendCommand refused the target: the time-out then reports it.
    ArmReplyTimer();
}

void CConsoleDlg::OnLearnReply(const protocol::FrameView& reply) {
    const auto result = functions::DecodeLearnResult(reply.Payload());
    if (!result) return;
    m_window.SetText(IDC_PULSE_COUNT, std::to_string(result->PulseCount()));
    LogEvent("学习成功，退出学习状态！");
}

void CConsoleDlg::OnTransmitReply(const protocol::FrameView& reply) {
    const auto result = functions::DecodeTransmitResult(reply.Payload());
    if (!result) return;
    LogEvent(result->Sent() ? "发射成功！" : "发射失败！");
}

// ---- pulse capacity ------------------------------------------------------------

void CConsoleDlg::OnReadPulseCapacity() {
    m_pendingOp = kOpReadPulseCapacity;
    LogEvent("读取个数……");
    SendCommand(protocol::kCmdReadPulseCapacity, nullptr, 0);
}

void CConsoleDlg::OnSetPulseCapacity() {
    if (m_window.MessageBox("设置后会清除已学习功能，确认需要设置？", BoxButtons::kYesNo) !=
        IDYES) {
        return;
    }
    m_pendingOp = kOpSetPulseCapacity;
    UpdateData(true);
    const std::int32_t capacity = ParseDecimalField(m_strPulseCount);
    if (!functions::kPulseCapacityRange.Contains(capacity)) {
        m_window.MessageBox("个数请设置1~400的值!", BoxButtons::kOk);
        return;
    }
    LogEvent("设置个数……");
    Send(*this, protocol::kCmdSetPulseCapacity,
         functions::EncodeSetPulseCapacity(static_cast<std::uint16_t>(capacity)));
}

void CConsoleDlg::OnSetPulseCapacityReply(const protocol::FrameView& /*reply*/) {
    LogEvent("设置波形个数成功！");
}

void CConsoleDlg::OnReadPulseCapacityReply(const protocol::FrameView& reply) {
    const auto capacity = functions::DecodePulseCapacity(reply.Payload());
    if (!capacity) return;
    LogEvent("读取成功！");
    m_strPulseCount = std::to_string(*capacity);
    m_window.SetText(IDC_PULSE_CAPACITY, m_strPulseCount);
}

// ---- timed tasks ---------------------------------------------------------------

void CConsoleDlg::OnSetTimedTasks() {
    functions::TimedTasks tasks;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        const TaskControls& ids = kTaskControls[i];
        tasks[i] = functions::TimedTaskRecord{
            .enabled = m_window.GetCheck(ids.enabled) == 1,
            .slot = Field16(m_window, ids.slot),
            .periodMinutes = Field16(m_window, ids.period),
            .startDelayMinutes = Field16(m_window, ids.startDelay),
            .loopCount = Field16(m_window, ids.loopCount),
        };
    }
    LogEvent("设置定时任务参数……");
    Send(*this, protocol::kCmdSetTimedTasks, functions::EncodeTimedTasks(tasks));
}

void CConsoleDlg::OnReadTimedTasks() {
    LogEvent("读取定时任务参数……");
    SendCommand(protocol::kCmdReadTimedTasks, nullptr, 0);
}

void CConsoleDlg::OnReadTimedTasksReply(const protocol::FrameView& reply) {
    const auto tasks = functions::DecodeTimedTasks(reply.Payload());
    if (!tasks) return;
    for (std::size_t i = 0; i < tasks->size(); ++i) {
        const functions::TimedTaskRecord& task = (*tasks)[i];
        const TaskControls& ids = kTaskControls[i];
        m_window.SetCheck(ids.enabled, task.enabled ? 1 : 0);
        m_window.SetText(ids.slot, std::to_string(task.slot));
        m_window.SetText(ids.period, std::to_string(task.periodMinutes));
        m_window.SetText(ids.startDelay, std::to_string(task.startDelayMinutes));
        m_window.SetText(ids.loopCount, std::to_string(task.loopCount));
    }
}

void CConsoleDlg::OnSetTimedTasksReply(const protocol::FrameView& /*reply*/) {
    LogEvent("设置定时任务成功！");
}

// ---- air-conditioner codes -----------------------------------------------------

void CConsoleDlg::OnSendAcCode() {
    const functions::AcCodeRequest request{
        .brand = Field16(m_window, IDC_AC_BRAND),
        .power = Selection(m_window, IDC_AC_POWER),
        .mode = Selection(m_window, IDC_AC_MODE),
        .temperatureIndex = Selection(m_window, IDC_AC_TEMPERATURE),
        .fan = Selection(m_window, IDC_AC_FAN),
        .swing = Selection(m_window, IDC_AC_SWING),
    };
    LogEvent("发射空调码库……");
    Send(*this, protocol::kCmdSendAcCode, functions::EncodeAcCode(request));
}

// The module answers only when it could not send the code.
void CConsoleDlg::OnSendAcCodeReply(const protocol::FrameView& /*reply*/) {
    LogEvent("发射失败！");
}

}  // namespace orvante::ui
