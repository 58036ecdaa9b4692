#include "bench/sim_process.h"

#include <signal.h>

#include <cstdio>

namespace orvante::bench {

SimProcess::SimProcess(const std::vector<std::string>& options)
    : process_(ORVANTE_SIM_PROGRAM, options) {
    // The ready line: "orvante-sim: COM99 -> /dev/pts/7 (address 1234)".
    const std::string line = process_.Out().ReadLine(std::chrono::seconds(10));
    char path[256] = {};
    if (std::sscanf(line.c_str(), "orvante-sim: COM%d -> %255s", &port_, path) != 2) {
        port_ = 0;
        return;
    }
    ttyPath_ = path;
}

SimProcess::~SimProcess() {
    process_.Signal(SIGTERM);
    process_.WaitForEnd();
}

}  // namespace orvante::bench
