// Runs one orvante-cli command against a module through a headless session.
#pragma once

#include <cstdio>

#include "cli/cli_options.h"

namespace orvante::cli {

struct CliStreams {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    bool errIsTerminal = false;  // progress lines and hints only on a terminal
};

// Returns the exit status.
int RunCliCommand(const CliOptions& options, const CliStreams& streams);

}  // namespace orvante::cli
