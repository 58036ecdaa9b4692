// orvante-cli: the module's functions from a terminal and from scripts.
#include <unistd.h>

#include <cstdio>

#include "cli/cli_commands.h"
#include "cli/cli_options.h"

int main(int argc, char** argv) {
    using namespace orvante::cli;
    const ParsedCommandLine parsed = ParseCliCommandLine(argc, argv);
    std::fputs(parsed.output.c_str(), stdout);
    std::fputs(parsed.error.c_str(), stderr);
    if (!parsed.options) return parsed.exitCode;
    return RunCliCommand(*parsed.options, CliStreams{stdout, stderr, ::isatty(STDERR_FILENO) == 1});
}
