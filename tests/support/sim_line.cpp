#include "tests/support/sim_line.h"

#include "tests/support/wait.h"

namespace orvante::test {

SimLine::SimLine(const SimLineOptions& options)
    : port_(options.portNumber, options.portsDir.empty()
                                    ? sim::PublishedPort::DefaultPortsDirectory()
                                    : options.portsDir),
      module_(options.module),
      server_(module_, port_.MasterFd()) {
    thread_ = std::thread([this] {
        const sim::LineServer::End end = server_.Run(stop_.Fd());
        std::lock_guard lock(endMutex_);
        end_ = end;
    });
}

SimLine::~SimLine() {
    stop_.Set();
    thread_.join();
}

void SimLine::WithModule(const std::function<void(sim::VirtualModule&)>& use) {
    server_.WithModule(use);
}

bool SimLine::WaitUntil(const std::function<bool(const sim::VirtualModule&)>& condition,
                        std::chrono::milliseconds timeout) {
    return WaitFor(
        [&] {
            bool holds = false;
            server_.Inspect([&](const sim::VirtualModule& module) { holds = condition(module); });
            return holds;
        },
        timeout);
}

bool SimLine::WaitForFramesReceived(std::uint64_t count, std::chrono::milliseconds timeout) {
    return WaitUntil(
        [count](const sim::VirtualModule& module) {
            return module.Counters().framesReceived >= count;
        },
        timeout);
}

bool SimLine::IsServing() {
    std::lock_guard lock(endMutex_);
    return !end_.has_value();
}

}  // namespace orvante::test
