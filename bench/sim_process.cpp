#include "bench/sim_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace orvante::bench {

namespace {

constexpr int kReadyTimeoutMs = 10000;

// The ready line: "orvante-sim: COM99 -> /dev/pts/7 (address 1234)".
bool ParseReadyLine(const std::string& line, int* port, std::string* ttyPath) {
    char path[256] = {};
    if (std::sscanf(line.c_str(), "orvante-sim: COM%d -> %255s", port, path) != 2) return false;
    *ttyPath = path;
    return true;
}

}  // namespace

SimProcess::SimProcess(const std::vector<std::string>& options) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv{const_cast<char*>(ORVANTE_SIM_PROGRAM)};
        for (const std::string& option : options) argv.push_back(const_cast<char*>(option.c_str()));
        argv.push_back(nullptr);
        execv(ORVANTE_SIM_PROGRAM, argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string line;
    pollfd wait{out[0], POLLIN, 0};
    while (pid_ > 0 && poll(&wait, 1, kReadyTimeoutMs) > 0) {
        char c;
        if (read(out[0], &c, 1) != 1) break;
        if (c != '\n') {
            line += c;
            continue;
        }
        if (ParseReadyLine(line, &port_, &ttyPath_)) break;
        line.clear();
    }
    close(out[0]);
}

SimProcess::~SimProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status;
    waitpid(pid_, &status, 0);
}

}  // namespace orvante::bench
