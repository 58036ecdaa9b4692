// The commands of orvante-cli as one table: each entry names a command and carries what
// it takes on the command line and what it does. The parser and the runner read it, so
// a command is added in one place.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace orvante::cli {

struct CliOptions;
class CommandContext;

// Values CLI11 reads as text or raw numbers before a command's Finish turns them into
// CliOptions.
struct CommandValues {
    std::string pingTarget;
    std::string tasksFile;
    std::string profileFile;
    std::vector<std::string> provisionPorts;
    bool confirmed = false;
    int brand = 0, power = 0, mode = 0, temperature = 16, fan = 0, swing = 0;
};

struct CliCommand {
    const char* name;     // as typed; a second word names a subcommand ("capacity set")
    const char* summary;  // one line, in the program's list of commands
    const char* details;  // a few lines under the command's own help; may be empty
    bool opensPort;       // every command but 'ports' opens the port and runs the handshake
    // Adds the command's arguments and options to its subcommand.
    void (*define)(CLI::App& command, CliOptions& options, CommandValues& values);
    // After parsing, before any port is opened: checks what was given and completes
    // `options`. Returns the usage error, or nothing.
    std::string (*finish)(const CommandValues& values, CliOptions& options);
    // Runs the command once the handshake is answered (for 'ports', without a port).
    int (*run)(CommandContext& context);
    // When the command failed, wherever that was: what the operator must know besides
    // (an export's file).
    void (*afterFailure)(CommandContext& context);
};

std::span<const CliCommand> CliCommands();

}  // namespace orvante::cli
