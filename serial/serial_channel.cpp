#include "serial/serial_channel.h"

#include <poll.h>

#include <cerrno>
#include <ctime>
#include <system_error>

#include "serial/port_list.h"

namespace orvante::serial {

namespace {

// Received bytes handed to the window in one delivery at most; the window still
// handles them one message at a time.
constexpr std::size_t kReadChunk = 4096;

}  // namespace

std::string ComposePortError(const std::string& callName, const SysError& error, int port) {
    // The system's text brings its own line end on the platform this text comes from;
    // strerror's does not, so we add it.
    return "WARNING:  " + callName + " Failed with the following error: \n" + error.text +
           "\n\nPort: " + std::to_string(port) + "\n";
}

std::optional<std::string> ResolvePortFromDeviceMap(int port) {
    const DeviceMap map = ScanDeviceMap();
    const auto it = map.find(port);
    if (it == map.end()) return std::nullopt;
    return it->second.devicePath;
}

CSerialChannel::CSerialChannel(PortResolver resolver, SerialOwner* owner)
    : m_resolver(std::move(resolver)), m_pOwnerWnd(owner) {
    // Kept for the open, which reports it: the channel cannot work without its events.
    if (!m_stopEvent.IsValid() || !m_sendEvent.IsValid()) m_eventError = errno;
}

CSerialChannel::~CSerialChannel() {
    Close();
}

void CSerialChannel::Close() {
    EndMonitor();
    RetireRun();
    std::lock_guard lock(m_csPort);
    ClosePort();
}

// ---- window thread -------------------------------------------------------------

PortOpenResult CSerialChannel::Open(SerialOwner* owner, int portNumber, int baud, char parity,
                                    int dataBits, int stopBits, std::uint32_t commMask,
                                    int /*sendBufferSize*/) {
    EndMonitor();
    RetireRun();
    ResetEvents();

    std::lock_guard lock(m_csPort);
    m_pOwnerWnd = owner;
    m_nComPort = portNumber;
    m_dwCommMask = commMask;
    // Without its events the monitor could never be woken or stopped: no port then.
    if (!m_stopEvent.IsValid() || !m_sendEvent.IsValid()) {
        ClosePort();
        const SysError error = SysError::FromErrno(m_eventError);
        ShowPortError("eventfd()", error);
        return {PortOpenStatus::kSystemFailure, error, "eventfd()"};
    }
    {
        // A new port starts with nothing pending: frames queued for the old one are dropped.
        std::lock_guard queueLock(m_csQueue);
        m_queuedFrames.clear();
    }
    DropWriting();
    ClosePort();

    const std::optional<std::string> path = m_resolver(portNumber);
    if (!path) return {PortOpenStatus::kNotFound, SysError::FromErrno(ENOENT), {}};
    SysError error;
    if (!m_port.Open(*path, &error)) return {ClassifyOpenError(error), error, {}};
    m_bPortOpen = true;

    const std::optional<Refusal> refusal =
        ConfigurePort(FormatLineDefinition(baud, parity, dataBits, stopBits));
    m_port.Purge();
    if (refusal) return {PortOpenStatus::kSettingsRefused, refusal->error, refusal->call};
    return {PortOpenStatus::kOpened, {}, {}};
}

std::optional<CSerialChannel::Refusal> CSerialChannel::ConfigurePort(
    const std::string& definition) {
    // Time-outs and the event mask need no call here: the monitor waits in poll and
    // reads only what is there, and the mask is kept in m_dwCommMask.
    KernelTermios current;
    SysError error;
    if (!m_port.GetState(&current, &error)) return Refuse("GetCommState()", error);
    m_lineState.rtsEnable = true;
    m_lineState.eventChar = 'q';
    const std::optional<LineSettings> parsed = ParseLineDefinition(definition, m_lineState);
    if (!parsed) return Refuse("BuildCommDCB()", SysError::FromErrno(EINVAL));
    m_lineState = *parsed;
    m_gathering = InputGathering(InputGathering::ByteTime(m_lineState));
    if (!m_port.SetState(MakeRawTermios(current, m_lineState), &error)) {
        return Refuse("SetCommState()", error);
    }
    // Pseudo-terminals and some adapters have no modem lines; that is not an error.
    SysError noModemLines;
    m_port.SetRts(m_lineState.rtsEnable, &noModemLines);
    return std::nullopt;
}

// A refused setting is shown in the channel's box and handed back to OpenPort's caller.
CSerialChannel::Refusal CSerialChannel::Refuse(const std::string& callName, const SysError& error) {
    ShowPortError(callName, error);
    return {callName, error};
}

void CSerialChannel::EndMonitor() {
    if (!m_monitorThread.joinable()) return;
    if (m_bMonitorRunning) {
        RequestStop();
        // The monitor may be waiting for the window thread (this thread) to take a
        // delivery: keep serving them until it has gone.
        if (m_pOwnerWnd) {
            m_pOwnerWnd->WaitServingDeliveries([this] { return !m_bMonitorRunning.load(); });
        }
    }
    m_monitorThread.join();
}

void CSerialChannel::RetireRun() {
    if (!m_run) return;
    m_run->delivering = false;
    m_run->latest = false;
    m_run.reset();
}

void CSerialChannel::ResetEvents() {
    m_stopEvent.Reset();
    m_sendEvent.Reset();
    m_bStopRequested = false;
}

void CSerialChannel::ClosePort() {
    m_port.Close();
    m_bPortOpen = false;
}

bool CSerialChannel::StartMonitor() {
    if (m_bMonitorRunning) return false;  // one monitor per channel
    if (!m_stopEvent.IsValid() || !m_sendEvent.IsValid()) return false;
    if (m_monitorThread.joinable()) m_monitorThread.join();
    // Raised before the thread exists, so that an OpenPort right after this call
    // waits for the new monitor.
    m_bMonitorRunning = true;
    m_run = std::make_shared<MonitorRun>();
    {
        // The monitor starts on an empty line. Done here rather than on the new thread,
        // so that nothing the peer sends after this call can be purged.
        std::lock_guard lock(m_csPort);
        if (m_port.IsOpen()) m_port.Purge();
    }
    try {
        m_monitorThread = std::thread(&CSerialChannel::MonitorThread, this);
    } catch (const std::system_error&) {
        m_bMonitorRunning = false;
        return false;
    }
    return true;
}

void CSerialChannel::StopMonitor() {
    RequestStop();
}

void CSerialChannel::RequestStop() {
    // What the monitor hands over from now on, or has handed over without it being
    // handled yet, is dropped: a stopping monitor's bytes belong to a line given up.
    if (m_run) m_run->delivering = false;
    m_bStopRequested = true;
    m_stopEvent.Set();
    if (m_pOwnerWnd) m_pOwnerWnd->WakeWaiter();
}

// ---- any thread ----------------------------------------------------------------

void CSerialChannel::QueueSend(const std::uint8_t* bytes, std::size_t length) {
    if (!m_bPortOpen) {
        if (m_pOwnerWnd) m_pOwnerWnd->ShowMessageBox(kPortNotOpenText);
        return;
    }
    {
        std::lock_guard lock(m_csQueue);
        if (WriteAtOnce(bytes, length)) return;
        m_queuedFrames.emplace_back(bytes, bytes + length);
    }
    m_sendEvent.Set();
}

// With nothing queued or being written, a monitored port takes the frame from the
// sending thread at once: handing it to the monitor costs a thread wake-up, which a
// lock-step transfer would pay once per block. What the line does not take at once
// (a full driver queue), and any failure, goes to the monitor as usual, which finishes
// the write or reports the failure in order. The port's lock is only tried: OpenPort
// takes it before the queue's, and a wait here could deadlock with it.
bool CSerialChannel::WriteAtOnce(const std::uint8_t* bytes, std::size_t length) {
    if (!m_queuedFrames.empty() || m_bMonitorWriting || !m_bMonitorRunning || m_bStopRequested) {
        return false;
    }
    std::unique_lock port(m_csPort, std::try_to_lock);
    if (!port.owns_lock() || !m_port.IsOpen()) return false;
    SysError error;
    const ssize_t written = m_port.Write(bytes, length, &error);
    if (written <= 0) return false;
    if (static_cast<std::size_t>(written) < length) {
        m_queuedFrames.emplace_back(bytes + written, bytes + length);
        m_sendEvent.Set();
    }
    return true;
}

void CSerialChannel::ShowPortError(const std::string& callName, const SysError& error) {
    if (m_pOwnerWnd) {
        m_pOwnerWnd->ShowStopBox(ComposePortError(callName, error, m_nComPort), kPortErrorCaption);
    }
}

// ---- monitor thread ------------------------------------------------------------

void CSerialChannel::MonitorThread() {
    for (;;) {
        // Only this thread closes the port while it runs, so its fd is stable here.
        pollfd waits[3] = {
            {m_stopEvent.Fd(), POLLIN, 0},
            {m_port.Fd(), static_cast<short>(POLLIN | (m_writing.empty() ? 0 : POLLOUT)), 0},
            {m_sendEvent.Fd(), POLLIN, 0},
        };
        if (poll(waits, 3, -1) < 0) {
            if (errno == EINTR) continue;
            CloseOnDeviceLoss("WaitCommEvent()", SysError::FromErrno(errno));
            return;
        }
        // Stop before port event before send; what is ready is taken in that order.
        if (waits[0].revents != 0) {
            CloseOnStop();
            return;
        }
        if (waits[1].revents != 0 && OnPortEvent(waits[1].revents) == Step::kEnd) return;
        if (waits[2].revents != 0 && OnSendRequest() == Step::kEnd) return;
    }
}

CSerialChannel::Step CSerialChannel::OnPortEvent(short revents) {
    if (revents & POLLOUT) {
        if (WritePending() == Step::kEnd) return Step::kEnd;
    }
    if (!(revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) return Step::kGoOn;

    if (revents == POLLIN) LetBytesGather();

    std::vector<SerialMessage> messages;
    SysError error;
    if (!DrainInput(messages, &error)) {
        Deliver(std::move(messages));
        CloseOnDeviceLoss("ReadFile()", error);
        return Step::kEnd;
    }
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
        // The device reports a hang-up, yet a read did not fail: it is gone all the same.
        Deliver(std::move(messages));
        CloseOnDeviceLoss("WaitCommEvent()",
                          SysError::FromErrno((revents & POLLNVAL) ? EBADF : EIO));
        return Step::kEnd;
    }
    AppendMaskNotifications(messages);
    Deliver(std::move(messages));
    return Step::kGoOn;
}

void CSerialChannel::LetBytesGather() {
    using Clock = std::chrono::steady_clock;
    for (auto wait = m_gathering.Decide(Clock::now(), m_port.InputCount()); wait;
         wait = m_gathering.Decide(Clock::now(), m_port.InputCount())) {
        // A stop request ends the wait at once.
        pollfd stop{m_stopEvent.Fd(), POLLIN, 0};
        const timespec timeout{static_cast<time_t>(wait->count() / 1'000'000'000),
                               static_cast<long>(wait->count() % 1'000'000'000)};
        if (ppoll(&stop, 1, &timeout, nullptr) != 0) return;
    }
}

bool CSerialChannel::DrainInput(std::vector<SerialMessage>& messages, SysError* error) {
    std::uint8_t buffer[kReadChunk];
    while (!m_bStopRequested) {
        ssize_t count;
        {
            std::lock_guard lock(m_csPort);
            count = m_port.Read(buffer, sizeof buffer, error);
        }
        if (count < 0) return !error->IsDeviceLost();
        messages.reserve(messages.size() + static_cast<std::size_t>(count) + 8);
        for (ssize_t i = 0; i < count; ++i) {
            messages.push_back({WM_SERIAL_RXCHAR, buffer[i], m_nComPort});
        }
        // A tty read returns all that is waiting up to the buffer's size: a short read
        // has emptied the input queue, and a new byte brings a new port event.
        if (static_cast<std::size_t>(count) < sizeof buffer) break;
        Deliver(std::move(messages));
        messages.clear();
    }
    return true;
}

void CSerialChannel::AppendMaskNotifications(std::vector<SerialMessage>& messages) const {
    // The configured mask decides, not the events that occurred.
    static constexpr std::pair<std::uint32_t, unsigned> kNotifications[] = {
        {EV_CTS, WM_SERIAL_CTS},   {EV_BREAK, WM_SERIAL_BREAK},   {EV_ERR, WM_SERIAL_ERR},
        {EV_RING, WM_SERIAL_RING}, {EV_RXFLAG, WM_SERIAL_RXFLAG},
    };
    for (const auto& [bit, message] : kNotifications) {
        if (m_dwCommMask & bit) messages.push_back({message, 0, m_nComPort});
    }
}

void CSerialChannel::Deliver(std::vector<SerialMessage> messages) {
    if (messages.empty() || !m_pOwnerWnd) return;
    m_pOwnerWnd->SendSerialMessages(
        std::move(messages), [run = m_run] { return run->delivering.load(); },
        [this] { return m_bStopRequested.load(); });
}

CSerialChannel::Step CSerialChannel::OnSendRequest() {
    m_sendEvent.Reset();
    {
        std::lock_guard lock(m_csQueue);
        while (!m_queuedFrames.empty()) {
            m_writing.push_back(std::move(m_queuedFrames.front()));
            m_queuedFrames.pop_front();
        }
        m_bMonitorWriting = !m_writing.empty();
    }
    return WritePending();
}

CSerialChannel::Step CSerialChannel::WritePending() {
    while (!m_writing.empty()) {
        const std::vector<std::uint8_t>& frame = m_writing.front();
        SysError error;
        ssize_t written;
        {
            std::lock_guard lock(m_csPort);
            written =
                m_port.Write(frame.data() + m_writeOffset, frame.size() - m_writeOffset, &error);
        }
        if (written < 0) {
            if (error.IsDeviceLost()) {
                CloseOnDeviceLoss("WriteFile()", error);
                return Step::kEnd;
            }
            ShowPortError("WriteFile()", error);
            m_writing.pop_front();  // this frame is dropped; the next ones still go
            m_writeOffset = 0;
            continue;
        }
        if (written == 0) break;  // the driver's queue is full: poll for POLLOUT
        m_writeOffset += static_cast<std::size_t>(written);
        if (m_writeOffset == frame.size()) {
            m_writing.pop_front();
            m_writeOffset = 0;
        }
    }
    if (m_writing.empty()) DropWriting();
    return Step::kGoOn;
}

// No frame is being written any more: a sending thread may write the next one itself.
void CSerialChannel::DropWriting() {
    m_writing.clear();
    m_writeOffset = 0;
    std::lock_guard lock(m_csQueue);
    m_bMonitorWriting = false;
}

void CSerialChannel::CloseOnStop() {
    {
        std::lock_guard lock(m_csPort);
        ClosePort();
    }
    DropWriting();
    m_run->delivering = false;
    m_bMonitorRunning = false;
    if (m_pOwnerWnd) m_pOwnerWnd->WakeWaiter();
}

void CSerialChannel::CloseOnDeviceLoss(const std::string& callName, const SysError& error) {
    {
        std::lock_guard lock(m_csPort);
        ClosePort();
    }
    DropWriting();
    {
        std::lock_guard lock(m_csQueue);
        m_queuedFrames.clear();
    }
    // Reported once, after the port is closed, so that nothing more is queued on it;
    // then the owner learns that its line is gone.
    ShowPortError(callName, error);
    m_run->delivering = false;
    if (m_pOwnerWnd) {
        m_pOwnerWnd->NotifyDeviceLost(m_nComPort, error,
                                      [run = m_run] { return run->latest.load(); });
    }
    m_bMonitorRunning = false;
    if (m_pOwnerWnd) m_pOwnerWnd->WakeWaiter();
}

}  // namespace orvante::serial
