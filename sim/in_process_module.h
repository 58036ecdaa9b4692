// The virtual module as a port inside the program: the channel's bytes go straight to
// the model and its replies come back as a line would bring them, paced at the rate the
// channel set (10 bits a byte), so a transfer takes as long as over a cable. A thread of
// its own hands each piece of a reply over when it is due; it sleeps until then, and
// while nothing is due it sleeps until the channel writes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "serial/in_process_port.h"
#include "sim/virtual_module.h"

namespace orvante::sim {

class InProcessModule final : public serial::InProcessPort {
public:
    // Serves `module` with `faults` (their rate is replaced by the channel's). `closed`
    // is told the module's kept state when the port closes, to keep it for the next run.
    InProcessModule(VirtualModule module, const Faults& faults,
                    std::function<void(const KeptState&)> closed = {});
    ~InProcessModule() override;
    InProcessModule(const InProcessModule&) = delete;
    InProcessModule& operator=(const InProcessModule&) = delete;

    void SetWake(std::function<void()> wake) override;
    std::optional<serial::CallFailure> Configure(const std::string& definition,
                                                 serial::LineSettings& settings) override;
    void Purge() override;
    std::size_t InputCount() override;
    std::ptrdiff_t Read(std::uint8_t* buffer, std::size_t size, platform::SysError* error) override;
    std::ptrdiff_t Write(const std::uint8_t* data, std::size_t size,
                         platform::SysError* error) override;
    bool IsLost(platform::SysError* error) override;

    // The device goes away, as a pulled cable would take it.
    void Unplug();
    // Runs `look` on the model while the line leaves it alone.
    void Inspect(const std::function<void(const VirtualModule&)>& look);

private:
    void RunLine();
    void WakeChannel();

    std::mutex mutex_;  //!< Protects everything below but the thread
    std::condition_variable changed_;
    VirtualModule module_;
    Faults faults_;
    std::function<void(const KeptState&)> closed_;
    std::function<void()> wake_;
    std::deque<std::uint8_t> input_;  // bytes that have crossed the line, not yet read
    bool lost_ = false;
    bool stopping_ = false;
    std::thread line_;
};

}  // namespace orvante::sim
