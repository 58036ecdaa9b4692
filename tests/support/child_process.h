// A program run as a child process for tests: its standard output and error come back
// through pipes, its environment is the test's with some variables changed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvante::test {

// The read end of a pipe whose write end goes to the child.
class Pipe {
public:
    Pipe();
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int WriteEnd() const { return write_; }
    void CloseWriteEnd();

    // Everything up to the first newline, or what came until the pipe closed or the
    // timeout passed.
    std::string ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Everything until the pipe closes (the child has ended) or the timeout passes.
    std::string ReadAll(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    int read_ = -1;
    int write_ = -1;
};

class ChildProcess {
public:
    // Environment changes: a value sets the variable, nothing removes it.
    using EnvChanges = std::map<std::string, std::optional<std::string>>;

    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const EnvChanges& env = {});
    // Kills the child if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    Pipe& Out() { return out_; }
    Pipe& Err() { return err_; }
    void Signal(int signal);

    struct End {
        bool exited = false;  // false: killed by a signal
        int code = -1;        // the exit status, or the signal
    };
    // How the child ended; nothing when it still runs after the timeout.
    std::optional<End> WaitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // The exit status, or -1 when it did not exit normally within the timeout.
    int WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    Pipe out_;
    Pipe err_;
    pid_t pid_ = -1;
};

}  // namespace orvante::test
