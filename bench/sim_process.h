// The virtual module as its own process (orvante-sim), so that what the benchmark's
// process spends is the console's alone.
#pragma once

#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace orvante::bench {

class SimProcess {
public:
    // Starts orvante-sim with `options` in the current XDG_RUNTIME_DIR and waits for its
    // ready line; IsReady() tells whether it came.
    explicit SimProcess(const std::vector<std::string>& options);
    // Ends it with SIGTERM (it removes its port) and waits for it.
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool IsReady() const { return port_ > 0; }
    int PortNumber() const { return port_; }
    const std::string& TtyPath() const { return ttyPath_; }

private:
    test::ChildProcess process_;
    int port_ = 0;
    std::string ttyPath_;
};

}  // namespace orvante::bench
