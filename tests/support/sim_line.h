// The virtual module on a published pseudo-terminal, served by a thread, for tests that
// drive the console's serial channel against it.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "serial/event_fd.h"
#include "sim/line_server.h"
#include "sim/published_port.h"
#include "sim/virtual_module.h"

namespace orvante::test {

struct SimLineOptions {
    sim::ModuleConfig module;
    std::optional<int> portNumber;  // default: 99 or the first free number above
    std::string portsDir;           // default: the ports directory of the environment
};

class SimLine {
public:
    explicit SimLine(const SimLineOptions& options = {});
    // Stops the server thread and joins it; the COM entry goes with the port.
    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    const std::string& SlavePath() const { return port_.SlavePath(); }
    const std::string& LinkPath() const { return port_.LinkPath(); }
    int PortNumber() const { return port_.Number(); }

    // Runs `use` on the module under the server's lock (the model is not thread-safe).
    void WithModule(const std::function<void(sim::VirtualModule&)>& use);
    // Waits until `condition` holds for the module, at most `timeout`.
    bool WaitUntil(const std::function<bool(const sim::VirtualModule&)>& condition,
                   std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool WaitForFramesReceived(std::uint64_t count,
                               std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Whether the server is still serving (it ends early only when the line is lost).
    bool IsServing();

private:
    sim::PublishedPort port_;
    sim::VirtualModule module_;
    sim::LineServer server_;
    serial::EventFd stop_;
    std::mutex endMutex_;  //!< Protects end_
    std::optional<sim::LineServer::End> end_;
    std::thread thread_;
};

}  // namespace orvante::test
