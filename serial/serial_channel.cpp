#include "serial/serial_channel.h"

#include <system_error>

#include "platform/thread_failure.h"
#include "serial/port_list.h"

namespace orvante::serial {

namespace {

// Received bytes handed to the window in one delivery at most; the window still
// handles them one message at a time.
constexpr std::size_t kReadChunk = 4096;

}  // namespace

std::string ComposePortError(const std::string& callName, const platform::SysError& error,
                             int port) {
    // The system's text brings its own line end on the platform this text comes from;
    // strerror's does not, so we add it.
    return "WARNING:  " + callName + " Failed with the following error: \n" + error.text +
           "\n\nPort: " + std::to_string(port) + "\n";
}

std::optional<std::string> ResolvePortFromDeviceMap(int port) {
    const DeviceMap map = ScanDeviceMap();
    const auto it = map.find(port);
    if (it == map.end()) return UnlistedPortPath(port);
    return it->second.devicePath;
}

CSerialChannel::CSerialChannel(PortResolver resolver, SerialOwner* owner)
    : m_resolver(std::move(resolver)), m_pOwnerWnd(owner) {}

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
    if (const std::optional<CallFailure>& failure = m_io.EventsFailure()) {
        ClosePort();
        ShowPortError(failure->call, failure->error);
        return {PortOpenStatus::kSystemFailure, failure->error, failure->call};
    }
    {
        // A new port starts with nothing pending: frames queued for the old one are dropped.
        std::lock_guard queueLock(m_csQueue);
        m_queuedFrames.clear();
    }
    DropWriting();
    ClosePort();

    const std::optional<std::string> path = m_resolver(portNumber);
    if (!path) return {PortOpenStatus::kNotFound, PortIo::NoSuchDevice(), {}};
    platform::SysError error;
    if (!m_io.Open(*path, &error)) return {ClassifyOpenError(error), error, {}};
    m_bPortOpen = true;

    const std::optional<CallFailure> refusal =
        ConfigurePort(FormatLineDefinition(baud, parity, dataBits, stopBits));
    m_io.Purge();
    if (refusal) return {PortOpenStatus::kSettingsRefused, refusal->error, refusal->call};
    return {PortOpenStatus::kOpened, {}, {}};
}

// A refused setting is shown in the channel's box and handed back to OpenPort's caller.
std::optional<CallFailure> CSerialChannel::ConfigurePort(const std::string& definition) {
    m_lineState.rtsEnable = true;
    m_lineState.eventChar = 'q';
    std::optional<CallFailure> refusal = m_io.Configure(definition, m_lineState);
    m_gathering = InputGathering(InputGathering::ByteTime(m_lineState));
    if (refusal) ShowPortError(refusal->call, refusal->error);
    return refusal;
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
    m_io.ResetStop();
    m_io.ResetSend();
    m_bStopRequested = false;
}

void CSerialChannel::ClosePort() {
    m_io.Close();
    m_bPortOpen = false;
}

bool CSerialChannel::StartMonitor() {
    if (m_bMonitorRunning) return false;  // one monitor per channel
    if (m_io.EventsFailure()) return false;
    if (m_monitorThread.joinable()) m_monitorThread.join();
    // Raised before the thread exists, so that an OpenPort right after this call
    // waits for the new monitor.
    m_bMonitorRunning = true;
    m_run = std::make_shared<MonitorRun>();
    {
        // The monitor starts on an empty line. Done here rather than on the new thread,
        // so that nothing the peer sends after this call can be purged.
        std::lock_guard lock(m_csPort);
        if (m_io.IsOpen()) m_io.Purge();
    }
    try {
        m_monitorThread = std::thread(
            [this] { platform::RunGuarded("serial monitor", [this] { MonitorThread(); }); });
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
    m_io.SetStop();
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
    m_io.SetSend();
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
    if (!port.owns_lock() || !m_io.IsOpen()) return false;
    platform::SysError error;
    const std::ptrdiff_t written = m_io.Write(bytes, length, &error);
    if (written <= 0) return false;
    if (static_cast<std::size_t>(written) < length) {
        m_queuedFrames.emplace_back(bytes + written, bytes + length);
        m_io.SetSend();
    }
    return true;
}

void CSerialChannel::ShowPortError(const std::string& callName, const platform::SysError& error) {
    if (m_pOwnerWnd) {
        m_pOwnerWnd->ShowStopBox(ComposePortError(callName, error, m_nComPort), kPortErrorCaption);
    }
}

// ---- monitor thread ------------------------------------------------------------

void CSerialChannel::MonitorThread() {
    for (;;) {
        PortWake wake;
        platform::SysError error;
        if (!m_io.Wait(!m_writing.empty(), &wake, &error)) {
            CloseOnDeviceLoss("WaitCommEvent()", error);
            return;
        }
        // Stop before port event before send; what is ready is taken in that order.
        if (wake.stop) {
            CloseOnStop();
            return;
        }
        if (wake.AnyFromPort() && OnPortEvent(wake) == Step::kEnd) return;
        if (wake.send && OnSendRequest() == Step::kEnd) return;
    }
}

CSerialChannel::Step CSerialChannel::OnPortEvent(const PortWake& wake) {
    if (wake.writable) {
        if (WritePending() == Step::kEnd) return Step::kEnd;
    }
    if (!wake.input && !wake.lost) return Step::kGoOn;

    // Only input, nothing to write and no hang-up: the one case worth gathering for.
    if (!wake.writable && !wake.lost) LetBytesGather();

    std::vector<SerialMessage> messages;
    platform::SysError error;
    if (!DrainInput(messages, &error)) {
        Deliver(std::move(messages));
        CloseOnDeviceLoss("ReadFile()", error);
        return Step::kEnd;
    }
    if (wake.lost) {
        // The device reports a hang-up, yet a read did not fail: it is gone all the same.
        Deliver(std::move(messages));
        CloseOnDeviceLoss("WaitCommEvent()", wake.lostError);
        return Step::kEnd;
    }
    AppendMaskNotifications(messages);
    Deliver(std::move(messages));
    return Step::kGoOn;
}

void CSerialChannel::LetBytesGather() {
    using Clock = std::chrono::steady_clock;
    for (auto wait = m_gathering.Decide(Clock::now(), m_io.InputCount()); wait;
         wait = m_gathering.Decide(Clock::now(), m_io.InputCount())) {
        // A stop request ends the wait at once.
        if (m_io.WaitForStop(*wait)) return;
    }
}

bool CSerialChannel::DrainInput(std::vector<SerialMessage>& messages, platform::SysError* error) {
    std::uint8_t buffer[kReadChunk];
    while (!m_bStopRequested) {
        std::ptrdiff_t count;
        {
            std::lock_guard lock(m_csPort);
            count = m_io.Read(buffer, sizeof buffer, error);
        }
        if (count < 0) return !error->IsDeviceLost();
        messages.reserve(messages.size() + static_cast<std::size_t>(count) + 8);
        for (std::ptrdiff_t i = 0; i < count; ++i) {
            messages.push_back({WM_SERIAL_RXCHAR, buffer[i], m_nComPort});
        }
        // A read takes all that is waiting up to the buffer's size: a short read has
        // emptied the input queue, and a new byte brings a new port event.
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
    m_io.ResetSend();
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
        platform::SysError error;
        std::ptrdiff_t written;
        {
            std::lock_guard lock(m_csPort);
            written =
                m_io.Write(frame.data() + m_writeOffset, frame.size() - m_writeOffset, &error);
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
        if (written == 0) break;  // the driver's queue is full: wait until it has room
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

void CSerialChannel::CloseOnDeviceLoss(const std::string& callName,
                                       const platform::SysError& error) {
    {
        std::lock_guard lock(m_csPort);
        ClosePort();
    }
    DropWriting();
    {
        std::lock_guard lock(m_csQueue);
        m_queuedFrames.clear();
    }
    // The owner learns first, on this thread, that its line is gone, so that what rides
    // on it (a transfer) ends at once; then the loss is reported once in the box, which
    // may stay open a while. Both after the port is closed, so that nothing more is
    // queued on it.
    m_run->delivering = false;
    if (m_pOwnerWnd) {
        m_pOwnerWnd->NotifyDeviceLost(m_nComPort, error,
                                      [run = m_run] { return run->latest.load(); });
    }
    ShowPortError(callName, error);
    m_bMonitorRunning = false;
    if (m_pOwnerWnd) m_pOwnerWnd->WakeWaiter();
}

}  // namespace orvante::serial
