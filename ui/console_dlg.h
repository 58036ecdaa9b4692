// CConsoleDlg: the console's one window, a front end over the module link (which owns
// the channel, the frame receiver and the transfer). It keeps the line settings and the
// event log, routes the window's events to their handlers, and carries the connection
// with its request supervision.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "library/library_transfer.h"
#include "protocol/frame_receiver.h"
#include "protocol/module_frame.h"
#include "serial/port_list.h"
#include "serial/serial_channel.h"
#include "session/module_link.h"
#include "ui/event_log.h"
#include "ui/framework.h"
#include "ui/resource.h"

namespace orvante::ui {

// The About box, template 100: no data and no handlers of its own.
class CAboutDlg {
public:
    explicit CAboutDlg(Window& owner) : owner_(owner) {}
    int DoModal() { return owner_.DoModalDialog(IDD_ABOUTBOX); }

private:
    Window& owner_;
};

// What the dialog takes from the machine (tests replace it) and the command line.
struct ConsoleEnvironment {
    std::function<serial::DeviceMap()> scanPorts = [] { return serial::ScanDeviceMap(); };
    serial::PortResolver resolvePort = serial::ResolvePortFromDeviceMap;
    TimeSource clock = LocalTimeOfDay;
    // The clock of the library transfer's reply time-outs.
    library::TransferClock* transferClock = &library::SteadyTransferClock();
    // The port selected at start instead of the first, when the list has it.
    std::optional<int> preselectedPort;
};

class CConsoleDlg final : public WindowEvents, private session::LinkFrontEnd {
public:
    explicit CConsoleDlg(Window& window, ConsoleEnvironment environment = {});
    ~CConsoleDlg() override;
    CConsoleDlg(const CConsoleDlg&) = delete;
    CConsoleDlg& operator=(const CConsoleDlg&) = delete;

    // Initialises the window's controls and the dialog's state; call once, before the
    // window is shown.
    bool OnInitDialog();

    // Data exchange between the bound texts and their controls: true reads the controls
    // into the members, false writes the members back. The log is not among them: it is
    // append-only and the event log's, so nothing reads it back to send a request or to
    // handle a reply, and no old copy of it can be written over newer lines.
    void UpdateData(bool fromControls);

    // The one way the function handlers send a request: from LocalAddress to the
    // target typed in edit 1015; refused with a box when that address is not usable.
    void SendCommand(std::uint8_t command, const std::uint8_t* payload, std::uint16_t length);

    void LogEvent(const std::string& text, const std::uint8_t* data = nullptr, int count = 0) {
        m_log.LogEvent(text, data, count);
    }

    // WindowEvents
    void OnClicked(int id) override;
    void OnSelectionChanged(int id) override;
    void OnTimer(int timerId) override;
    void OnOK() override;
    void OnCancel() override;
    void OnSysCommand(unsigned command) override;
    void OnDropDown(int id) override;
    void OnHelp() override;
    void OnEditMenuCommand(int id, unsigned command) override;

    // Window thread: the line under a running transfer has ended (`cause`): the transfer
    // ends at its next step with no box of its own; the log says why and field 1013
    // shows the outcome. A transfer whose last block was answered still succeeds.
    void EndTransferWithTheLine(const std::string& cause);
    // Whether a library transfer is under way: from its start until its end has been
    // handled here (buttons 1063 and 1064 disabled meanwhile).
    bool IsLibraryTransferActive() const { return m_transferActive; }

    // State the handlers share, readable for tests and the transfer worker.
    std::uint16_t LocalAddress() const { return m_link.LocalAddress(); }
    int PendingOp() const { return m_pendingOp; }
    bool IsConnected() const { return m_bConnected; }
    const serial::CSerialChannel& Channel() const { return m_link.Channel(); }
    int Port() const { return m_nPort; }
    int Baud() const { return m_nBaud; }
    char Parity() const { return m_cParity; }
    int DataBits() const { return m_nDataBits; }
    int StopBits() const { return m_nStopBits; }
    std::uint32_t EventMask() const { return m_dwEventMask; }
    // The frames received, and the receiver's drops.
    session::ReceiverTotals Receiver() const { return m_link.Totals(); }

private:
    // What a click on each button does, and what each reply does: a new module function
    // is a row in each table (console_dlg.cpp) and its two handlers.
    struct ButtonRoute {
        int id;
        void (CConsoleDlg::*onClick)();
    };
    struct ReplyHandling {
        std::uint8_t reply;
        void (CConsoleDlg::*onReply)(const protocol::FrameView& reply);  // none: taken elsewhere
        bool endsSupervision;  // the reply's tail follows: PendingOp 0, timer 1 killed
    };
    static std::span<const ButtonRoute> ButtonRoutes();
    static std::span<const ReplyHandling> ReplyHandlers();

    // Connection and request supervision.
    void OnConnect();
    void Connect();
    void Disconnect();
    void OnTestConnection();
    void OnConnectReply(const protocol::FrameView& frame);
    serial::PortOpenResult OpenChannel();
    void ArmReplyTimer();
    void KillReplyTimer();

    // Line settings.
    void OnPortChanged();
    void OnBaudChanged();
    void OnParityChanged();
    void OnDataBitsChanged();
    void OnStopBitsChanged();
    void ReopenPort();
    void RefreshPortList();
    void ShowIndicator(bool on);

    // Module functions, handled by their own units as they are added.
    // Learn and transmit, pulse capacity, timed tasks, AC codes: console_functions.cpp.
    void OnLearn();
    void OnTransmit();
    void OnReadPulseCapacity();
    void OnSetPulseCapacity();
    void OnSetTimedTasks();
    void OnReadTimedTasks();
    void OnSendAcCode();
    void OnLearnReply(const protocol::FrameView& reply);
    void OnTransmitReply(const protocol::FrameView& reply);
    void OnSetPulseCapacityReply(const protocol::FrameView& reply);
    void OnReadPulseCapacityReply(const protocol::FrameView& reply);
    void OnReadTimedTasksReply(const protocol::FrameView& reply);
    void OnSetTimedTasksReply(const protocol::FrameView& reply);
    void OnSendAcCodeReply(const protocol::FrameView& reply);

    // The log's context menu (console_log.cpp).
    void OnSaveLog();
    void OnClearLog();

    // Library export and import (console_library.cpp).
    void OnImportLibrary();
    void OnExportLibrary();
    void StartLibraryTransfer(std::uint8_t op);
    void ShowLatestLibraryProgress();
    void OnLibraryTransferEnded(const library::TransferProgress& result);
    void EndLibraryTransfer();
    // session::LinkFrontEnd: what the module link hands over, from the monitor thread
    // and the transfer's worker, goes to the window thread here.
    void Log(const std::string& text, std::span<const std::uint8_t> bytes) override;
    void OnFrame(std::span<const std::uint8_t> frame, std::function<bool()> current) override;
    void OnLineLost(std::function<bool()> current) override;
    void WaitServingDeliveries(const std::function<bool()>& done) override;
    void WakeWaiter() override;
    void ShowStopBox(const std::string& text, const std::string& caption) override;
    void ShowMessageBox(const std::string& text) override;
    void ShowTransferBox(const std::string& text, const std::string& caption) override;
    void ShowTransferProgress(const library::TransferProgress& progress) override;
    void OnTransferEnd(const library::TransferProgress& result) override;

    // Received frames, and the end of the line, on the window thread.
    void OnDeviceLost();
    void DispatchResponse(std::span<const std::uint8_t> frame);

    Window& m_window;
    ConsoleEnvironment m_environment;
    EventLog m_log;

    int m_nBaud = 0;
    int m_nPort = 0;
    char m_cParity = 'N';
    int m_nDataBits = 8;
    int m_nStopBits = 1;

    // Texts bound to controls by UpdateData.
    std::string m_strTargetAddr;
    std::string m_strLocalAddr;
    std::string m_strSendIndex;
    std::string m_strLearnIndex;
    std::string m_strPulseCount;  // the pulse capacity (edit 1025), not a count of pulses

    std::uint32_t m_dwEventMask = 0;
    bool m_bConnected = false;

    // The code of the supervised request whose reply is awaited (0: handshake or idle).
    int m_pendingOp = 0;

    // Library transfer: the file of the last dialog (LibraryPath), the folder the next
    // dialog opens in (LibraryDialogDir; the home folder until a file is chosen), the
    // transfer, and its latest progress, of which at most one showing is queued for
    // the window at a time.
    std::string m_libraryPath;
    std::string m_libraryDialogDir;
    // The folder the log's save dialog opens in: the home folder until a file is chosen.
    std::string m_logDialogDir;
    bool m_transferActive = false;
    bool m_closing = false;
    std::mutex m_progressMutex;  //!< Protects m_latestProgress and m_progressQueued
    library::TransferProgress m_latestProgress;
    bool m_progressQueued = false;
    // Connected, and no command-2 reply handled since: only the handshake's own reply
    // may set LocalAddress, never a repeated or late copy of a test connection's.
    bool m_bHandshakeUnanswered = false;

    // The conversation with the module: the channel, the receiver, the transfer. Last,
    // so that it ends first: its threads reach everything above.
    session::ModuleLink m_link;
};

// The application: constructs the main dialog on a window of the backend, runs it
// modally and ends when it closes.
class WindowHost {
public:
    virtual ~WindowHost() = default;
    virtual std::unique_ptr<Window> CreateMainWindow() = 0;
    // Shows the window and returns the result it was ended with.
    virtual int RunModal(Window& window) = 0;
};

class CConsoleApp {
public:
    explicit CConsoleApp(WindowHost& host, ConsoleEnvironment environment = {})
        : host_(host), environment_(std::move(environment)) {}
    // Runs the console; false, so that the application ends afterwards.
    bool InitInstance();

private:
    WindowHost& host_;
    ConsoleEnvironment environment_;
};

}  // namespace orvante::ui
