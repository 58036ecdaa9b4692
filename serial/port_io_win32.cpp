// The port layer over the Win32 comm API: "\\.\COM<n>" opened exclusively and
// overlapped, read time-outs that never wait, and the monitor's wait on the stop event,
// the overlapped comm event and the send event with WaitForMultipleObjects. An
// in-process port takes the device's place, with an event of its own that it sets when
// it has news.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/wide_text.h"
#include "serial/in_process_port.h"
#include "serial/port_io.h"

// Windows 10 1803 and later; MinGW's headers may not name it yet.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace orvante::serial {

namespace {

// Owns a kernel handle; closes it when replaced or destroyed.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { Reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE Get() const { return handle_; }
    HANDLE Release() {
        const HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    bool IsValid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE handle = nullptr) {
        if (IsValid()) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

HANDLE NewManualResetEvent() {
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

platform::SysError LastError() {
    return platform::SysError::FromSystemCode(GetLastError());
}

// A failure of a call on the port once it is open.
platform::SysError LastDeviceError() {
    return platform::SysError::FromDeviceCall(GetLastError());
}

bool IsSignalled(HANDLE handle) {
    return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
}

// Drivers that program a divisor may report the rate they really run at; a line still
// works when both ends are within about 2 % of each other.
bool RateKept(DWORD requested, DWORD actual) {
    return std::abs(static_cast<double>(actual) - requested) <= 0.02 * requested;
}

// The longest a write may take before it is given up: the frame's time on the line and
// a second for a driver that holds it back.
DWORD WriteTimeoutMs(std::size_t size, DWORD baudRate) {
    const double lineMs = baudRate > 0 ? 10'000.0 * static_cast<double>(size) / baudRate : 0;
    return 1000 + static_cast<DWORD>(std::min(lineMs, 600'000.0));
}

}  // namespace

struct PortIo::State {
    Handle port;
    Handle stop;
    Handle send;
    Handle commEventDone;
    Handle ioDone;  // reads and writes, which run one at a time on the monitor's side
    Handle gatherTimer;
    std::shared_ptr<Handle> inProcessNews;     // set by the in-process port
    std::unique_ptr<InProcessPort> inProcess;  // in place of `port` when open
    std::optional<CallFailure> eventsFailure;

    OVERLAPPED commWait{};
    DWORD commEvents = 0;
    bool commPending = false;
    int abortedWaits = 0;  // comm waits in a row that ended aborted on a working port

    DWORD baudRate = 0;
    bool restoreOnClose = false;
    DCB originalState{};
    COMMTIMEOUTS originalTimeouts{};

    // Ends a pending comm wait (SetCommMask ends it at once) and waits for it to be done,
    // so that its OVERLAPPED is free before the handle closes or a new wait starts.
    void EndCommWait() {
        if (!commPending) return;
        SetCommMask(port.Get(), 0);
        DWORD ignored = 0;
        GetOverlappedResult(port.Get(), &commWait, &ignored, TRUE);
        commPending = false;
    }
};

PortIo::PortIo() : state_(std::make_unique<State>()) {
    state_->stop.Reset(NewManualResetEvent());
    state_->send.Reset(NewManualResetEvent());
    state_->commEventDone.Reset(NewManualResetEvent());
    state_->ioDone.Reset(NewManualResetEvent());
    state_->inProcessNews = std::make_shared<Handle>(NewManualResetEvent());
    if (!state_->stop.IsValid() || !state_->send.IsValid() || !state_->commEventDone.IsValid() ||
        !state_->ioDone.IsValid() || !state_->inProcessNews->IsValid()) {
        state_->eventsFailure = CallFailure{"CreateEvent()", LastError()};
    }
    // A timer that keeps sub-millisecond waits short; older systems have only the
    // ordinary one, whose waits may last a scheduler tick.
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    if (timer == nullptr) timer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
    state_->gatherTimer.Reset(timer);
}

PortIo::~PortIo() {
    Close();
}

const std::optional<CallFailure>& PortIo::EventsFailure() const {
    return state_->eventsFailure;
}

void PortIo::SetStop() {
    SetEvent(state_->stop.Get());
}

void PortIo::ResetStop() {
    ResetEvent(state_->stop.Get());
}

void PortIo::SetSend() {
    SetEvent(state_->send.Get());
}

void PortIo::ResetSend() {
    ResetEvent(state_->send.Get());
}

platform::SysError PortIo::NoSuchDevice() {
    return platform::SysError::FromSystemCode(ERROR_FILE_NOT_FOUND);
}

bool PortIo::Open(const std::string& path, platform::SysError* error) {
    Close();
    if (IsInProcessPortName(path)) {
        state_->inProcess = OpenInProcessPort(path, error);
        if (!state_->inProcess) return false;
        ResetEvent(state_->inProcessNews->Get());
        // The event outlives neither the port nor this object: the port goes first.
        state_->inProcess->SetWake([news = state_->inProcessNews] { SetEvent(news->Get()); });
        return true;
    }
    Handle port(CreateFileW(platform::WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!port.IsValid()) {
        *error = LastError();
        return false;
    }
    State& s = *state_;
    s.originalState.DCBlength = sizeof(DCB);
    s.restoreOnClose = GetCommState(port.Get(), &s.originalState) &&
                       GetCommTimeouts(port.Get(), &s.originalTimeouts);
    // A read takes what is queued and returns at once, also when nothing is.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!SetCommTimeouts(port.Get(), &timeouts) || !SetCommMask(port.Get(), EV_RXCHAR)) {
        *error = LastError();
        return false;
    }
    s.port.Reset(port.Release());
    return true;
}

void PortIo::Close() {
    State& s = *state_;
    s.inProcess.reset();
    if (!s.port.IsValid()) return;
    s.EndCommWait();
    if (s.restoreOnClose) {
        SetCommState(s.port.Get(), &s.originalState);
        SetCommTimeouts(s.port.Get(), &s.originalTimeouts);
    }
    s.restoreOnClose = false;
    s.port.Reset();
    s.baudRate = 0;
}

bool PortIo::IsOpen() const {
    return state_->inProcess != nullptr || state_->port.IsValid();
}

std::optional<CallFailure> PortIo::Configure(const std::string& definition,
                                             LineSettings& settings) {
    State& s = *state_;
    if (s.inProcess) return s.inProcess->Configure(definition, settings);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(s.port.Get(), &dcb)) return CallFailure{"GetCommState()", LastError()};
    // The definition must be one the console writes; BuildCommDCB alone would also take
    // mark and space parity and other forms.
    const std::optional<LineSettings> parsed = ParseLineDefinition(definition, settings);
    if (!parsed) {
        return CallFailure{"BuildCommDCB()",
                           platform::SysError::FromSystemCode(ERROR_INVALID_PARAMETER)};
    }
    if (!BuildCommDCBW(platform::WideFromUtf8(definition).c_str(), &dcb)) {
        return CallFailure{"BuildCommDCB()", LastError()};
    }
    settings = *parsed;
    dcb.fBinary = TRUE;
    dcb.fAbortOnError = FALSE;
    dcb.fNull = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = settings.rtsEnable ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.EvtChar = settings.eventChar;
    if (!SetCommState(s.port.Get(), &dcb)) return CallFailure{"SetCommState()", LastError()};
    // Some drivers (and Wine) round a rate they cannot run silently: read it back.
    DCB applied{};
    applied.DCBlength = sizeof applied;
    if (!GetCommState(s.port.Get(), &applied)) return CallFailure{"GetCommState()", LastError()};
    if (!RateKept(dcb.BaudRate, applied.BaudRate)) {
        return CallFailure{"SetCommState()",
                           platform::SysError::FromSystemCode(ERROR_INVALID_PARAMETER)};
    }
    s.baudRate = applied.BaudRate;
    return std::nullopt;
}

void PortIo::Purge() {
    if (state_->inProcess) return state_->inProcess->Purge();
    if (IsOpen()) PurgeComm(state_->port.Get(), PURGE_RXCLEAR | PURGE_TXCLEAR);
}

std::size_t PortIo::InputCount() {
    if (state_->inProcess) return state_->inProcess->InputCount();
    DWORD errors = 0;
    COMSTAT status{};
    if (!IsOpen() || !ClearCommError(state_->port.Get(), &errors, &status)) return 0;
    return status.cbInQue;
}

std::ptrdiff_t PortIo::Read(std::uint8_t* buffer, std::size_t size, platform::SysError* error) {
    State& s = *state_;
    if (s.inProcess) return s.inProcess->Read(buffer, size, error);
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(s.port.Get(), &errors, &status)) {
        *error = LastDeviceError();
        return -1;
    }
    // Exactly what is queued: a read of an empty queue may stay pending on some drivers.
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(status.cbInQue, size));
    if (wanted == 0) return 0;
    OVERLAPPED read{};
    read.hEvent = s.ioDone.Get();
    ResetEvent(read.hEvent);
    DWORD count = 0;
    if (!ReadFile(s.port.Get(), buffer, wanted, nullptr, &read)) {
        const DWORD code = GetLastError();
        if (code != ERROR_IO_PENDING) {
            *error = platform::SysError::FromDeviceCall(code);
            return -1;
        }
        // The bytes are there, so this ends at once; a driver that holds on is given up.
        if (WaitForSingleObject(read.hEvent, 1000) != WAIT_OBJECT_0) {
            CancelIoEx(s.port.Get(), &read);
        }
    }
    if (!GetOverlappedResult(s.port.Get(), &read, &count, TRUE)) {
        const DWORD code = GetLastError();
        if (code == ERROR_OPERATION_ABORTED) return static_cast<std::ptrdiff_t>(count);
        *error = platform::SysError::FromDeviceCall(code);
        return -1;
    }
    return static_cast<std::ptrdiff_t>(count);
}

// A write ends when the driver has taken the bytes, at once unless its queue is full;
// it is waited for here, with a bound, so that no write is left in flight.
std::ptrdiff_t PortIo::Write(const std::uint8_t* data, std::size_t size,
                             platform::SysError* error) {
    if (size == 0) return 0;
    State& s = *state_;
    if (s.inProcess) return s.inProcess->Write(data, size, error);
    OVERLAPPED write{};
    write.hEvent = s.ioDone.Get();
    ResetEvent(write.hEvent);
    const DWORD length = static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
    if (!WriteFile(s.port.Get(), data, length, nullptr, &write)) {
        const DWORD code = GetLastError();
        if (code != ERROR_IO_PENDING) {
            *error = platform::SysError::FromDeviceCall(code);
            return -1;
        }
        if (WaitForSingleObject(write.hEvent, WriteTimeoutMs(length, s.baudRate)) !=
            WAIT_OBJECT_0) {
            CancelIoEx(s.port.Get(), &write);
        }
    }
    DWORD written = 0;
    if (!GetOverlappedResult(s.port.Get(), &write, &written, TRUE)) {
        const DWORD code = GetLastError();
        if (code == ERROR_OPERATION_ABORTED) return static_cast<std::ptrdiff_t>(written);
        *error = platform::SysError::FromDeviceCall(code);
        return -1;
    }
    return static_cast<std::ptrdiff_t>(written);
}

bool PortIo::Wait(bool wantWrite, PortWake* wake, platform::SysError* error) {
    State& s = *state_;
    if (s.inProcess) return WaitInProcess(wantWrite, wake, error);
    *wake = PortWake{};
    // A write that found the driver's queue full was already waited for in Write; the
    // next one may be tried at once.
    wake->writable = wantWrite;
    for (;;) {
        // EV_RXCHAR reports bytes as they arrive, not while they wait: bytes queued before
        // the wait is armed are found by looking at the queue.
        if (!s.commPending) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!ClearCommError(s.port.Get(), &errors, &status)) {
                wake->lost = true;
                wake->lostError = LastDeviceError();
                return true;
            }
            if (status.cbInQue > 0) wake->input = true;
        }
        if (!s.commPending && !wake->input) {
            s.commWait = OVERLAPPED{};
            s.commWait.hEvent = s.commEventDone.Get();
            ResetEvent(s.commWait.hEvent);
            s.commEvents = 0;
            if (WaitCommEvent(s.port.Get(), &s.commEvents, &s.commWait)) {
                wake->input = (s.commEvents & EV_RXCHAR) != 0;
            } else if (GetLastError() == ERROR_IO_PENDING) {
                s.commPending = true;
            } else {
                wake->lost = true;
                wake->lostError = LastDeviceError();
                return true;
            }
        }
        const bool portReady = wake->input || wake->writable;
        const HANDLE waits[3] = {s.stop.Get(), s.commEventDone.Get(), s.send.Get()};
        const DWORD result =
            WaitForMultipleObjects(s.commPending ? 3 : 1, waits, FALSE, portReady ? 0 : INFINITE);
        if (result == WAIT_FAILED) {
            *error = LastDeviceError();
            return false;
        }
        wake->stop = IsSignalled(s.stop.Get());
        wake->send = IsSignalled(s.send.Get());
        if (s.commPending && IsSignalled(s.commEventDone.Get())) {
            s.commPending = false;
            DWORD ignored = 0;
            BOOL done = GetOverlappedResult(s.port.Get(), &s.commWait, &ignored, FALSE);
            if (!done && GetLastError() == ERROR_IO_INCOMPLETE) {
                // Its event is set, yet the result is not there (seen under Wine): the
                // result follows the event at once.
                done = GetOverlappedResult(s.port.Get(), &s.commWait, &ignored, TRUE);
            }
            if (done) {
                s.abortedWaits = 0;
                if (s.commEvents & EV_RXCHAR) wake->input = true;
            } else {
                const DWORD code = GetLastError();
                // An aborted wait also comes from a driver's quirk: the port's state says
                // whether the device is still there, and a wait that keeps ending so
                // cannot be waited on.
                DWORD errors = 0;
                COMSTAT status{};
                if (code != ERROR_OPERATION_ABORTED || ++s.abortedWaits > 3 ||
                    !ClearCommError(s.port.Get(), &errors, &status)) {
                    wake->lost = true;
                    wake->lostError = platform::SysError::FromDeviceCall(
                        code == ERROR_OPERATION_ABORTED ? GetLastError() : code);
                }
            }
        }
        if (wake->stop || wake->send || wake->AnyFromPort()) return true;
    }
}

// An in-process port takes every write whole, so it is always writable; its news
// event says that input came or the port was lost, which the port itself then tells.
bool PortIo::WaitInProcess(bool wantWrite, PortWake* wake, platform::SysError* error) {
    State& s = *state_;
    *wake = PortWake{};
    wake->writable = wantWrite;
    for (;;) {
        // Reset before looking, so that news that comes after the look sets it again.
        ResetEvent(s.inProcessNews->Get());
        wake->input = s.inProcess->InputCount() > 0;
        wake->lost = s.inProcess->IsLost(&wake->lostError);
        const bool portReady = wake->AnyFromPort();
        const HANDLE waits[3] = {s.stop.Get(), s.inProcessNews->Get(), s.send.Get()};
        if (WaitForMultipleObjects(3, waits, FALSE, portReady ? 0 : INFINITE) == WAIT_FAILED) {
            *error = LastError();
            return false;
        }
        wake->stop = IsSignalled(s.stop.Get());
        wake->send = IsSignalled(s.send.Get());
        if (wake->stop || wake->send || portReady) return true;
    }
}

bool PortIo::WaitForStop(std::chrono::nanoseconds timeout) {
    State& s = *state_;
    if (!s.gatherTimer.IsValid()) return true;
    LARGE_INTEGER due{};
    due.QuadPart = -std::max<std::int64_t>(1, timeout.count() / 100);  // relative, 100 ns units
    if (!SetWaitableTimer(s.gatherTimer.Get(), &due, 0, nullptr, nullptr, FALSE)) return true;
    const HANDLE waits[2] = {s.stop.Get(), s.gatherTimer.Get()};
    const DWORD result = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    return result != WAIT_OBJECT_0 + 1;
}

}  // namespace orvante::serial
