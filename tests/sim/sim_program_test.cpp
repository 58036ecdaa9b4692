// orvante-sim as a process: it publishes its port, answers on it, and cleans up on the
// end signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/sim/line_io.h"
#include "tests/sim/module_exchange.h"
#include "tests/support/wait.h"

extern char** environ;

namespace orvante::test {
namespace {

namespace fs = std::filesystem;
using namespace sim_exchange;

// The read end of a pipe whose write end goes to the child.
class Pipe {
public:
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            read_ = fds[0];
            write_ = fds[1];
        }
    }
    ~Pipe() {
        CloseWriteEnd();
        if (read_ >= 0) ::close(read_);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int ReadEnd() const { return read_; }
    int WriteEnd() const { return write_; }
    void CloseWriteEnd() {
        if (write_ >= 0) ::close(write_);
        write_ = -1;
    }

    // Everything up to the first newline, or what came until the pipe closed or the
    // timeout passed.
    std::string ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (line.empty() || line.back() != '\n') {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{read_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            char c;
            if (::read(read_, &c, 1) != 1) break;
            line += c;
        }
        return line;
    }

private:
    int read_ = -1;
    int write_ = -1;
};

// orvante-sim started with its ports directory below `runtimeDir`.
class SimProcess {
public:
    SimProcess(const std::vector<std::string>& args, const std::string& runtimeDir) {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0) env.emplace_back(*e);
        }
        env.push_back("XDG_RUNTIME_DIR=" + runtimeDir);
        std::vector<std::string> argv = {ORVANTE_SIM_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out_.WriteEnd(), STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err_.WriteEnd(), STDERR_FILENO);
        const int result = posix_spawn(&pid_, ORVANTE_SIM_PROGRAM, &actions, nullptr,
                                       Pointers(argv).data(), Pointers(env).data());
        posix_spawn_file_actions_destroy(&actions);
        if (result != 0) pid_ = -1;
        out_.CloseWriteEnd();
        err_.CloseWriteEnd();
    }
    ~SimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    std::string ReadyLine() { return out_.ReadLine(); }
    std::string ErrorLine() { return err_.ReadLine(); }
    void Signal(int signal) { ::kill(pid_, signal); }
    // The exit code, or -1 when it did not exit normally within the timeout.
    int WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        int status = 0;
        const bool ended =
            WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
        if (!ended) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    static std::vector<char*> Pointers(std::vector<std::string>& strings) {
        std::vector<char*> pointers;
        for (std::string& s : strings) pointers.push_back(s.data());
        pointers.push_back(nullptr);
        return pointers;
    }

    Pipe out_;
    Pipe err_;
    pid_t pid_ = -1;
};

// The slave path announced by the ready line, or empty when the line is not as expected.
std::string AnnouncedDevice(const std::string& readyLine, int port, const char* address) {
    const std::string prefix = "orvante-sim: COM" + std::to_string(port) + " -> /dev/pts/";
    const std::string suffix = " (address " + std::string(address) + ")\n";
    if (!readyLine.starts_with(prefix) || !readyLine.ends_with(suffix)) return {};
    const std::string number =
        readyLine.substr(prefix.size(), readyLine.size() - prefix.size() - suffix.size());
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return {};
    return "/dev/pts/" + number;
}

TEST(SimProgram, PublishesItsPortAnswersOnItAndRemovesItOnEveryEndSignal) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        TemporaryDirectory runtime;
        SimProcess sim({}, runtime.Path());
        ASSERT_TRUE(sim.Started());
        const std::string device = AnnouncedDevice(sim.ReadyLine(), 99, "1234");
        ASSERT_FALSE(device.empty()) << strsignal(signal);
        const std::string link = runtime.Path() + "/orvante/ports/COM99";
        EXPECT_EQ(fs::read_symlink(link), device);
        {
            Terminal port(link);
            port.Write(Handshake());
            EXPECT_EQ(port.Read(9), HandshakeReply()) << strsignal(signal);
        }
        sim.Signal(signal);
        EXPECT_EQ(sim.WaitForExit(), 0) << strsignal(signal);
        EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << strsignal(signal);
    }
}

TEST(SimProgram, KeepsTheTimedTasksInItsStateFileAcrossRestarts) {
    TemporaryDirectory runtime;
    const std::string stateFile = runtime.Path() + "/tasks";
    Bytes tasks(27, 0);
    tasks[0] = 1;
    tasks[1] = 5;
    tasks[3] = 10;
    const std::vector<std::string> args = {"--address", "BEEF",         "--port",
                                           "120",       "--state-file", stateFile};
    const std::string link = runtime.Path() + "/orvante/ports/COM120";
    const auto request = [](std::uint8_t command, const Bytes& payload = {}) {
        return Frame(kConsole, 0xBEEF, command, payload);
    };
    {
        SimProcess sim(args, runtime.Path());
        ASSERT_FALSE(AnnouncedDevice(sim.ReadyLine(), 120, "BEEF").empty());
        Terminal port(link);
        port.Write(request(24, tasks));
        EXPECT_EQ(port.Read(10), Frame(0xBEEF, kConsole, 25, {1}));
        sim.Signal(SIGTERM);
        EXPECT_EQ(sim.WaitForExit(), 0);
    }
    SimProcess restarted(args, runtime.Path());
    ASSERT_FALSE(AnnouncedDevice(restarted.ReadyLine(), 120, "BEEF").empty());
    Terminal port(link);
    port.Write(request(22));
    EXPECT_EQ(port.Read(36), Frame(0xBEEF, kConsole, 23, tasks));
}

TEST(SimProgram, RefusesABadCommandLineOrStateFileWithoutPublishing) {
    TemporaryDirectory runtime;
    const std::string garbage = runtime.Path() + "/garbage";
    std::ofstream(garbage) << "\x01\x02 not a state file\n";
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    } kCases[] = {
        {{"--port", "0"}, 2, "--port"},
        {{"--baud"}, 2, "--baud"},
        {{"--frobnicate"}, 2, "--frobnicate"},
        {{"--state-file", garbage}, 1, "state file"},
    };
    for (const auto& c : kCases) {
        SimProcess sim(c.args, runtime.Path());
        ASSERT_TRUE(sim.Started());
        EXPECT_EQ(sim.WaitForExit(), c.exitCode) << c.args[0];
        EXPECT_NE(sim.ErrorLine().find(c.message), std::string::npos) << c.args[0];
    }
    EXPECT_FALSE(fs::exists(runtime.Path() + "/orvante"));
}

}  // namespace
}  // namespace orvante::test
