// orvante-cli provision PROFILE: the command around the provisioning run (its options,
// its progress on standard error and its report on standard output).
#pragma once

#include <string>

#include "cli/command_table.h"

namespace CLI {
class App;
}

namespace orvante::cli {

void DefineProvision(CLI::App& command, CliOptions& options, CommandValues& values);
std::string FinishProvision(const CommandValues& values, CliOptions& options);
int RunProvision(CommandContext& context);

}  // namespace orvante::cli
