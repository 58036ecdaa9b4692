// Runs orvante-cli: one command against a module through a headless session.
#pragma once

#include <cstdio>

#include "cli/cli_options.h"
#include "library/library_transfer.h"

namespace orvante::cli {

struct CliStreams {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    bool errIsTerminal = false;  // progress lines and hints only on a terminal
};

// Returns the exit status. `clock` times the module's answers (tests move one of their own).
int RunCliCommand(const CliOptions& options, const CliStreams& streams,
                  library::TransferClock& clock = library::SteadyTransferClock());

// The whole program on standard output and error: reads the command line and runs its
// command. Whatever goes wrong ends in one line on standard error and a status, never
// in an abort: an exception (status 1), output that cannot be written (status 1).
int RunCliProgram(int argc, const char* const* argv, bool errIsTerminal);

}  // namespace orvante::cli
