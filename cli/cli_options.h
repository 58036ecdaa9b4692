// The command line of orvante-cli: one subcommand with its arguments, and the common
// options, which may stand before or after it. Everything that can be checked without
// the port (numbers, names, files) is checked here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_table.h"
#include "cli/provision_profile.h"
#include "functions/ac_code.h"
#include "functions/timed_tasks.h"
#include "session/session.h"

namespace orvante::cli {

struct CliOptions {
    const CliCommand* command = nullptr;
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
    std::vector<std::uint8_t> importImage;  // import: the file, read before the port is opened
    bool exportFileExisted = false;         // export: FILE was there before
    // Which line settings and resends were given on the command line (they win over a
    // provisioning profile's).
    bool baudGiven = false, parityGiven = false, dataBitsGiven = false, stopBitsGiven = false;
    bool retriesGiven = false;
    // provision: the ports (or every listed one that answers), modules at once, logs.
    std::vector<std::string> ports;
    bool allPorts = false;
    int jobs = 0;
    std::string logDir;
    ProvisionProfile profile;
};

// The outcome of reading the command line: the options, or an exit status with the
// text to print first (help and version on standard output, an error on standard error).
struct ParsedCommandLine {
    std::optional<CliOptions> options;
    int exitCode = 0;
    std::string output;
    std::string error;
};

ParsedCommandLine ParseCliCommandLine(int argc, const char* const* argv);

// A module address as typed: one to four hexadecimal digits, not 0. The error text, or
// nothing (CLI11's validator form).
std::string CheckHexAddress(std::string& text);
std::uint16_t HexAddress(std::string text);

}  // namespace orvante::cli
