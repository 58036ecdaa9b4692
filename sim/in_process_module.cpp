#include "sim/in_process_module.h"

#include <algorithm>
#include <cerrno>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "platform/thread_failure.h"
#include "serial/port_io.h"

namespace orvante::sim {

InProcessModule::InProcessModule(VirtualModule module, const Faults& faults,
                                 std::function<void(const KeptState&)> closed)
    : module_(std::move(module)), faults_(faults), closed_(std::move(closed)) {
    module_.SetFaults(faults_);
    line_ =
        std::thread([this] { platform::RunGuarded("in-process module", [this] { RunLine(); }); });
}

InProcessModule::~InProcessModule() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    line_.join();
    if (closed_) closed_(module_.Kept());
}

void InProcessModule::SetWake(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
}

std::optional<serial::CallFailure> InProcessModule::Configure(const std::string& definition,
                                                              serial::LineSettings& settings) {
    const std::optional<serial::LineSettings> parsed =
        serial::ParseLineDefinition(definition, settings);
    if (!parsed) {
        return serial::CallFailure{"BuildCommDCB()", platform::SysError::FromErrno(EINVAL)};
    }
    settings = *parsed;
    std::lock_guard lock(mutex_);
    Faults paced = faults_;
    paced.baud = settings.baudRate;
    module_.SetFaults(paced);
    return std::nullopt;
}

void InProcessModule::Purge() {
    std::lock_guard lock(mutex_);
    input_.clear();
}

std::size_t InProcessModule::InputCount() {
    std::lock_guard lock(mutex_);
    return input_.size();
}

std::ptrdiff_t InProcessModule::Read(std::uint8_t* buffer, std::size_t size,
                                     platform::SysError* error) {
    std::lock_guard lock(mutex_);
    if (lost_ && input_.empty()) {
        *error = platform::SysError::FromErrno(EIO);
        return -1;
    }
    const std::size_t count = std::min(size, input_.size());
    std::copy_n(input_.begin(), count, buffer);
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(count));
    return static_cast<std::ptrdiff_t>(count);
}

std::ptrdiff_t InProcessModule::Write(const std::uint8_t* data, std::size_t size,
                                      platform::SysError* error) {
    {
        std::lock_guard lock(mutex_);
        if (lost_) {
            *error = platform::SysError::FromErrno(EIO);
            return -1;
        }
        module_.Receive(std::span(data, size), Clock::now());
    }
    // The reply it makes may be due before what the line waits for now.
    changed_.notify_all();
    return static_cast<std::ptrdiff_t>(size);
}

bool InProcessModule::IsLost(platform::SysError* error) {
    std::lock_guard lock(mutex_);
    if (lost_) *error = platform::SysError::FromErrno(EIO);
    return lost_;
}

void InProcessModule::Unplug() {
    {
        std::lock_guard lock(mutex_);
        lost_ = true;
        WakeChannel();
    }
    changed_.notify_all();
}

void InProcessModule::Inspect(const std::function<void(const VirtualModule&)>& look) {
    std::lock_guard lock(mutex_);
    look(module_);
}

void InProcessModule::WakeChannel() {
    if (wake_) wake_();
}

// Hands each piece of the module's output over when it has crossed the line, and
// sleeps until the next one is due; with nothing due, until the channel writes.
void InProcessModule::RunLine() {
#ifdef __linux__
    // A timed wait may end up to the thread's timer slack late (50 us by default): at
    // 230400 baud that is more than a byte, paid once a block in a lock-step transfer.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        bool arrived = false;
        for (const Outgoing& piece : module_.TakeDue(Clock::now())) {
            if (lost_) continue;
            input_.insert(input_.end(), piece.bytes.begin(), piece.bytes.end());
            arrived = arrived || !piece.bytes.empty();
        }
        if (arrived) WakeChannel();
        if (const std::optional<TimePoint> due = module_.NextDue()) {
            changed_.wait_until(lock, *due);
        } else {
            changed_.wait(lock);
        }
    }
}

}  // namespace orvante::sim
