// The command line of orvante-cli: one subcommand with its arguments, and the common
// options, which may stand before or after it. Everything that can be checked without
// the port (numbers, names, files) is checked here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "functions/ac_code.h"
#include "functions/timed_tasks.h"
#include "session/session.h"

namespace orvante::cli {

enum class Command {
    kPorts,
    kConnect,
    kPing,
    kLearn,
    kSend,
    kCapacity,
    kSetCapacity,
    kTasks,
    kSetTasks,
    kAc,
    kExport,
    kImport,
};

struct CliOptions {
    Command command = Command::kPorts;
    // Common options.
    std::string port;  // "COM<n>" or a device path; empty when not given
    session::LineConfig line;
    std::optional<std::uint16_t> target;
    bool json = false;
    bool verbose = false;
    // Arguments of the command.
    std::optional<std::uint16_t> pingTarget;
    std::uint16_t slot = 0;
    int learnTimeoutSeconds = 30;
    std::uint16_t capacity = 0;
    functions::TimedTasks tasks{};  // tasks set: the tasks read from the file
    functions::AcCodeRequest ac;
    std::string file;  // export and import
    bool verify = false;
    int retries = 1;
};

// The outcome of reading the command line: the options, or an exit status with the
// text to print first (help and version on standard output, an error on standard error).
struct ParsedCommandLine {
    std::optional<CliOptions> options;
    int exitCode = 0;
    std::string output;
    std::string error;
};

// `readInput` reads FILE or, for "-", standard input (tasks set).
ParsedCommandLine ParseCliCommandLine(int argc, const char* const* argv);

}  // namespace orvante::cli
