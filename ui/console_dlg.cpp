#include "ui/console_dlg.h"

#include "protocol/commands.h"
#include "protocol/replies.h"
#include "ui/channel_boxes.h"
#include "ui/pending_op.h"
#include "ui/port_combo.h"

namespace orvante::ui {

namespace {

using protocol::FrameView;

constexpr int kReplyTimeoutMs = static_cast<int>(protocol::kReplyTimeout.count());
constexpr std::uint32_t kEventMask = serial::EV_RXCHAR | serial::EV_RXFLAG;

constexpr const char* kAboutMenuText = "关于 ORVANTE(&A)...";
constexpr const char* kConnectText = "连接红外";
constexpr const char* kDisconnectText = "断开连接";
constexpr const char* kStatusText = "运行状态：";

// Index of the hidden line-setting lists -> value.
constexpr char kParityLetters[] = {'N', 'O', 'E'};
constexpr int kDataBitsValues[] = {8, 7, 6};
constexpr int kStopBitsValues[] = {1, 2};

}  // namespace

CConsoleDlg::CConsoleDlg(Window& window, ConsoleEnvironment environment)
    : m_window(window),
      m_environment(std::move(environment)),
      m_log(window, IDC_LOG, m_environment.clock),
      m_link(*this, m_environment.resolvePort, *m_environment.transferClock) {
    m_window.SetEvents(this);
}

CConsoleDlg::~CConsoleDlg() {
    // A transfer's worker queues frames on the channel and hands work to this dialog,
    // and the monitor delivers to it: both end while every member still exists.
    EndLibraryTransfer();
    m_link.Close();
    m_window.SetEvents(nullptr);
}

bool CConsoleDlg::OnInitDialog() {
    if (m_window.HasSystemMenu()) {
        m_window.AppendSystemMenuSeparator();
        m_window.AppendSystemMenuItem(IDM_ABOUTBOX, kAboutMenuText);
    }
    m_window.SetWindowIcon(IconId::kApplication);
    m_window.AppendEditMenuItem(IDC_LOG, IDM_LOG_SAVE, "保存日志…");
    m_window.AppendEditMenuItem(IDC_LOG, IDM_LOG_CLEAR, "清空日志");
    UpdateData(false);

    EnumeratePorts(m_window, IDC_PORT, m_environment.scanPorts());
    if (m_environment.preselectedPort) {
        const int item = FindPortItem(m_window, IDC_PORT, *m_environment.preselectedPort);
        if (item >= 0) m_window.SetCurSel(IDC_PORT, item);
    }
    m_nPort = serial::PortNumberFromName(m_window.GetText(IDC_PORT));

    m_window.SetCurSel(IDC_BAUD, 5);  // 9600
    for (int id : {IDC_PARITY, IDC_DATA_BITS, IDC_STOP_BITS, IDC_AC_POWER, IDC_AC_MODE,
                   IDC_AC_TEMPERATURE, IDC_AC_FAN, IDC_AC_SWING}) {
        m_window.SetCurSel(id, 0);
    }
    m_nBaud = 9600;
    m_cParity = 'N';
    m_nDataBits = 8;
    m_nStopBits = 1;
    m_dwEventMask = kEventMask;

    ShowIndicator(false);
    m_bConnected = false;
    m_window.LimitText(IDC_TARGET_ADDR, 4);
    m_window.LimitText(IDC_LEARN_INDEX, 2);
    m_window.LimitText(IDC_SEND_INDEX, 2);
    return true;
}

void CConsoleDlg::UpdateData(bool fromControls) {
    const std::pair<int, std::string*> bindings[] = {
        {IDC_TARGET_ADDR, &m_strTargetAddr},    {IDC_LOCAL_ADDR, &m_strLocalAddr},
        {IDC_SEND_INDEX, &m_strSendIndex},      {IDC_LEARN_INDEX, &m_strLearnIndex},
        {IDC_PULSE_CAPACITY, &m_strPulseCount},
    };
    for (const auto& [id, text] : bindings) {
        if (fromControls) {
            *text = m_window.GetText(id);
        } else {
            m_window.SetText(id, *text);
        }
    }
}

// ---- routing -------------------------------------------------------------------

std::span<const CConsoleDlg::ButtonRoute> CConsoleDlg::ButtonRoutes() {
    static constexpr ButtonRoute kRoutes[] = {
        {IDC_CONNECT, &CConsoleDlg::OnConnect},
        {IDC_TEST_CONNECTION, &CConsoleDlg::OnTestConnection},
        {IDC_LEARN, &CConsoleDlg::OnLearn},
        {IDC_TRANSMIT, &CConsoleDlg::OnTransmit},
        {IDC_RAW_SEND, &CConsoleDlg::OnTransmit},
        {IDC_READ_PULSE_CAPACITY, &CConsoleDlg::OnReadPulseCapacity},
        {IDC_SET_PULSE_CAPACITY, &CConsoleDlg::OnSetPulseCapacity},
        {IDC_SET_TASKS, &CConsoleDlg::OnSetTimedTasks},
        {IDC_READ_TASKS, &CConsoleDlg::OnReadTimedTasks},
        {IDC_AC_SEND, &CConsoleDlg::OnSendAcCode},
        {IDC_IMPORT_LIBRARY, &CConsoleDlg::OnImportLibrary},
        {IDC_EXPORT_LIBRARY, &CConsoleDlg::OnExportLibrary},
    };
    return kRoutes;
}

// The timed-task read, the air-conditioner failure and the library replies leave the
// supervision as it is.
std::span<const CConsoleDlg::ReplyHandling> CConsoleDlg::ReplyHandlers() {
    static constexpr ReplyHandling kRoutes[] = {
        {protocol::kCmdConnectReply, &CConsoleDlg::OnConnectReply, true},
        {protocol::kCmdSetPulseCapacityReply, &CConsoleDlg::OnSetPulseCapacityReply, true},
        {protocol::kCmdReadPulseCapacityReply, &CConsoleDlg::OnReadPulseCapacityReply, true},
        {protocol::kCmdLearnReply, &CConsoleDlg::OnLearnReply, true},
        {protocol::kCmdTransmitReply, &CConsoleDlg::OnTransmitReply, true},
        {protocol::kCmdReadTimedTasksReply, &CConsoleDlg::OnReadTimedTasksReply, false},
        {protocol::kCmdSetTimedTasksReply, &CConsoleDlg::OnSetTimedTasksReply, true},
        {protocol::kCmdSendAcCodeReply, &CConsoleDlg::OnSendAcCodeReply, false},
        // The link gave these to the transfer where they arrived.
        {protocol::kCmdExportBlockReply, nullptr, false},
        {protocol::kCmdImportBlockReply, nullptr, false},
    };
    return kRoutes;
}

// 1026, 1038 and 1067 do nothing.
void CConsoleDlg::OnClicked(int id) {
    for (const ButtonRoute& route : ButtonRoutes()) {
        if (route.id == id) {
            (this->*route.onClick)();
            return;
        }
    }
}

void CConsoleDlg::OnSelectionChanged(int id) {
    switch (id) {
        case IDC_PORT:
            OnPortChanged();
            break;
        case IDC_BAUD:
            OnBaudChanged();
            break;
        case IDC_PARITY:
            OnParityChanged();
            break;
        case IDC_DATA_BITS:
            OnDataBitsChanged();
            break;
        case IDC_STOP_BITS:
            OnStopBitsChanged();
            break;
        default:
            break;
    }
}

void CConsoleDlg::OnDropDown(int id) {
    if (id == IDC_PORT) RefreshPortList();
}

void CConsoleDlg::OnOK() {
    // Enter never closes the window.
}

void CConsoleDlg::OnCancel() {
    if (m_window.MessageBox("确定退出软件？", BoxButtons::kYesNo) == IDYES) {
        m_window.EndDialog(IDCANCEL);
    }
}

void CConsoleDlg::OnSysCommand(unsigned command) {
    if ((command & 0xFFF0) == IDM_ABOUTBOX) OnHelp();
}

void CConsoleDlg::OnEditMenuCommand(int id, unsigned command) {
    if (id != IDC_LOG) return;
    if (command == IDM_LOG_SAVE) OnSaveLog();
    if (command == IDM_LOG_CLEAR) OnClearLog();
}

// F1 opens the About box too: the window menu that holds it is easily missed on Linux.
void CConsoleDlg::OnHelp() {
    CAboutDlg about(m_window);
    about.DoModal();
}

// ---- requests ------------------------------------------------------------------

void CConsoleDlg::SendCommand(std::uint8_t command, const std::uint8_t* payload,
                              std::uint16_t length) {
    UpdateData(true);
    const auto target = static_cast<std::uint16_t>(protocol::ParseHexAddress(m_strTargetAddr));
    if (target == 0) {
        m_window.MessageBox("目标地址非法!", BoxButtons::kOk);
        return;
    }
    const std::vector<std::uint8_t> frame = protocol::BuildModuleFrame(
        m_link.LocalAddress(), target, command, std::span<const std::uint8_t>(payload, length));
    if (frame.empty()) return;  // a payload longer than any request has
    m_link.Send(frame);
}

// ---- received frames -----------------------------------------------------------

// The channel has closed the port; the window follows: no request can be answered
// now, so the reply timer goes too (no "连接失败!" box after the loss).
void CConsoleDlg::OnDeviceLost() {
    KillReplyTimer();
    Disconnect();
    m_window.SetText(IDC_STATUS, kStatusText);  // no longer "连接成功！"
}

void CConsoleDlg::DispatchResponse(std::span<const std::uint8_t> frame) {
    const FrameView view(frame);
    // A frame too short to hold a command byte, or the fields its handler reads, is
    // logged and otherwise ignored.
    const protocol::ReplyRoute* route = protocol::RouteOfReply(view);
    if (route == nullptr) return;

    for (const ReplyHandling& handler : ReplyHandlers()) {
        if (handler.reply != route->reply) continue;
        if (handler.onReply != nullptr) (this->*handler.onReply)(view);
        if (handler.endsSupervision) {
            m_pendingOp = kOpHandshakeOrIdle;
            KillReplyTimer();
        }
        return;
    }
}

// ---- session::LinkFrontEnd -------------------------------------------------------

void CConsoleDlg::Log(const std::string& text, std::span<const std::uint8_t> bytes) {
    LogEvent(text, bytes.data(), static_cast<int>(bytes.size()));
}

// Each frame crosses to the window thread in order, and the monitor does not wait for
// it; there the frame is logged, then handled.
void CConsoleDlg::OnFrame(std::span<const std::uint8_t> frame, std::function<bool()> current) {
    m_window.Thread().Post([this, bytes = std::vector<std::uint8_t>(frame.begin(), frame.end()),
                            current = std::move(current)] {
        if (!current()) return;
        m_link.LogReceived(bytes);
        DispatchResponse(bytes);
    });
}

void CConsoleDlg::OnLineLost(std::function<bool()> current) {
    m_window.Thread().Post([this, current = std::move(current)] {
        if (current()) OnDeviceLost();
    });
}

void CConsoleDlg::WaitServingDeliveries(const std::function<bool()>& done) {
    m_window.Thread().WaitServing(done);
}

void CConsoleDlg::WakeWaiter() {
    m_window.Thread().Wake();
}

void CConsoleDlg::ShowStopBox(const std::string& text, const std::string& caption) {
    ShowChannelStopBox(m_window, text, caption);
}

void CConsoleDlg::ShowMessageBox(const std::string& text) {
    ShowChannelMessageBox(m_window, text);
}

// ---- connection and supervision ------------------------------------------------

serial::PortOpenResult CConsoleDlg::OpenChannel() {
    return m_link.Open(m_nPort, {m_nBaud, m_cParity, m_nDataBits, m_nStopBits}, m_dwEventMask);
}

void CConsoleDlg::OnConnect() {
    if (m_bConnected) {
        EndTransferWithTheLine("已断开连接");
        Disconnect();
    } else {
        Connect();
    }
}

void CConsoleDlg::Disconnect() {
    m_window.SetText(IDC_CONNECT, kConnectText);
    m_link.StopMonitor();
    ShowIndicator(false);
    m_bConnected = false;
    m_bHandshakeUnanswered = false;
}

void CConsoleDlg::Connect() {
    const serial::PortOpenResult opened = OpenChannel();
    if (!opened.PortIsOpen()) {
        // A failure of the system's own (the channel's box has said which) needs no
        // second box.
        if (opened.status != serial::PortOpenStatus::kSystemFailure) {
            m_window.MessageBox("没有发现此串口或被占用", BoxButtons::kOk);
        }
        ShowIndicator(false);
        return;
    }
    m_window.SetText(IDC_CONNECT, kDisconnectText);
    m_link.StartMonitor();
    ShowIndicator(true);
    LogEvent("开始连接……");
    m_pendingOp = kOpHandshakeOrIdle;
    m_bHandshakeUnanswered = true;
    m_link.Send(protocol::kHandshakeFrame);
    m_bConnected = true;
    ArmReplyTimer();
}

void CConsoleDlg::OnTestConnection() {
    m_pendingOp = kOpTestConnection;
    LogEvent("开始连接……");
    SendCommand(protocol::kCmdConnect, nullptr, 0);
    ArmReplyTimer();
}

void CConsoleDlg::OnConnectReply(const FrameView& frame) {
    const std::optional<protocol::HandshakeAnswer> answer = protocol::ReadHandshakeAnswer(frame);
    if (!answer) return;
    LogEvent("连接成功！");
    const std::string digits = protocol::FormatAddress(answer->moduleAddress);
    if (answer->toBroadcast) m_window.SetText(IDC_LOCAL_ADDR, "本机地址：" + digits);
    m_window.SetText(IDC_TARGET_ADDR, digits);
    UpdateData(true);
    m_window.SetText(IDC_STATUS, "连接成功！");
    if (m_pendingOp == kOpHandshakeOrIdle && m_bHandshakeUnanswered) {
        m_link.SetLocalAddress(answer->moduleAddress);
    }
    m_bHandshakeUnanswered = false;
}

void CConsoleDlg::OnTimer(int /*timerId*/) {
    switch (m_pendingOp) {
        case kOpTestConnection:
            LogEvent("与目标地址连接失败!");
            break;
        case kOpTransmit:
            LogEvent("发送失败!");
            break;
        case kOpHandshakeOrIdle:
            KillReplyTimer();
            m_window.MessageBox("连接失败!", BoxButtons::kOk);
            LogEvent("连接失败!");
            Disconnect();
            break;
        default:
            break;  // 16, 17 and 18 are recorded but not timed: nothing to report
    }
    KillReplyTimer();
}

void CConsoleDlg::ArmReplyTimer() {
    m_window.SetTimer(kReplyTimerId, kReplyTimeoutMs);
}

void CConsoleDlg::KillReplyTimer() {
    m_window.KillTimer(kReplyTimerId);
}

// ---- line settings -------------------------------------------------------------

// Another port chosen: the open one is given up, and a connection with it, as when the
// operator disconnects; the window must not claim a connection it no longer has.
void CConsoleDlg::OnPortChanged() {
    const int previousPort = m_nPort;
    if (m_link.IsPortOpen()) {
        EndTransferWithTheLine("已选择其他串口");
        if (m_bConnected) {
            KillReplyTimer();
            Disconnect();
            m_window.SetText(IDC_STATUS, kStatusText);
            LogEvent("串口COM" + std::to_string(previousPort) + "已关闭：已选择其他串口");
        } else {
            m_link.StopMonitor();
            ShowIndicator(false);
        }
    }
    m_nPort =
        serial::PortNumberFromName(m_window.GetItemText(IDC_PORT, m_window.GetCurSel(IDC_PORT)));
}

// Ports come and go (an adapter plugged in, a virtual module started), so the list is
// filled again each time the operator opens it. The selected port stays listed and
// selected, gone or not: the next connect tries it, and says so when it cannot be
// opened, rather than opening some other port. Only with nothing selected yet does the
// first port that appears become the selection, and m_nPort follows it. Unlike the
// operator's choice, this never touches the channel.
void CConsoleDlg::RefreshPortList() {
    const int selected = ui::RefreshPortList(m_window, IDC_PORT, m_environment.scanPorts());
    if (!m_bConnected) m_nPort = selected;
}

void CConsoleDlg::OnBaudChanged() {
    m_nBaud = serial::BaudRateTable(m_window.GetCurSel(IDC_BAUD));
}

namespace {

// The value at the selected index of a hidden list; the current value when nothing
// valid is selected.
template <typename T, std::size_t N>
T Mapped(const T (&values)[N], int index, T current) {
    return (index >= 0 && index < static_cast<int>(N)) ? values[index] : current;
}

}  // namespace

void CConsoleDlg::OnParityChanged() {
    m_cParity = Mapped(kParityLetters, m_window.GetCurSel(IDC_PARITY), m_cParity);
    ReopenPort();
}

void CConsoleDlg::OnDataBitsChanged() {
    m_nDataBits = Mapped(kDataBitsValues, m_window.GetCurSel(IDC_DATA_BITS), m_nDataBits);
    ReopenPort();
}

void CConsoleDlg::OnStopBitsChanged() {
    m_nStopBits = Mapped(kStopBitsValues, m_window.GetCurSel(IDC_STOP_BITS), m_nStopBits);
    ReopenPort();
}

void CConsoleDlg::ReopenPort() {
    const serial::PortOpenResult opened = OpenChannel();
    if (!opened.PortIsOpen()) {
        if (opened.status != serial::PortOpenStatus::kSystemFailure) {
            m_window.MessageBox("没有成功，请重试", BoxButtons::kOk);
        }
        ShowIndicator(false);
    } else if (m_bConnected) {
        ShowIndicator(false);
    } else {
        m_link.StartMonitor();
        ShowIndicator(true);
    }
}

void CConsoleDlg::ShowIndicator(bool on) {
    m_window.SetIcon(IDC_INDICATOR, on ? IconId::kIndicatorOn : IconId::kIndicatorOff);
}

// ---- application ---------------------------------------------------------------

bool CConsoleApp::InitInstance() {
    const std::unique_ptr<Window> window = host_.CreateMainWindow();
    {
        CConsoleDlg dialog(*window, environment_);
        dialog.OnInitDialog();
        host_.RunModal(*window);
    }  // the dialog goes first: its channel ends the monitor while the window exists
    return false;
}

}  // namespace orvante::ui
