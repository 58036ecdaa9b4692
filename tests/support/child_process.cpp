#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "tests/support/wait.h"

extern char** environ;

namespace orvante::test {

namespace {

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::vector<std::string> ChangedEnvironment(const ChildProcess::EnvChanges& changes) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (!changes.contains(entry.substr(0, entry.find('=')))) env.push_back(entry);
    }
    for (const auto& [name, value] : changes) {
        if (value) env.push_back(name + "=" + *value);
    }
    return env;
}

}  // namespace

Pipe::Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
        read_ = fds[0];
        write_ = fds[1];
    }
}

Pipe::~Pipe() {
    CloseWriteEnd();
    if (read_ >= 0) ::close(read_);
}

void Pipe::CloseWriteEnd() {
    if (write_ >= 0) ::close(write_);
    write_ = -1;
}

std::string Pipe::ReadLine(std::chrono::milliseconds timeout) {
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

std::string Pipe::ReadAll(std::chrono::milliseconds timeout) {
    std::string text;
    for (std::string line = ReadLine(timeout); !line.empty(); line = ReadLine(timeout)) {
        text += line;
    }
    return text;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const EnvChanges& env) {
    std::vector<std::string> environment = ChangedEnvironment(env);
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_.WriteEnd(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_.WriteEnd(), STDERR_FILENO);
    const int result = posix_spawn(&pid_, program.c_str(), &actions, nullptr, Pointers(argv).data(),
                                   Pointers(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) pid_ = -1;
    out_.CloseWriteEnd();
    err_.CloseWriteEnd();
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}

std::optional<ChildProcess::End> ChildProcess::WaitForEnd(std::chrono::milliseconds timeout) {
    int status = 0;
    if (pid_ <= 0 || !WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout)) {
        return std::nullopt;
    }
    pid_ = -1;
    if (WIFEXITED(status)) return End{true, WEXITSTATUS(status)};
    return End{false, WIFSIGNALED(status) ? WTERMSIG(status) : -1};
}

int ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
    const std::optional<End> end = WaitForEnd(timeout);
    return end && end->exited ? end->code : -1;
}

}  // namespace orvante::test
