// orvante-cli: the module's functions from a terminal and from scripts.
#include <unistd.h>

#include "cli/cli_commands.h"

int main(int argc, char** argv) {
    return orvante::cli::RunCliProgram(argc, argv, ::isatty(STDERR_FILENO) == 1);
}
