// The port layer over POSIX: a termios device (PortDevice), two eventfds as the stop
// and send events, and poll over [stop, port, send]. An in-process port takes the
// device's place, with an eventfd of its own that it sets when it has news.
#include <poll.h>

#include <cerrno>
#include <ctime>

#include "serial/event_fd.h"
#include "serial/in_process_port.h"
#include "serial/port_device.h"
#include "serial/port_io.h"

namespace orvante::serial {

struct PortIo::State {
    PortDevice port;
    EventFd stop;
    EventFd send;
    std::unique_ptr<InProcessPort> inProcess;  // in place of `port` when open
    std::shared_ptr<EventFd> inProcessNews;    // set by the in-process port
    std::optional<CallFailure> eventsFailure;
};

PortIo::PortIo() : state_(std::make_unique<State>()) {
    state_->inProcessNews = std::make_shared<EventFd>();
    if (!state_->stop.IsValid() || !state_->send.IsValid() || !state_->inProcessNews->IsValid()) {
        state_->eventsFailure = CallFailure{"eventfd()", platform::SysError::FromErrno(errno)};
    }
}

PortIo::~PortIo() = default;

const std::optional<CallFailure>& PortIo::EventsFailure() const {
    return state_->eventsFailure;
}

void PortIo::SetStop() {
    state_->stop.Set();
}

void PortIo::ResetStop() {
    state_->stop.Reset();
}

void PortIo::SetSend() {
    state_->send.Set();
}

void PortIo::ResetSend() {
    state_->send.Reset();
}

platform::SysError PortIo::NoSuchDevice() {
    return platform::SysError::FromErrno(ENOENT);
}

bool PortIo::Open(const std::string& path, platform::SysError* error) {
    Close();
    if (!IsInProcessPortName(path)) return state_->port.Open(path, error);
    state_->inProcess = OpenInProcessPort(path, error);
    if (!state_->inProcess) return false;
    state_->inProcessNews->Reset();
    // The event outlives neither the port nor this object: the port goes first.
    state_->inProcess->SetWake([news = state_->inProcessNews] { news->Set(); });
    return true;
}

void PortIo::Close() {
    state_->inProcess.reset();
    state_->port.Close();
}

bool PortIo::IsOpen() const {
    return state_->inProcess != nullptr || state_->port.IsOpen();
}

std::optional<CallFailure> PortIo::Configure(const std::string& definition,
                                             LineSettings& settings) {
    if (state_->inProcess) return state_->inProcess->Configure(definition, settings);
    // Time-outs and the event mask need no call here: the monitor waits in poll and
    // reads only what is there, and the channel keeps the mask itself.
    PortDevice& port = state_->port;
    KernelTermios current;
    platform::SysError error;
    if (!port.GetState(&current, &error)) return CallFailure{"GetCommState()", error};
    const std::optional<LineSettings> parsed = ParseLineDefinition(definition, settings);
    if (!parsed) return CallFailure{"BuildCommDCB()", platform::SysError::FromErrno(EINVAL)};
    settings = *parsed;
    if (!port.SetState(MakeRawTermios(current, settings), &error)) {
        return CallFailure{"SetCommState()", error};
    }
    // Pseudo-terminals and some adapters have no modem lines; that is not an error.
    platform::SysError noModemLines;
    port.SetRts(settings.rtsEnable, &noModemLines);
    return std::nullopt;
}

void PortIo::Purge() {
    if (state_->inProcess) return state_->inProcess->Purge();
    state_->port.Purge();
}

std::size_t PortIo::InputCount() {
    if (state_->inProcess) return state_->inProcess->InputCount();
    return state_->port.InputCount();
}

std::ptrdiff_t PortIo::Read(std::uint8_t* buffer, std::size_t size, platform::SysError* error) {
    if (state_->inProcess) return state_->inProcess->Read(buffer, size, error);
    return state_->port.Read(buffer, size, error);
}

std::ptrdiff_t PortIo::Write(const std::uint8_t* data, std::size_t size,
                             platform::SysError* error) {
    if (state_->inProcess) return state_->inProcess->Write(data, size, error);
    return state_->port.Write(data, size, error);
}

bool PortIo::Wait(bool wantWrite, PortWake* wake, platform::SysError* error) {
    if (state_->inProcess) return WaitInProcess(wantWrite, wake, error);
    // Only the monitor thread closes the port while it waits, so its fd is stable here.
    pollfd waits[3] = {
        {state_->stop.Fd(), POLLIN, 0},
        {state_->port.Fd(), static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0},
        {state_->send.Fd(), POLLIN, 0},
    };
    while (poll(waits, 3, -1) < 0) {
        if (errno != EINTR) {
            *error = platform::SysError::FromErrno(errno);
            return false;
        }
    }
    const short port = waits[1].revents;
    *wake = PortWake{};
    wake->stop = waits[0].revents != 0;
    wake->input = (port & POLLIN) != 0;
    wake->writable = (port & POLLOUT) != 0;
    wake->lost = (port & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    // A hang-up whose read did not fail still means the device is gone.
    if (wake->lost)
        wake->lostError = platform::SysError::FromErrno((port & POLLNVAL) ? EBADF : EIO);
    wake->send = waits[2].revents != 0;
    return true;
}

// An in-process port takes every write whole, so it is always writable; its news
// event says that input came or the port was lost, which the port itself then tells.
bool PortIo::WaitInProcess(bool wantWrite, PortWake* wake, platform::SysError* error) {
    *wake = PortWake{};
    wake->writable = wantWrite;
    InProcessPort& port = *state_->inProcess;
    for (;;) {
        // Reset before looking, so that news that comes after the look sets it again.
        state_->inProcessNews->Reset();
        wake->input = port.InputCount() > 0;
        wake->lost = port.IsLost(&wake->lostError);
        const bool portReady = wake->AnyFromPort();
        pollfd waits[3] = {
            {state_->stop.Fd(), POLLIN, 0},
            {state_->inProcessNews->Fd(), POLLIN, 0},
            {state_->send.Fd(), POLLIN, 0},
        };
        while (poll(waits, 3, portReady ? 0 : -1) < 0) {
            if (errno != EINTR) {
                *error = platform::SysError::FromErrno(errno);
                return false;
            }
        }
        wake->stop = waits[0].revents != 0;
        wake->send = waits[2].revents != 0;
        if (wake->stop || wake->send || portReady) return true;
    }
}

bool PortIo::WaitForStop(std::chrono::nanoseconds timeout) {
    pollfd stop{state_->stop.Fd(), POLLIN, 0};
    const timespec wait{static_cast<time_t>(timeout.count() / 1'000'000'000),
                        static_cast<long>(timeout.count() % 1'000'000'000)};
    return ppoll(&stop, 1, &wait, nullptr) != 0;
}

}  // namespace orvante::serial
