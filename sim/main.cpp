// orvante-sim: the virtual module on a pseudo-terminal, published as a COM port.
#include <signal.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "sim/line_server.h"
#include "sim/program_options.h"
#include "sim/published_port.h"
#include "sim/task_state_file.h"
#include "sim/unique_fd.h"
#include "sim/virtual_module.h"

namespace {

using namespace orvante::sim;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void Report(const std::string& text) {
    std::fprintf(stderr, "orvante-sim: %s\n", text.c_str());
}

// The end signals arrive on a signalfd, which the server polls as its stop descriptor:
// no work happens in a signal handler, and the COM entry is removed on the way out.
UniqueFd BlockEndSignals() {
    // A shell starts background jobs with SIGINT ignored, and an ignored signal never
    // reaches the signalfd. SIGHUP keeps what it inherited, so that nohup still works.
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    // A reader of our output that went away must not end us before the cleanup.
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) return UniqueFd();
    return UniqueFd(signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
}

// Loads the tasks kept from the last run and saves them whenever a request writes them.
bool KeepTasksInFile(VirtualModule& module, const std::string& path) {
    TaskBytes tasks{};
    std::string error;
    if (LoadTaskStateFile(path, &tasks, &error) == LoadResult::kRefused) {
        Report("state file " + path + ": " + error);
        return false;
    }
    module.SetTasks(tasks);
    module.SetTasksObserver([path](const TaskBytes& written) {
        std::string saveError;
        if (!SaveTaskStateFile(path, written, &saveError)) {
            Report("cannot save the timed tasks: " + saveError);
        }
    });
    return true;
}

int Serve(const ProgramOptions& options, int stopFd) {
    VirtualModule module(options.module);
    module.SetFaults(options.faults);
    if (!options.stateFile.empty() && !KeepTasksInFile(module, options.stateFile)) {
        return kExitFailure;
    }
    const PublishedPort port(options.port);
    LineServer::Log log;
    if (options.verbose) log = [](const std::string& line) { Report(line); };
    LineServer server(module, port.MasterFd(), log);

    std::printf("orvante-sim: COM%d -> %s (address %04X)\n", port.Number(),
                port.SlavePath().c_str(), module.Address());
    std::fflush(stdout);

    if (server.Run(stopFd) == LineServer::End::kLineLost) {
        Report("line lost: " + server.LostReason());
        return kExitFailure;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ProgramOptions options;
    std::string error;
    if (!ParseProgramOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        Report(error);
        std::fprintf(stderr, "Try 'orvante-sim --help'.\n");
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(ProgramUsage().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs(ProgramVersion().c_str(), stdout);
        return 0;
    }
    const UniqueFd stop = BlockEndSignals();
    if (!stop.IsValid()) {
        Report(std::string("signalfd: ") + std::strerror(errno));
        return kExitFailure;
    }
    try {
        return Serve(options, stop.Get());
    } catch (const std::exception& e) {
        Report(e.what());
        return kExitFailure;
    }
}
